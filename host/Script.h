// Script files that drive tavlo without a person: one command per line, words
// split on blanks, double quotes group words ("" is an empty word), blank lines
// and lines starting with # skipped.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tavlo {

struct ScriptLine {
  int number = 0; // 1-based line number in the file
  std::vector<std::string> words;
  // Why the line could not be split (then `words` is empty); it fails when its
  // turn comes, after the lines before it have run.
  std::string error;
};

// A line that cannot be carried out; the message says why.
class ScriptError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// The words of one line. Raises ScriptError for an unterminated quote.
std::vector<std::string> SplitScriptWords(std::string_view line);

// Every line that holds a command, in order.
std::vector<ScriptLine> ParseScript(std::string_view text);

} // namespace tavlo
