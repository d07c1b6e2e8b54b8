// What kelinfo tells about a plug-in module: its identity, menu merging and
// commands, taken from the stored form of its plug-in class.
#pragma once

#include "ModuleMetadata.h"

#include <string>
#include <string_view>
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

struct PluginSummary {
  std::string frameworkVersion;
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

// Finds the plug-in's form among the module's forms (the one whose root stores
// plug-in settings) and reads it. Raises MetadataError when there is none and
// keltk::EReadError for malformed form text.
PluginSummary Summarize(const ModuleMetadata& meta);

// The listing for a terminal: control characters (and bytes that are no UTF-8)
// of the module's texts are shown escaped ("\x1b"), so that a module cannot
// drive the terminal. With a `file`, the listing starts with a "File:" line.
std::string FormatText(const PluginSummary& summary, std::string_view file = {});
// One JSON object, its keys in camelCase; with a `file`, a "file" key first.
std::string FormatJson(const PluginSummary& summary, std::string_view file = {});

// `text` with control characters, DEL, the C1 controls and bytes that are not
// UTF-8 written as escapes: "\xNN" for a byte, "\u0080" to "\u009f" for C1.
std::string ShownText(std::string_view text);

} // namespace kelinfo
