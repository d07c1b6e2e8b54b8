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
  // Converts each word to the declared type at its position. Words past the
  // declared types stay texts, so that the command's own count check answers.
  // Raises ScriptError for a word that does not read as its type.
  CommandArguments(const std::vector<kelvarin::TParamType>& types,
                   const std::vector<std::string>& words);
  CommandArguments(const CommandArguments&) = delete;
  CommandArguments& operator=(const CommandArguments&) = delete;

  keltk::TVarRecs values() const { return values_; }

  // The declared types of a command's parameters, in order (none for null).
  static std::vector<kelvarin::TParamType> TypesOf(const kelvarin::TCommandParams* params);

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
