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

} // namespace kelinfo
