// What kelinfo tells about a plug-in module: its identity, menu merging and
// commands, as the framework's reader finds them in the module's metadata.
#pragma once

#include "FormTree.h"
#include "ModuleMetadata.h"

#include <keltk/Utf8.h>
#include <kelvarin/Discovery.h>
#include <string>
#include <string_view>
#include <vector>

namespace kelinfo {

using kelvarin::CommandParamSummary;
using kelvarin::CommandSummary;
using kelvarin::FindElfSection;
using kelvarin::FindItemProperty;
using kelvarin::FormItem;
using kelvarin::FormObject;
using kelvarin::FormProperty;
using kelvarin::FormValue;
using kelvarin::kMetadataSection;
using kelvarin::MenuMergingSummary;
using kelvarin::MetadataError;
using kelvarin::ModuleMetadata;
using kelvarin::ParseFormTree;
using kelvarin::ParseMetadata;
using kelvarin::PluginSummary;
using kelvarin::ReadModuleMetadata;
using kelvarin::ReadModuleMetadataFile;
using kelvarin::Summarize;

// The listing for a terminal: control characters (and bytes that are no UTF-8)
// of the module's texts are shown escaped ("\x1b"), so that a module cannot
// drive the terminal. With a `file`, the listing starts with a "File:" line.
std::string FormatText(const PluginSummary& summary, std::string_view file = {});
// One JSON object, its keys in camelCase; with a `file`, a "file" key first.
std::string FormatJson(const PluginSummary& summary, std::string_view file = {});

// What a terminal is shown of a module's text; tavlo's listing shows it alike.
using keltk::ShownText;
// `text` as a JSON string literal, quotes included.
std::string JsonString(std::string_view text);

// A folder's modules (DescribePluginFolder), each with its state and, when its
// metadata could be read, its summary.
std::string FormatFolderText(const std::vector<kelvarin::TPluginFileInfo>& list);
std::string FormatFolderJson(const std::vector<kelvarin::TPluginFileInfo>& list);

} // namespace kelinfo
