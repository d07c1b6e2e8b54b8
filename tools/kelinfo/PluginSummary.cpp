#include "PluginSummary.h"

#include "FormTree.h"

#include <fmt/format.h>
#include <keltk/StrUtils.h>

namespace kelinfo {

namespace {

std::string jsonString(std::string_view text) {
  std::string out = "\"";
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    switch (ch) {
    case '"':
      out += "\\\"";
      break;
    case '\\':
      out += "\\\\";
      break;
    case '\n':
      out += "\\n";
      break;
    case '\r':
      out += "\\r";
      break;
    case '\t':
      out += "\\t";
      break;
    default:
      if (c < 0x20)
        out += fmt::format("\\u{:04x}", c);
      else
        out += ch;
    }
  }
  out += '"';
  return out;
}

} // namespace

std::string FormatText(const PluginSummary& s) {
  std::string out;
  auto line = [&](std::string_view label, std::string_view value) {
    out += fmt::format("{:<19}{}\n", fmt::format("{}:", label), value);
  };
  line("Framework version", s.frameworkVersion);
  line("Plug-in class", s.pluginClass);
  line("DeepName", s.deepName);
  line("Version", s.version);
  line("Author", s.author);
  if (s.description.empty()) line("Description", "");
  for (std::size_t i = 0; i < s.description.size(); ++i)
    line(i == 0 ? "Description" : "", s.description[i]);
  line("MaxInstances", std::to_string(s.maxInstances));
  out += "Menu merging:\n";
  const MenuMergingSummary& mm = s.menuMerging;
  out += fmt::format("  Automatic:       {}\n", mm.automatic ? "True" : "False");
  out += fmt::format("  MergeType:       {}\n", mm.mergeType);
  out += fmt::format("  TargetMenu:      {}\n", mm.targetMenu);
  out += fmt::format("  ValueToSearch:   {}\n", mm.valueToSearch);
  out += fmt::format("  SourceMenu:      {}\n", mm.sourceMenu);
  out += fmt::format("Commands: {}\n", s.commands.size());
  for (const CommandSummary& c : s.commands) {
    std::string params;
    for (const auto& p : c.params) {
      if (!params.empty()) params += ", ";
      params += fmt::format("{}: {}", p.name, p.type);
    }
    out += fmt::format("  {}({})\n", c.name, params);
    if (!c.caption.empty()) out += fmt::format("    Caption: {}\n", c.caption);
    if (!c.hint.empty()) out += fmt::format("    Hint:    {}\n", c.hint);
  }
  return out;
}

std::string FormatJson(const PluginSummary& s) {
  std::string description;
  for (const auto& d : s.description)
    description += (description.empty() ? "" : ", ") + jsonString(d);
  std::string commands;
  for (const CommandSummary& c : s.commands) {
    std::string params;
    for (const auto& p : c.params)
      params += fmt::format("{}{{\"name\": {}, \"type\": {}}}", params.empty() ? "" : ", ",
                            jsonString(p.name), jsonString(p.type));
    commands +=
        fmt::format("{}\n    {{\"name\": {}, \"caption\": {}, \"hint\": {}, \"params\": [{}]}}",
                    commands.empty() ? "" : ",", jsonString(c.name), jsonString(c.caption),
                    jsonString(c.hint), params);
  }
  const MenuMergingSummary& mm = s.menuMerging;
  return fmt::format(
      "{{\n"
      "  \"frameworkVersion\": {},\n"
      "  \"pluginClass\": {},\n"
      "  \"DeepName\": {},\n"
      "  \"Version\": {},\n"
      "  \"Author\": {},\n"
      "  \"Description\": [{}],\n"
      "  \"MaxInstances\": {},\n"
      "  \"MenuMerging\": {{\"Automatic\": {}, \"MergeType\": {}, \"TargetMenu\": {}, "
      "\"ValueToSearch\": {}, \"SourceMenu\": {}}},\n"
      "  \"Commands\": [{}{}]\n"
      "}}\n",
      jsonString(s.frameworkVersion), jsonString(s.pluginClass), jsonString(s.deepName),
      jsonString(s.version), jsonString(s.author), description, s.maxInstances,
      mm.automatic ? "true" : "false", jsonString(mm.mergeType), jsonString(mm.targetMenu),
      jsonString(mm.valueToSearch), jsonString(mm.sourceMenu), commands,
      commands.empty() ? "" : "\n  ");
}

std::string JsonString(std::string_view text) {
  return jsonString(text);
}

} // namespace kelinfo
