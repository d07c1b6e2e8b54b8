// What the plug-in modules in a folder are, read from their files without
// loading them: no code of a module runs, nothing is mapped.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kelvarin {

struct CommandParamSummary {
  std::string name;
  std::string type; // a TParamType name; ptInteger when not stored
};

struct CommandSummary {
  std::string name;
  std::string caption;
  std::string hint;
  std::vector<CommandParamSummary> params;
  // The switches a command always stores; True when a form leaves one out.
  bool checkParamType = true;
  bool checkParamCount = true;
  bool allowNullInAllParams = true;
};

struct MenuMergingSummary {
  bool automatic = false;
  std::string mergeType = "mtCreateChildItem";
  std::string targetMenu = "tmPluginsTopLevelMenu";
  std::string valueToSearch;
  std::string sourceMenu; // a component name, empty for none
};

// A plug-in module as its metadata section describes it.
struct PluginSummary {
  std::string frameworkVersion; // the version the module was built against
  std::string pluginClass;
  std::string deepName;
  std::string version;
  std::string author;
  std::string copyright;
  std::vector<std::string> description; // lines
  long long maxInstances = 1;
  MenuMergingSummary menuMerging;
  std::vector<CommandSummary> commands;
};

enum class TPluginFileState : std::uint8_t {
  Loadable,
  OtherFrameworkVersion, // built against another framework version
  NotAPlugin,            // no plug-in module for this host; Reason says why
  Damaged,               // Reason says what is wrong
  AlreadyLoaded,         // the manager that described the folder has it loaded
};

struct TPluginFileInfo {
  std::string FileName; // as found: the folder joined with the file's name
  TPluginFileState State = TPluginFileState::NotAPlugin;
  std::string Reason;   // NotAPlugin and Damaged: why; OtherFrameworkVersion: both versions
  PluginSummary Plugin; // empty unless the metadata could be read
};

// "loadable", "other-version", "not-a-plugin", "damaged", "loaded".
const char* PluginFileStateName(TPluginFileState state);

// Describes one file. Never raises: what the file is not shows in State and Reason.
TPluginFileInfo DescribePluginFile(const std::string& path);

// Describes every regular file in `folder` whose name ends in "." + `extension`,
// sorted by name, and every link so named that leads nowhere or loops (damaged,
// the reason says which). An empty list for a folder that cannot be read.
std::vector<TPluginFileInfo> DescribePluginFolder(const std::string& folder,
                                                  const std::string& extension);

} // namespace kelvarin
