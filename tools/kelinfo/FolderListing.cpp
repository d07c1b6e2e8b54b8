#include "PluginSummary.h"

#include <fmt/format.h>
#include <keltk/StrUtils.h>

namespace kelinfo {

namespace {

bool described(const kelvarin::TPluginFileInfo& info) {
  return info.State == kelvarin::TPluginFileState::Loadable ||
         info.State == kelvarin::TPluginFileState::OtherFrameworkVersion ||
         info.State == kelvarin::TPluginFileState::AlreadyLoaded;
}

std::string indented(std::string_view text, std::string_view indent) {
  std::string out;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    out += fmt::format("{}{}\n", indent, text.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

} // namespace

std::string FormatFolderText(const std::vector<kelvarin::TPluginFileInfo>& list) {
  std::string out;
  for (const kelvarin::TPluginFileInfo& info : list) {
    if (!out.empty()) out += '\n';
    out += fmt::format("{}: {}\n", ShownText(keltk::ExtractFileName(info.FileName)),
                       kelvarin::PluginFileStateName(info.State));
    if (!info.Reason.empty())
      out += fmt::format("  Reason:            {}\n", ShownText(info.Reason));
    if (described(info)) out += indented(FormatText(info.Plugin), "  ");
  }
  return out;
}

std::string FormatFolderJson(const std::vector<kelvarin::TPluginFileInfo>& list) {
  std::string out = "[";
  for (const kelvarin::TPluginFileInfo& info : list) {
    out += out.size() > 1 ? ",\n" : "\n";
    const std::string plugin = described(info) ? FormatJson(info.Plugin) : "null";
    out += fmt::format("  {{\"file\": {}, \"state\": {}, \"reason\": {}, \"plugin\": {}}}",
                       JsonString(info.FileName),
                       JsonString(kelvarin::PluginFileStateName(info.State)),
                       JsonString(info.Reason), keltk::Trim(indented(plugin, "  ")));
  }
  out += list.empty() ? "]\n" : "\n]\n";
  return out;
}

} // namespace kelinfo
