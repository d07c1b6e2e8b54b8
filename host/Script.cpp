#include "Script.h"

namespace tavlo {

namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

} // namespace

std::vector<std::string> SplitScriptWords(std::string_view line) {
  std::vector<std::string> words;
  std::size_t pos = 0;
  while (pos < line.size()) {
    if (isBlank(line[pos])) {
      ++pos;
      continue;
    }
    std::string word;
    // A word runs to the next blank outside quotes; quoted parts join the
    // unquoted parts next to them, as in a shell.
    while (pos < line.size() && !isBlank(line[pos])) {
      if (line[pos] != '"') {
        word += line[pos++];
        continue;
      }
      const std::size_t close = line.find('"', pos + 1);
      if (close == std::string_view::npos) throw ScriptError("missing closing quote");
      word.append(line.substr(pos + 1, close - pos - 1));
      pos = close + 1;
    }
    words.push_back(std::move(word));
  }
  return words;
}

std::vector<ScriptLine> ParseScript(std::string_view text) {
  std::vector<ScriptLine> script;
  int number = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    start = end + 1;
    ++number;

    std::size_t first = 0;
    while (first < line.size() && isBlank(line[first]))
      ++first;
    if (first == line.size() || line[first] == '#') continue;

    ScriptLine parsed;
    parsed.number = number;
    try {
      parsed.words = SplitScriptWords(line);
    } catch (const ScriptError& e) {
      parsed.error = e.what();
    }
    script.push_back(std::move(parsed));
  }
  return script;
}

} // namespace tavlo
