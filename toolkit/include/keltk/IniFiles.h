// Profile (INI) files: sections of name=value lines.
//
// The file is read once, when the object is made: sections in brackets, name=value
// lines, ';' comment lines and blank lines; CR LF or LF line ends, with or without a
// final one, and an optional UTF-8 byte-order mark. Names and values are trimmed of
// surrounding blanks; the bytes in between are kept as they are.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace keltk {

class TStrings;

class TIniFile {
public:
  // Reads `fileName` if it exists; a missing or unreadable file reads as empty.
  explicit TIniFile(std::string fileName);

  const std::string& FileName() const { return fileName_; }
  bool SectionExists(const std::string& section) const;
  // Section and name are matched without regard to case.
  std::string ReadString(const std::string& section, const std::string& ident,
                         const std::string& defaultValue) const;
  // A decimal or $hex integer; the default when missing or not a number.
  long long ReadInteger(const std::string& section, const std::string& ident,
                        long long defaultValue) const;
  // "0" is False, any other number True; the default when missing or not a number.
  bool ReadBool(const std::string& section, const std::string& ident, bool defaultValue) const;
  bool ValueExists(const std::string& section, const std::string& ident) const;
  // Every name=value line of the section, in file order, into `strings` (cleared first).
  void ReadSectionValues(const std::string& section, TStrings* strings) const;
  // The same as pairs.
  std::vector<std::pair<std::string, std::string>> SectionValues(const std::string& section) const;
  // Section names in file order.
  std::vector<std::string> SectionNames() const;

  // Parses `contents` as the text of a profile file (what the constructor does with
  // the file's bytes).
  void LoadFromText(std::string_view contents);

private:
  struct Section {
    std::string name;
    std::vector<std::pair<std::string, std::string>> values;
  };
  const Section* findSection(const std::string& section) const;

  std::string fileName_;
  std::vector<Section> sections_;
};

} // namespace keltk
