// Plug-in modules described from their metadata sections: the reader behind
// kelinfo and behind a host's look at its plug-in folder before it loads anything.
#include "kelvarin/Discovery.h"

#include "TrialLoad.h"

// The version alone: describing files needs no started framework (kelinfo has none).
#define KELVARIN_NO_FRAMEWORK_STARTER
#include "FormTree.h"
#include "ModuleMetadata.h"
#include "kelvarin/Framework.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fmt/format.h>
#include <keltk/Exception.h>
#include <keltk/StrUtils.h>
#include <sys/stat.h>

namespace kelvarin {

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

} // namespace

PluginSummary Summarize(const ModuleMetadata& meta) {
  PluginSummary s;
  s.frameworkVersion = VersionInRecord(meta.versionRecord);
  std::size_t entriesLeft = kMaxFormEntries;
  for (const std::string& text : meta.forms) {
    FormObject root = ParseFormTree(text, entriesLeft);
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
  throw NotAPluginError("the module stores no plug-in form");
}

const char* PluginFileStateName(TPluginFileState state) {
  switch (state) {
  case TPluginFileState::Loadable:
    return "loadable";
  case TPluginFileState::OtherFrameworkVersion:
    return "other-version";
  case TPluginFileState::NotAPlugin:
    return "not-a-plugin";
  case TPluginFileState::Damaged:
    return "damaged";
  case TPluginFileState::AlreadyLoaded:
    return "loaded";
  }
  return "damaged";
}

namespace {

TPluginFileInfo describe(const std::string& path, bool listedRegular) {
  TPluginFileInfo info;
  info.FileName = path;
  struct stat read {};
  try {
    info.Plugin = Summarize(ReadModuleMetadataFile(path, &read, listedRegular));
    if (info.Plugin.frameworkVersion == kFrameworkVersion) {
      info.State = TPluginFileState::Loadable;
    } else {
      info.State = TPluginFileState::OtherFrameworkVersion;
      info.Reason = fmt::format("built for framework version {}, this is {}",
                                info.Plugin.frameworkVersion, kFrameworkVersion);
    }
  } catch (const NotAPluginError& e) {
    info.State = TPluginFileState::NotAPlugin;
    info.Reason = e.what();
  } catch (const MetadataError& e) {
    info.State = TPluginFileState::Damaged;
    info.Reason = e.what();
  } catch (const keltk::Exception& e) {
    info.State = TPluginFileState::Damaged;
    info.Reason = "stored form data: " + e.Message();
  } catch (const std::exception& e) {
    info.State = TPluginFileState::Damaged;
    info.Reason = e.what();
  }
  // The metadata may read well while the loader cannot map the file. The file
  // read is the one judged: its status is at hand, no second stat is needed.
  if (info.State == TPluginFileState::Loadable)
    if (std::string failed = TrialLoadFailure(read); !failed.empty()) {
      info.State = TPluginFileState::Damaged;
      info.Reason = std::move(failed);
    }
  if (info.State != TPluginFileState::Loadable &&
      info.State != TPluginFileState::OtherFrameworkVersion)
    info.Plugin = PluginSummary();
  return info;
}

} // namespace

TPluginFileInfo DescribePluginFile(const std::string& path) {
  return describe(path, false);
}

std::vector<TPluginFileInfo> ReadPluginFolder(const std::string& folder,
                                              const std::string& extension) {
  const std::string prefix = folder.empty() || folder.ends_with('/') ? folder : folder + "/";
  const auto cannotRead = [] {
    return MetadataError(std::string("cannot read the folder: ") + std::strerror(errno));
  };
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) throw cannotRead();
  const struct Closer {
    DIR* dir;
    ~Closer() { ::closedir(dir); }
  } closer{dir};
  struct Entry {
    std::string name;
    bool regular;
    bool operator<(const Entry& other) const { return name < other.name; }
  };
  std::vector<Entry> entries;
  const std::string suffix = "." + extension;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir);
    if (entry == nullptr) {
      if (errno != 0) throw cannotRead();
      break;
    }
    const std::string_view name = entry->d_name;
    if (name.size() <= suffix.size() || !name.ends_with(suffix)) continue;
    // Folders named like modules are no modules; the entry's type mostly says.
    // A link that leads nowhere stays: its description says so.
    if (entry->d_type == DT_DIR) continue;
    if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
      struct stat st {};
      if (::stat((prefix + std::string(name)).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
    }
    entries.push_back({std::string(name), entry->d_type == DT_REG});
  }
  std::sort(entries.begin(), entries.end());
  std::vector<TPluginFileInfo> list;
  list.reserve(entries.size());
  for (const Entry& entry : entries)
    list.push_back(describe(prefix + entry.name, entry.regular));
  return list;
}

std::vector<TPluginFileInfo> DescribePluginFolder(const std::string& folder,
                                                  const std::string& extension) {
  try {
    return ReadPluginFolder(folder, extension);
  } catch (const MetadataError&) {
    return {};
  }
}

} // namespace kelvarin
