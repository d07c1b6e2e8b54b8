#include "PluginSummary.h"

#include "FormTree.h"

#include <fmt/format.h>
#include <keltk/StrUtils.h>

namespace kelinfo {

namespace {

// Properties only a plug-in's root stores; a form with none of them is some
// other form of the module (a window, a data module).
constexpr std::string_view kPluginProperties[] = {"DeepName",
                                                  "Commands",
                                                  "MenuMerging.Automatic",
                                                  "MenuMerging.MergeType",
                                                  "MenuMerging.TargetMenu",
                                                  "MaxInstances",
                                                  "Description.Strings",
                                                  "PropsToMonitor"};

bool isPluginForm(const FormObject& root) {
  for (auto name : kPluginProperties)
    if (root.find(name) != nullptr) return true;
  return false;
}

std::string textOf(const FormProperty* prop) {
  if (prop == nullptr) return {};
  const FormValue& v = prop->value;
  switch (v.kind) {
  case FormValue::Kind::String:
  case FormValue::Kind::Ident:
    return v.text;
  case FormValue::Kind::Integer:
    return std::to_string(v.integer);
  default:
    return {};
  }
}

CommandSummary commandOf(const FormItem& item) {
  CommandSummary c;
  c.name = textOf(FindItemProperty(item, "Name"));
  c.caption = textOf(FindItemProperty(item, "Caption"));
  c.hint = textOf(FindItemProperty(item, "Hint"));
  const auto flag = [&](std::string_view name, bool& value) {
    if (const FormProperty* p = FindItemProperty(item, name))
      value = keltk::SameText(textOf(p), "True");
  };
  flag("CheckParamType", c.checkParamType);
  flag("CheckParamCount", c.checkParamCount);
  flag("AllowNullInAllParams", c.allowNullInAllParams);
  const FormProperty* params = FindItemProperty(item, "Params");
  if (params != nullptr && params->value.kind == FormValue::Kind::Collection) {
    for (const FormItem& p : params->value.items) {
      CommandParamSummary param{textOf(FindItemProperty(p, "ParamName")),
                                textOf(FindItemProperty(p, "ParamType"))};
      if (param.type.empty()) param.type = "ptInteger";
      c.params.push_back(std::move(param));
    }
  }
  return c;
}

std::string versionOf(const std::string& record) {
  // "ProdVersion=1.0.01.428" and a line break.
  constexpr std::string_view key = "ProdVersion=";
  for (std::size_t start = 0; start < record.size();) {
    std::size_t end = record.find_first_of("\r\n", start);
    if (end == std::string::npos) end = record.size();
    const std::string_view line(record.data() + start, end - start);
    if (keltk::SameText(line.substr(0, std::min(line.size(), key.size())), key))
      return std::string(line.substr(key.size()));
    start = end + 1;
  }
  return {};
}

// The UTF-8 sequence at text[i]: its length and code point; 0 when no valid
// sequence starts there (a stray byte, an overlong form, a surrogate).
std::size_t decodeUtf8(std::string_view text, std::size_t i, char32_t& cp) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  cp = lead;
  if (lead < 0x80) return 1;
  const std::size_t n = lead >= 0xC2 && lead <= 0xDF   ? 2
                        : lead >= 0xE0 && lead <= 0xEF ? 3
                        : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                       : 0;
  if (n == 0 || i + n > text.size()) return 0;
  cp = lead & (0x7F >> n);
  for (std::size_t k = 1; k < n; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (byte(i + k) & 0x3F);
  }
  constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kLeast[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

bool isControl(char32_t cp) {
  return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F);
}

std::string jsonString(std::string_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    char32_t cp = 0;
    const std::size_t n = decodeUtf8(text, i, cp);
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

PluginSummary Summarize(const ModuleMetadata& meta) {
  PluginSummary s;
  s.frameworkVersion = versionOf(meta.versionRecord);
  for (const std::string& text : meta.forms) {
    FormObject root = ParseFormTree(text);
    if (!isPluginForm(root)) continue;
    s.pluginClass = root.className;
    s.deepName = textOf(root.find("DeepName"));
    s.version = textOf(root.find("Version"));
    s.author = textOf(root.find("Author"));
    s.copyright = textOf(root.find("Copyright"));
    if (const FormProperty* d = root.find("Description.Strings");
        d != nullptr && d->value.kind == FormValue::Kind::Strings)
      s.description = d->value.list;
    if (const FormProperty* m = root.find("MaxInstances");
        m != nullptr && m->value.kind == FormValue::Kind::Integer)
      s.maxInstances = m->value.integer;
    MenuMergingSummary& mm = s.menuMerging;
    if (const FormProperty* a = root.find("MenuMerging.Automatic"))
      mm.automatic = keltk::SameText(textOf(a), "True");
    if (const FormProperty* p = root.find("MenuMerging.MergeType")) mm.mergeType = textOf(p);
    if (const FormProperty* p = root.find("MenuMerging.TargetMenu")) mm.targetMenu = textOf(p);
    mm.valueToSearch = textOf(root.find("MenuMerging.ValueToSearch"));
    mm.sourceMenu = textOf(root.find("MenuMerging.SourceMenu"));
    if (const FormProperty* c = root.find("Commands");
        c != nullptr && c->value.kind == FormValue::Kind::Collection)
      for (const FormItem& item : c->value.items)
        s.commands.push_back(commandOf(item));
    return s;
  }
  throw MetadataError("the module stores no plug-in form");
}

std::string ShownText(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    char32_t cp = 0;
    const std::size_t n = decodeUtf8(text, i, cp);
    if (n == 0 || (n == 1 && isControl(cp))) {
      out += fmt::format("\\x{:02x}", static_cast<unsigned char>(text[i++]));
      continue;
    }
    if (isControl(cp))
      out += fmt::format("\\u{:04x}", static_cast<unsigned>(cp));
    else
      out.append(text.substr(i, n));
    i += n;
  }
  return out;
}

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

} // namespace kelinfo
