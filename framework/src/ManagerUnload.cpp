// Taking plug-ins out of a running host: one by one, all at once, or later from
// the idle-time queue.
#include "ModuleLoader.h"
#include "PluginWatch.h"
#include "kelvarin/Catalogue.h"
#include "kelvarin/Errors.h"
#include "kelvarin/ExceptionReport.h"
#include "kelvarin/PluginCallScope.h"
#include "kelvarin/manager.h"
#include "kelvarin/plugin.h"

#include <algorithm>
#include <fmt/format.h>
#include <keltk/Dialogs.h>
#include <keltk/StrUtils.h>

namespace kelvarin {

namespace {

TMethodSite siteUnloadPlugin{"TulmKelMan.UnloadPlugin"};
TMethodSite siteUnloadAllPlugins{"TulmKelMan.UnloadAllPlugins"};
TMethodSite siteOnAppIdle{"TulmKelMan.OnAppIdle"};

TErrorClass unloadError() {
  return &EulmKelUnloadError::StaticClass();
}

template <class T> void eraseAll(std::vector<T*>& list, const T* item) {
  list.erase(std::remove(list.begin(), list.end(), item), list.end());
}

} // namespace

int TulmKelMan::AppendPlugin(TulmKel* plugin) {
  plugins_.push_back(plugin);
  return static_cast<int>(plugins_.size()) - 1;
}

TKelMethodResult TulmKelMan::UnloadPlugin(bool ShowErrorMessage, int Index) {
  TMethodSite& site = siteUnloadPlugin;
  TKelMethodResult result = smrUnexpectedError;
  site.step = 1;
  GuardedSwallow(this, site, [&] {
    TKelMethodResult finalizeResult = smrOk;
    TulmKel* plugin = nullptr;
    site.step = 2;
    if (!CheckIf_NoPluginsLoaded(result, unloadError()) ||
        !CheckIf_InvalidPluginIndex(result, unloadError(), Index) ||
        !CheckIf_PluginCouldNotBeAccessed(result, unloadError(), Index, plugin))
      return;

    // Its module must not go while its code is on the stack: the idle handler
    // unloads it once that code has returned. A handler of its own unload asking
    // again waits the same way (it would otherwise start that unload over and
    // over); the unload under way takes it out of the queue.
    if (plugin->CodeRunning() || PluginWatch::unloadUnderWay(*this, plugin)) {
      UnloadPluginLater(plugin);
      result = smrOk;
      return;
    }
    PluginWatch watch(*this, plugin, true);

    site.step = 3;
    if (isLogged(lkAction))
      LogIt(fmt::format("Unloading Plugin: \"{}\" (\"{}\")...", plugin->DeepName(),
                        plugin->FileName()),
            lkAction);

    site.step = 4;
    if (onBeforeUnload_)
      if (auto error = CallHandler([&] { onBeforeUnload_(plugin); }))
        logError(HostEventFailure("OnBeforeUnload()", *error));

    site.step = 5;
    for (int i = GetPluginCount() - 1; i >= 0 && !watch.destroyed(); --i) {
      TulmKel* other = GetPlugins(i);
      if (other == nullptr || !other->OnAnyPluginBeforeUnload()) continue;
      GuardedSwallow(this, site, [&] {
        if (auto error =
                CallPluginHandler(other, [&] { other->OnAnyPluginBeforeUnload()(plugin); }))
          logError(PluginEventFailure("OnAnyPluginBeforeUnload()",
                                      keltk::ExtractFileName(other->FileName()), *error));
      });
    }
    // A host handler may have unloaded this very plug-in meanwhile: done then.
    if (watch.destroyed()) {
      result = smrOk;
      return;
    }

    site.step = 6;
    try {
      PluginCallScope running(plugin);
      finalizeResult = plugin->Finalize();
    } catch (const keltk::Exception& e) {
      logError(PluginMethodFailure("Finalize()", plugin->ShortFileName(), e.Message()));
      finalizeResult = smrOk;
    }
    site.step = 7;
    if (!finalizeResult.Success)
      logError(
          fmt::format("Method {} on plugin \"{}\" returned an error:  ${}", "Finalize()",
                      plugin->ShortFileName(),
                      keltk::IntToHex(static_cast<std::uint32_t>(finalizeResult.ErrorCode), 4)));

    site.step = 8;
    const std::string fileName = plugin->FileName();
    const std::string deepName = plugin->DeepName();
    const std::int16_t instanceCount = plugin->InstanceCount();
    site.step = 9;
    if ((plugin->HostApplication() != plugin->OwnApplication() ||
         plugin->HostScreen() != plugin->OwnScreen()) &&
        isLogged(lkAction))
      LogIt("Original context restored (was changed).", lkAction);
    site.step = 10;
    void* module = plugin->ModuleHandle();
    site.step = 11;
    destroyPlugin(plugin);
    site.step = 12;
    // The destroyed plug-in's own entry, wherever handlers have moved it.
    eraseAll(plugins_, plugin);
    site.step = 13;
    CloseModule(module);

    site.step = 14;
    const auto remaining = static_cast<std::int16_t>(instanceCount - 1);
    for (int i = GetPluginCount() - 1; i >= 0; --i) {
      TulmKel* other = GetPlugins(i);
      if (other == nullptr) continue;
      GuardedSwallow(this, site, [&] {
        if (other->DeepName() == deepName) other->SetInstanceCount(remaining);
      });
    }

    site.step = 15;
    if (onAfterUnload_)
      if (auto error = CallHandler([&] { onAfterUnload_(plugin, fileName); }))
        logError(HostEventFailure("OnAfterUnload()", *error));
    for (int i = GetPluginCount() - 1; i >= 0; --i) {
      TulmKel* other = GetPlugins(i);
      if (other == nullptr || !other->OnAnyPluginAfterUnload()) continue;
      GuardedSwallow(this, site, [&] {
        if (auto error = CallPluginHandler(
                other, [&] { other->OnAnyPluginAfterUnload()(plugin, fileName); }))
          logError(PluginEventFailure("OnAnyPluginAfterUnload()",
                                      keltk::ExtractFileName(other->FileName()), *error));
      });
    }

    site.step = 16;
    if (isLogged(lkAction))
      LogIt(fmt::format("Plugin Unloaded: \"{}\" (\"{}\").", deepName, fileName), lkAction);
    result = smrOk;
  });
  site.step = 17;
  if (!result.Success && ShowErrorMessage) keltk::ShowMessage(result.ErrorMsg);
  return result;
}

TKelMethodResult TulmKelMan::UnloadPlugin(bool ShowErrorMessage, TulmKel* Plugin) {
  TMethodSite& site = siteUnloadPlugin;
  TKelMethodResult result = smrUnexpectedError;
  site.step = 1;
  GuardedSwallow(this, site, [&] {
    site.step = 2;
    TulmKel* plugin = Plugin;
    if (!CheckIf_NoPluginsLoaded(result, unloadError()) ||
        !CheckIf_PluginCouldNotBeAccessed(result, unloadError(), -1, plugin))
      return;
    site.step = 3;
    for (int i = GetPluginCount() - 1; i >= 0; --i) {
      if (GetPlugins(i) != Plugin) continue;
      result = UnloadPlugin(ShowErrorMessage, i);
      return;
    }
  });
  return result;
}

TKelMethodResult TulmKelMan::UnloadPlugin(TulmKel* Plugin) {
  return UnloadPlugin(false, Plugin);
}

TKelMethodResult TulmKelMan::UnloadAllPlugins(bool ShowErrorMessage) {
  TMethodSite& site = siteUnloadAllPlugins;
  TKelMethodResult result = smrUnexpectedError;
  site.step = 1;
  GuardedSwallow(this, site, [&] {
    site.step = 2;
    if (isLogged(lkAction)) LogIt("Unloading Plugins...", lkAction);
    site.step = 3;
    if (!CheckIf_NoPluginsLoaded(result, unloadError())) return;
    site.step = 4;
    for (int i = GetPluginCount() - 1; i >= 0; --i) {
      if (GetPlugins(i) == nullptr) continue;
      GuardedSwallow(this, site, [&] { UnloadPlugin(ShowErrorMessage, i); });
    }
    site.step = 5;
    result = smrOk;
  });
  return result;
}

void TulmKelMan::UnloadPluginLater(TulmKel* plugin) {
  if (plugin != nullptr && !UnloadPending(plugin)) pendingUnloads_.push_back(plugin);
}

bool TulmKelMan::UnloadPending(const TulmKel* plugin) const {
  return std::find(pendingUnloads_.begin(), pendingUnloads_.end(), plugin) != pendingUnloads_.end();
}

void TulmKelMan::destroyPlugin(TulmKel* plugin) {
  // Marked first: code run by the destructor must already see it as gone.
  for (PluginWatch* watch : watches_)
    watch->destroying(plugin);
  eraseAll(pendingUnloads_, plugin);
  keltk::FreeObject(plugin);
}

void TulmKelMan::OnAppIdle(keltk::TObject* Sender, bool& Done) {
  if (inIdle_) return;
  inIdle_ = true;
  Done = true;
  auto chain = [&] {
    if (savedOnIdle_ && !savedOnIdle_.sameCode(ownIdleHandler_)) {
      try {
        savedOnIdle_(Sender, Done);
      } catch (...) {
        // The previous handler's troubles are its own.
      }
    }
    inIdle_ = false;
  };
  try {
    siteOnAppIdle.step = 1;
    GuardedSwallow(this, siteOnAppIdle, [&] {
      if (pendingUnloads_.empty()) return;
      siteOnAppIdle.step = 2;
      const int count = static_cast<int>(pendingUnloads_.size());
      for (int pos = count - 1; pos >= 0; --pos) {
        // Unloads may shorten the queue under this loop.
        if (static_cast<std::size_t>(pos) >= pendingUnloads_.size()) continue;
        TulmKel* entry = pendingUnloads_[static_cast<std::size_t>(pos)];
        if (entry == nullptr) continue;
        siteOnAppIdle.step = 3;
        pendingUnloads_.erase(pendingUnloads_.begin() + pos);
        UnloadPlugin(entry);
      }
    });
  } catch (...) {
    chain();
    throw;
  }
  chain();
}

void TulmKelMan::HookApplicationIdle() {
  keltk::TApplication* app = keltk::Application();
  const keltk::TIdleEvent current = app->OnIdle();
  // Only the method is compared: with several managers, the first to hook keeps it.
  if (current && current.sameCode(ownIdleHandler_)) return;
  savedOnIdle_ = current;
  app->SetOnIdle(ownIdleHandler_);
  hookedApplication_ = app;
}

} // namespace kelvarin
