#include "keltk/IniFiles.h"

#include "keltk/StrUtils.h"
#include "keltk/Strings.h"

#include <charconv>
#include <fstream>
#include <optional>
#include <sstream>

namespace keltk {

namespace {

std::string readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::ostringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

std::optional<long long> toInteger(const std::string& text) {
  std::string_view s = text;
  bool negative = false;
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  int base = 10;
  if (!s.empty() && s[0] == '$') {
    base = 16;
    s.remove_prefix(1);
  } else if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  if (s.empty()) return std::nullopt;
  long long value = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, base);
  if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return negative ? -value : value;
}

} // namespace

TIniFile::TIniFile(std::string fileName) : fileName_(std::move(fileName)) {
  LoadFromText(readWholeFile(fileName_));
}

void TIniFile::LoadFromText(std::string_view contents) {
  sections_.clear();
  if (contents.substr(0, 3) == "\xEF\xBB\xBF") contents.remove_prefix(3);
  Section* current = nullptr;
  std::size_t pos = 0;
  while (pos < contents.size()) {
    std::size_t end = contents.find('\n', pos);
    if (end == std::string_view::npos) end = contents.size();
    const std::string line = Trim(contents.substr(pos, end - pos)); // drops a CR too
    pos = end + 1;
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      const std::size_t close = line.find(']');
      const std::string name = Trim(std::string_view(line).substr(
          1, close == std::string::npos ? std::string::npos : close - 1));
      sections_.push_back(Section{name, {}});
      current = &sections_.back();
      continue;
    }
    const std::size_t eq = line.find('=');
    if (current == nullptr || eq == std::string::npos) continue;
    current->values.emplace_back(Trim(std::string_view(line).substr(0, eq)),
                                 Trim(std::string_view(line).substr(eq + 1)));
  }
}

const TIniFile::Section* TIniFile::findSection(const std::string& section) const {
  for (const Section& s : sections_)
    if (SameText(s.name, section)) return &s;
  return nullptr;
}

bool TIniFile::SectionExists(const std::string& section) const {
  return findSection(section) != nullptr;
}

bool TIniFile::ValueExists(const std::string& section, const std::string& ident) const {
  const Section* s = findSection(section);
  if (s == nullptr) return false;
  for (const auto& [name, value] : s->values)
    if (SameText(name, ident)) return true;
  return false;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& ident,
                                 const std::string& defaultValue) const {
  const Section* s = findSection(section);
  if (s == nullptr) return defaultValue;
  for (const auto& [name, value] : s->values)
    if (SameText(name, ident)) return value;
  return defaultValue;
}

long long TIniFile::ReadInteger(const std::string& section, const std::string& ident,
                                long long defaultValue) const {
  return toInteger(ReadString(section, ident, "")).value_or(defaultValue);
}

bool TIniFile::ReadBool(const std::string& section, const std::string& ident,
                        bool defaultValue) const {
  const auto n = toInteger(ReadString(section, ident, ""));
  return n ? *n != 0 : defaultValue;
}

void TIniFile::ReadSectionValues(const std::string& section, TStrings* strings) const {
  if (strings == nullptr) return;
  strings->BeginUpdate();
  strings->Clear();
  if (const Section* s = findSection(section))
    for (const auto& [name, value] : s->values)
      strings->Add(name + "=" + value);
  strings->EndUpdate();
}

std::vector<std::pair<std::string, std::string>>
TIniFile::SectionValues(const std::string& section) const {
  const Section* s = findSection(section);
  return s == nullptr ? std::vector<std::pair<std::string, std::string>>{} : s->values;
}

std::vector<std::string> TIniFile::SectionNames() const {
  std::vector<std::string> names;
  for (const Section& s : sections_)
    names.push_back(s.name);
  return names;
}

} // namespace keltk
