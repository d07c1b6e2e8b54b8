// Profile (INI) files: sections of name=value lines.
#pragma once

#include <string>
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
  // Every name=value line of the section, in file order, into `strings` (cleared first).
  void ReadSectionValues(const std::string& section, TStrings* strings) const;
  // The same as pairs.
  std::vector<std::pair<std::string, std::string>> SectionValues(const std::string& section) const;

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
