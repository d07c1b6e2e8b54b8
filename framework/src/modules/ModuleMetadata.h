// The metadata a plug-in module carries in its .kelvarin.meta section, read from
// the file alone: no loading, no code of the module runs.
#pragma once

#include "kelvarin/Discovery.h"

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace kelvarin {

// A file that is not a plug-in module with readable metadata; the message says why.
class MetadataError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// The file is sound but no plug-in module for this host (not ELF, no metadata
// section, another machine); the base class alone means a damaged one.
class NotAPluginError : public MetadataError {
public:
  using MetadataError::MetadataError;
};

// The module does not export an entry point a manager looks up (GetPluginInfo,
// RegisterKelvarin): it would be refused with E004. The message names them.
class MissingEntryPointError : public NotAPluginError {
public:
  using NotAPluginError::NotAPluginError;
};

inline constexpr std::string_view kMetadataSection = ".kelvarin.meta";

struct ModuleMetadata {
  std::string versionRecord;      // "ProdVersion=...\r\n", as GetPluginInfo answers
  std::vector<std::string> forms; // stored form texts, in build order
};

// The version a version record names: the value of its first ProdVersion line
// (the name in any case); empty when there is none.
std::string VersionInRecord(std::string_view record);

// The contents of section `name` of an ELF64 little-endian file. Every offset and
// size is checked against `file`; raises MetadataError when the file is not
// such an ELF file or has no such section.
std::span<const std::uint8_t> FindElfSection(std::span<const std::uint8_t> file,
                                             std::string_view name);

// Splits the section's records; raises MetadataError for anything malformed.
ModuleMetadata ParseMetadata(std::span<const std::uint8_t> section);

// Both steps on a file's bytes, then the module's exported symbols: raises
// MissingEntryPointError when an entry point a manager needs is not among them.
ModuleMetadata ReadModuleMetadata(std::span<const std::uint8_t> file);

// The metadata of the module file `path`, reading only its headers, section
// table, metadata section and dynamic symbols. Raises MetadataError for anything
// but a regular file, for a module the manager would refuse to load
// (CheckModuleFile), and for what ReadModuleMetadata refuses. `opened` (when
// given) receives the status of the file that was read, for callers that would
// otherwise stat it again; `listedRegular` tells that a folder listing has just
// named it a regular file.
ModuleMetadata ReadModuleMetadataFile(const std::string& path, struct stat* opened = nullptr,
                                      bool listedRegular = false);

// Describes the files of `folder` as DescribePluginFolder does; raises
// MetadataError with the system's reason when the folder cannot be read.
std::vector<TPluginFileInfo> ReadPluginFolder(const std::string& folder,
                                              const std::string& extension);

// Finds the plug-in's form among the module's forms (the one whose root stores
// plug-in settings) and reads it. Raises NotAPluginError when there is none and
// keltk::EReadError for malformed form text.
PluginSummary Summarize(const ModuleMetadata& meta);

} // namespace kelvarin
