// Script words turned into the tagged arguments of one command call.
#pragma once

#include <cstdint>
#include <deque>
#include <keltk/VarRec.h>
#include <kelvarin/Commands.h>
#include <string>
#include <vector>

namespace tavlo {

// Owns the values that the arguments point to, so it must outlive the call.
class CommandArguments {
public:
  // Converts each word to the declared type of the parameter at its position.
  // Words past the declared parameters (or all of them when `params` is null)
  // stay texts, so that the command's own count check answers. Raises
  // ScriptError for a word that does not read as its parameter's type.
  CommandArguments(const kelvarin::TCommandParams* params, const std::vector<std::string>& words);
  CommandArguments(const CommandArguments&) = delete;
  CommandArguments& operator=(const CommandArguments&) = delete;

  keltk::TVarRecs values() const { return values_; }

private:
  keltk::TVarRec convert(kelvarin::TParamType type, const std::string& word, int position);

  // Deques keep their elements in place as they grow.
  std::deque<std::string> texts_;
  std::deque<std::u16string> wideTexts_;
  std::deque<std::vector<unsigned char>> shortStrings_;
  std::deque<long double> extendeds_;
  std::deque<std::int64_t> int64s_;
  std::deque<keltk::TVarRec> variants_;
  std::vector<keltk::TVarRec> values_;
};

} // namespace tavlo
