#include "PluginSummary.h"

#include "FormTree.h"

#include <fmt/format.h>
#include <keltk/StrUtils.h>
#include <keltk/Utf8.h>

namespace kelinfo {

namespace {

// The code point of the well-formed UTF-8 sequence at text[i] and its length;
// 0 when none starts there (a stray byte, an overlong form, a surrogate).
std::size_t decodeAt(std::string_view text, std::size_t i, char32_t& cp) {
  const std::size_t n = keltk::Utf8SequenceLength(text, i);
  cp = n == 0 ? static_cast<unsigned char>(text[i]) : keltk::DecodeUtf8(text, i, n);
  return n;
}

bool isControl(char32_t cp) {
  return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F);
}

std::string jsonString(std::string_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    char32_t cp = 0;
    const std::size_t n = decodeAt(text, i, cp);
    if (n == 0) { // a stray byte: kept as the code point of that value
      out += fmt::format("\\u{:04x}", static_cast<unsigned char>(text[i++]));
      continue;
    }
    if (cp == '"' || cp == '\\')
      out += fmt::format("\\{}", static_cast<char>(cp));
    else if (cp == '\n')
      out += "\\n";
    else if (cp == '\r')
      out += "\\r";
    else if (cp == '\t')
      out += "\\t";
    else if (isControl(cp))
      out += fmt::format("\\u{:04x}", static_cast<unsigned>(cp));
    else
      out.append(text.substr(i, n));
    i += n;
  }
  out += '"';
  return out;
}

const char* jsonBool(bool value) {
  return value ? "true" : "false";
}

const char* textBool(bool value) {
  return value ? "True" : "False";
}

} // namespace

std::string FormatText(const PluginSummary& s, std::string_view file) {
  std::string out;
  auto line = [&](std::string_view label, std::string_view value) {
    out +=
        fmt::format("{:<19}{}\n", label.empty() ? "" : fmt::format("{}:", label), ShownText(value));
  };
  if (!file.empty()) line("File", file);
  line("Framework version", s.frameworkVersion);
  line("Plug-in class", s.pluginClass);
  line("DeepName", s.deepName);
  line("Version", s.version);
  line("Author", s.author);
  line("Copyright", s.copyright);
  if (s.description.empty()) line("Description", "");
  for (std::size_t i = 0; i < s.description.size(); ++i)
    line(i == 0 ? "Description" : "", s.description[i]);
  line("MaxInstances", std::to_string(s.maxInstances));
  out += "Menu merging:\n";
  const MenuMergingSummary& mm = s.menuMerging;
  out += fmt::format("  Automatic:       {}\n", textBool(mm.automatic));
  out += fmt::format("  MergeType:       {}\n", ShownText(mm.mergeType));
  out += fmt::format("  TargetMenu:      {}\n", ShownText(mm.targetMenu));
  out += fmt::format("  ValueToSearch:   {}\n", ShownText(mm.valueToSearch));
  out += fmt::format("  SourceMenu:      {}\n", ShownText(mm.sourceMenu));
  out += fmt::format("Commands: {}\n", s.commands.size());
  for (const CommandSummary& c : s.commands) {
    std::string params;
    for (const auto& p : c.params) {
      if (!params.empty()) params += ", ";
      params += fmt::format("{}: {}", ShownText(p.name), ShownText(p.type));
    }
    out += fmt::format("  {}({})\n", ShownText(c.name), params);
    if (!c.caption.empty()) out += fmt::format("    Caption: {}\n", ShownText(c.caption));
    if (!c.hint.empty()) out += fmt::format("    Hint:    {}\n", ShownText(c.hint));
    out += fmt::format("    Checks:  CheckParamType={}, CheckParamCount={}, "
                       "AllowNullInAllParams={}\n",
                       textBool(c.checkParamType), textBool(c.checkParamCount),
                       textBool(c.allowNullInAllParams));
  }
  return out;
}

std::string FormatJson(const PluginSummary& s, std::string_view file) {
  std::string description;
  for (const auto& d : s.description)
    description += (description.empty() ? "" : ", ") + jsonString(d);
  std::string commands;
  for (const CommandSummary& c : s.commands) {
    std::string params;
    for (const auto& p : c.params)
      params += fmt::format("{}{{\"name\": {}, \"type\": {}}}", params.empty() ? "" : ", ",
                            jsonString(p.name), jsonString(p.type));
    commands += fmt::format(
        "{}\n    {{\"name\": {}, \"caption\": {}, \"hint\": {}, \"params\": [{}], "
        "\"checkParamType\": {}, \"checkParamCount\": {}, \"allowNullInAllParams\": {}}}",
        commands.empty() ? "" : ",", jsonString(c.name), jsonString(c.caption), jsonString(c.hint),
        params, jsonBool(c.checkParamType), jsonBool(c.checkParamCount),
        jsonBool(c.allowNullInAllParams));
  }
  const MenuMergingSummary& mm = s.menuMerging;
  return fmt::format(
      "{{\n{}"
      "  \"frameworkVersion\": {},\n"
      "  \"pluginClass\": {},\n"
      "  \"deepName\": {},\n"
      "  \"version\": {},\n"
      "  \"author\": {},\n"
      "  \"copyright\": {},\n"
      "  \"description\": [{}],\n"
      "  \"maxInstances\": {},\n"
      "  \"menuMerging\": {{\"automatic\": {}, \"mergeType\": {}, \"targetMenu\": {}, "
      "\"valueToSearch\": {}, \"sourceMenu\": {}}},\n"
      "  \"commands\": [{}{}]\n"
      "}}\n",
      file.empty() ? "" : fmt::format("  \"file\": {},\n", jsonString(file)),
      jsonString(s.frameworkVersion), jsonString(s.pluginClass), jsonString(s.deepName),
      jsonString(s.version), jsonString(s.author), jsonString(s.copyright), description,
      s.maxInstances, jsonBool(mm.automatic), jsonString(mm.mergeType), jsonString(mm.targetMenu),
      jsonString(mm.valueToSearch), jsonString(mm.sourceMenu), commands,
      commands.empty() ? "" : "\n  ");
}

std::string JsonString(std::string_view text) {
  return jsonString(text);
}

} // namespace kelinfo
