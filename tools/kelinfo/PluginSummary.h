// What kelinfo tells about a plug-in module: its identity, menu merging and
// commands, taken from the stored form of its plug-in class.
#pragma once

#include "ModuleMetadata.h"

#include <string>
#include <vector>

namespace kelinfo {

struct CommandParamSummary {
  std::string name;
  std::string type; // a TParamType name; ptInteger when not stored
};

struct CommandSummary {
  std::string name;
  std::string caption;
  std::string hint;
  std::vector<CommandParamSummary> params;
};

struct MenuMergingSummary {
  bool automatic = false;
  std::string mergeType = "mtCreateChildItem";
  std::string targetMenu = "tmPluginsTopLevelMenu";
  std::string valueToSearch;
  std::string sourceMenu; // a component name, empty for none
};

struct PluginSummary {
  std::string frameworkVersion;
  std::string pluginClass;
  std::string deepName;
  std::string version;
  std::string author;
  std::vector<std::string> description; // lines
  long long maxInstances = 1;
  MenuMergingSummary menuMerging;
  std::vector<CommandSummary> commands;
};

// Finds the plug-in's form among the module's forms (the one whose root stores
// plug-in settings) and reads it. Raises MetadataError when there is none and
// keltk::EReadError for malformed form text.
PluginSummary Summarize(const ModuleMetadata& meta);

std::string FormatText(const PluginSummary& summary);
std::string FormatJson(const PluginSummary& summary);

} // namespace kelinfo
