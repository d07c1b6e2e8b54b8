// Turning a file name into a loaded, initialized plug-in, and undoing a load that
// failed half way.
#include "ModuleLoader.h"
#include "PluginWatch.h"
#include "kelvarin/Catalogue.h"
#include "kelvarin/Errors.h"
#include "kelvarin/ExceptionReport.h"
#include "kelvarin/Files.h"
#include "kelvarin/Framework.h"
#include "kelvarin/PluginCallScope.h"
#include "kelvarin/PluginModule.h"
#include "kelvarin/manager.h"
#include "kelvarin/plugin.h"

#include <algorithm>
#include <dlfcn.h>
#include <fmt/format.h>
#include <keltk/Dialogs.h>
#include <keltk/StrUtils.h>
#include <keltk/Strings.h>
#include <vector>

namespace kelvarin {

namespace {

TMethodSite siteLoadPlugin{"TulmKelMan.LoadPlugin"};
TMethodSite siteCancelPlugin{"TulmKelMan.CancelPlugin"};

TErrorClass loadError() {
  return &EulmKelLoadError::StaticClass();
}

// The module's version record, asked with this manager's token.
std::string askPluginInfo(TGetPluginInfoFunc getPluginInfo, TOriginToken token) {
  constexpr int kLongestRecord = 1 << 16; // longer is no version record
  std::vector<char> buffer(256);
  int length = getPluginInfo(buffer.data(), static_cast<int>(buffer.size()), token);
  if (length <= 0 || length > kLongestRecord) return {};
  if (static_cast<std::size_t>(length) >= buffer.size()) {
    buffer.resize(static_cast<std::size_t>(length) + 1);
    length = std::min(getPluginInfo(buffer.data(), static_cast<int>(buffer.size()), token),
                      static_cast<int>(buffer.size()) - 1);
    if (length <= 0) return {};
  }
  return std::string(buffer.data(), static_cast<std::size_t>(length));
}

// The toolkit copy's module that `plugin`'s classes derive from: its TComponent
// class information lives there.
const void* toolkitAnchorOf(const TulmKel* plugin) {
  for (const keltk::TClassInfo* c = &plugin->ClassType(); c != nullptr; c = c->parent)
    if (c->name == "TComponent") return c;
  return nullptr;
}

std::string finalizeErrorLine(std::string_view plugin, std::int32_t code) {
  return fmt::format("Method {} on plugin \"{}\" returned an error:  ${}", "Finalize()", plugin,
                     keltk::IntToHex(static_cast<std::uint32_t>(code), 4));
}

} // namespace

TKelMethodResult TulmKelMan::LoadPlugin(const std::string& FileName, TulmKel** LoadedPlugin) {
  return LoadPlugin(false, FileName, {}, LoadedPlugin);
}

TKelMethodResult TulmKelMan::LoadPlugin(bool ShowErrorMessage, const std::string& FileName,
                                        keltk::TVarRecs Params, TulmKel** LoadedPlugin) {
  TMethodSite& site = siteLoadPlugin;
  TKelMethodResult result = smrUnexpectedError;
  std::string fileName = FileName;
  void* module = nullptr;
  PluginWatch watch(*this, nullptr);
  site.step = 1;
  if (LoadedPlugin != nullptr) *LoadedPlugin = nullptr;

  auto fail = [&](std::int32_t code, std::initializer_list<keltk::TVarRec> args) {
    logError(FormatError(loadError(), result, code, args));
  };

  auto steps = [&] {
    site.step = 2;
    if (keltk::Trim(fileName).empty()) return fail(E015, {});
    site.step = 3;
    if (fileName.find('.') == std::string::npos)
      fileName = keltk::Trim(fileName) + "." + pluginExtension_;
    site.step = 4;
    if (keltk::ExtractFileName(fileName) == fileName && !pluginFolder_.empty() &&
        FolderExists(pluginFolder_))
      fileName = keltk::StringReplaceAll(pluginFolder_ + "/" + fileName, "//", "/");
    site.step = 5;
    const std::int64_t size = FileSizeOf(fileName);
    if (size <= 0) return fail(E016, {keltk::VarStr(fileName)});
    const std::string fileNamePart = keltk::ExtractFileName(fileName);

    site.step = 6;
    if (isLogged(lkAction))
      GuardedSwallow(this, site,
                     [&] { LogIt(fmt::format("Loading Plugin: \"{}\"...", fileName), lkAction); });

    site.step = 7;
    bool allowLoad = true;
    if (onBeforeLoad_) {
      if (auto error = CallHandler([&] { onBeforeLoad_(fileName, allowLoad); }))
        logError(HostEventFailure("OnBeforeLoad()", *error));
      if (!allowLoad) return fail(E002, {keltk::VarStr(fileNamePart)});
    }

    site.step = 8;
    for (int i = GetPluginCount() - 1; i >= 0 && allowLoad; --i) {
      TulmKel* other = GetPlugins(i);
      if (other == nullptr || !other->OnAnyPluginBeforeLoad()) continue;
      GuardedSwallow(this, site, [&] {
        allowLoad = true;
        if (auto error = CallPluginHandler(
                other, [&] { other->OnAnyPluginBeforeLoad()(fileName, allowLoad); }))
          logError(PluginEventFailure("OnAnyPluginBeforeLoad()", other->ShortFileName(), *error));
      });
    }
    if (!allowLoad) return fail(E002, {keltk::VarStr(fileNamePart)});

    site.step = 9;
    module = OpenModule(fileName, lastModuleError_);
    if (module == nullptr) return fail(E001, {keltk::VarStr(fileName)});

    site.step = 10;
    auto getPluginInfo =
        reinterpret_cast<TGetPluginInfoFunc>(::dlsym(module, kGetPluginInfoExport));
    if (getPluginInfo == nullptr)
      return fail(E004, {keltk::VarStr(kGetPluginInfoExport), keltk::VarStr(fileNamePart)});

    site.step = 11;
    std::string version;
    {
      keltk::TStringList record;
      record.SetText(askPluginInfo(getPluginInfo, SealOrigin(this)));
      version = record.Values("ProdVersion");
    }
    site.step = 12;
    if (version.empty()) return fail(E010, {keltk::VarStr(fileNamePart)});
    site.step = 13;
    if (version != kFrameworkVersion)
      return fail(E027, {keltk::VarStr(kFrameworkVersion), keltk::VarStr(version)});

    site.step = 14;
    auto registerKelvarin =
        reinterpret_cast<TRegisterKelvarinFunc>(::dlsym(module, kRegisterKelvarinExport));
    if (registerKelvarin == nullptr)
      return fail(E004, {keltk::VarStr(kRegisterKelvarinExport), keltk::VarStr(fileNamePart)});

    site.step = 15;
    TulmKel* plugin = registerKelvarin();
    watch.watch(plugin);
    if (LoadedPlugin != nullptr) *LoadedPlugin = plugin;
    site.step = 16;
    if (plugin == nullptr) return fail(E005, {keltk::VarStr(fileNamePart)});

    site.step = 17;
    plugin->SetManager(this);
    plugin->SetModuleHandle(module);
    plugin->SetFileName(fileName);
    plugin->SetShortFileName(fileNamePart);
    plugin->SetFileSize(size);
    plugin->SetHostApplication(keltk::Application());
    plugin->SetHostScreen(keltk::Screen());
    const std::string shortName = plugin->ShortFileName();
    const std::string deepName = plugin->DeepName();

    site.step = 18;
    int count = 0;
    if (plugin->MaxInstances() > 0)
      for (int i = GetPluginCount() - 1; i >= 0; --i) {
        TulmKel* other = GetPlugins(i);
        if (other == nullptr) continue;
        GuardedSwallow(this, site, [&] {
          if (other->DeepName() == deepName) ++count;
        });
      }
    site.step = 19;
    if (plugin->MaxInstances() <= count)
      return fail(E007, {keltk::VarStr(shortName), keltk::VarInt(plugin->MaxInstances())});

    site.step = 20;
    ++count;
    plugin->SetInstanceCount(static_cast<std::int16_t>(count));
    if (count > 1) shareInstanceCount(deepName, count, site);

    site.step = 21;
    TKelMethodResult initResult = smrUnexpectedError;
    try {
      PluginCallScope running(plugin);
      initResult = plugin->Initialize(Params);
    } catch (const keltk::Exception& e) {
      logError(PluginMethodFailure("Initialize()", shortName, e.Message()));
      return fail(E006, {keltk::VarStr(shortName)});
    }
    site.step = 22;
    // A success stays provisional (the result keeps reading as a failure) until
    // the last step, so that a failure found after it cannot read as success.
    if (!initResult.Success) {
      // Made by the plug-in's framework copy, which may go with the module.
      result = AdoptResult(initResult);
      return;
    }

    site.step = 23;
    const int index = AppendPlugin(plugin);

    site.step = 24;
    if (!usesToolkitModule_ && plugin->UsesToolkitModule() && toolkitModuleHandle_ == nullptr)
      GuardedSwallow(this, site, [&] {
        // The toolkit runtime module stays loaded for good once a plug-in brought it.
        const std::string toolkitFile = ModuleFileOf(toolkitAnchorOf(plugin));
        if (!toolkitFile.empty())
          toolkitModuleHandle_ = ::dlopen(toolkitFile.c_str(), RTLD_NOW | RTLD_LOCAL);
      });

    // The check runs after every after-load handler, also one that raised: a
    // handler must never be handed a plug-in that is gone.
    site.step = 25;
    if (onAfterLoad_) {
      if (auto error = CallHandler([&] { onAfterLoad_(plugin); }))
        logError(HostEventFailure("OnAfterLoad()", *error));
      if (!stillLoaded(watch, index)) return fail(E00E, {keltk::VarStr(Name() + ".OnAfterLoad")});
    }

    site.step = 26;
    for (int i = GetPluginCount() - 1; i >= 0; --i) {
      TulmKel* other = GetPlugins(i);
      if (other == nullptr || !other->OnAnyPluginAfterLoad()) continue;
      const std::string handlerOwner = other->Name();
      GuardedSwallow(this, site, [&] {
        if (auto error = CallPluginHandler(other, [&] { other->OnAnyPluginAfterLoad()(plugin); }))
          logError(PluginEventFailure("OnAnyPluginAfterLoad()", shortName, *error));
      });
      if (!stillLoaded(watch, index))
        return fail(E00E, {keltk::VarStr(handlerOwner + ".OnAnyPluginAfterLoad")});
    }

    site.step = 27;
    HookApplicationIdle();
    site.step = 28;
    if (isLogged(lkAction))
      GuardedSwallow(this, site, [&] {
        LogIt(fmt::format("Plugin Loaded: \"{}\" (\"{}\").", plugin->Name(), plugin->FileName()),
              lkAction);
      });
    site.step = 29;
    result = smrOk;
  };

  auto closing = [&] {
    site.step = 30;
    if (result.Success) return;
    if (ShowErrorMessage) keltk::ShowMessage(result.ErrorMsg);
    // Callers never hold a plug-in whose load failed.
    if (LoadedPlugin != nullptr) *LoadedPlugin = nullptr;
    site.step = 31;
    GuardedSwallow(this, site, [&] {
      // A plug-in that the manager destroyed meanwhile took its module with it.
      if (watch.destroyed())
        CancelPlugin(nullptr, fileName, nullptr);
      else
        CancelPlugin(watch.plugin(), fileName, module);
    });
  };

  try {
    GuardedSwallow(this, site, steps);
  } catch (...) {
    // Not of the toolkit's family: passes on, but never leaves a load half done.
    closing();
    throw;
  }
  closing();
  return result;
}

bool TulmKelMan::stillLoaded(const PluginWatch& watch, int index) const {
  const TulmKel* plugin = watch.plugin();
  if (plugin == nullptr || index > GetPluginCount() - 1) return false;
  const TulmKel* entry = GetPlugins(index);
  return entry == plugin && entry->ModuleHandle() == plugin->ModuleHandle();
}

void TulmKelMan::shareInstanceCount(const std::string& deepName, int count, TMethodSite& site) {
  for (int i = GetPluginCount() - 1; i >= 0; --i) {
    TulmKel* other = GetPlugins(i);
    if (other == nullptr) continue;
    GuardedSwallow(this, site, [&] {
      if (other->DeepName() == deepName) other->SetInstanceCount(static_cast<std::int16_t>(count));
    });
  }
}

TKelMethodResult TulmKelMan::CancelPlugin(TulmKel* Plugin, const std::string& FileName,
                                          void* Module) {
  TMethodSite& site = siteCancelPlugin;
  TKelMethodResult result = smrUnexpectedError;
  site.step = 1;
  GuardedSwallow(this, site, [&] {
    TKelMethodResult finalizeResult = smrOk;
    site.step = 2;
    if (isLogged(lkAction))
      LogIt(fmt::format("Canceling Loading Of Plugin: \"{}\".", FileName), lkAction);

    site.step = 3;
    if (Plugin != nullptr && Plugin->Initialized()) {
      try {
        PluginCallScope running(Plugin);
        finalizeResult = Plugin->Finalize();
      } catch (const keltk::Exception& e) {
        logError(PluginMethodFailure("Finalize()", FileName, e.Message()));
        finalizeResult = smrOk;
      }
    }
    site.step = 4;
    if (!finalizeResult.Success) logError(finalizeErrorLine(FileName, finalizeResult.ErrorCode));

    site.step = 5;
    std::string deepName;
    if (Plugin != nullptr) {
      deepName = Plugin->DeepName();
      for (int i = GetPluginCount() - 1; i >= 0; --i)
        if (GetPlugins(i) == Plugin) {
          plugins_.erase(plugins_.begin() + i);
          break;
        }
    }

    // Every remaining instance carries the true count, also a single one.
    site.step = 6;
    if (Plugin != nullptr) {
      int count = 0;
      for (int i = GetPluginCount() - 1; i >= 0; --i)
        if (const TulmKel* other = GetPlugins(i); other != nullptr && other->DeepName() == deepName)
          ++count;
      if (count > 0) shareInstanceCount(deepName, count, site);
    }

    // The object's code is about to be unmapped with its module: it goes first.
    site.step = 7;
    if (Plugin != nullptr) destroyPlugin(Plugin);
    site.step = 8;
    CloseModule(Module);
    site.step = 9;
    result = smrOk;
  });
  return result;
}

} // namespace kelvarin
