// Taking plug-ins out of a running host: one by one, all at once, or later from
// the idle-time queue.
#include "Broadcast.h"
#include "ExceptionReport.h"
#include "FrameworkAccess.h"
#include "IdleHub.h"
#include "Leftovers.h"
#include "LogCalls.h"
#include "ManagerOperation.h"
#include "ModuleLoader.h"
#include "ModuleRelease.h"
#include "PluginCallScope.h"
#include "PluginReloader.h"
#include "PluginWatch.h"
#include "RunningCode.h"
#include "ThreadCheck.h"
#include "kelvarin/Catalogue.h"
#include "kelvarin/Errors.h"
#include "kelvarin/manager.h"
#include "kelvarin/plugin.h"

#include <algorithm>
#include <fmt/format.h>
#include <keltk/Application.h>
#include <keltk/Backend.h>
#include <keltk/Dialogs.h>
#include <keltk/StrUtils.h>
#include <utility>

namespace kelvarin {

namespace {

// Handlers that load a plug-in for each one unloaded would keep UnloadAllPlugins
// going for ever; past this many passes it gives up and says so.
constexpr int kMostUnloadRounds = 16;

TErrorClass unloadError() {
  return &EulmKelUnloadError::StaticClass();
}

template <class T> void eraseAll(std::vector<T*>& list, const T* item) {
  list.erase(std::remove(list.begin(), list.end(), item), list.end());
}

// A queued plug-in that is still running, or whose own unload is under way,
// keeps its place in the queue; any other can go at once.
bool unloadableNow(const TulmKelMan& manager, const TulmKel* plugin) {
  return !manager.UnloadPending(plugin) ||
         (!PluginCodeRunning(plugin) && !PluginWatch::unloadUnderWay(manager, plugin));
}

} // namespace

// One call of UnloadPlugin for a plug-in in the list, from the notifications
// before to the ones after.
class PluginUnload {
public:
  // `whenReturned`: the plug-in's code is running and its manager is going, so
  // the object and its module are freed once that code has returned.
  PluginUnload(TulmKelMan& manager, MethodFrame& site, TulmKel* plugin, bool whenReturned = false)
      : m_(manager), site_(site), plugin_(plugin), watch_(manager, plugin, true),
        whenReturned_(whenReturned) {}

  // Steps 3 to 16.
  void run() {
    announce();
    if (!askBeforeUnload()) return; // a handler unloaded it meanwhile
    finalize();
    release();
    recount();
    tellAfterUnload();
    site_.step = 16;
    LogAction(m_, ActionText::PluginUnloaded, {deepName_, fileName_});
  }

private:
  void announce() {
    site_.step = 3;
    LogAction(m_, ActionText::UnloadingPlugin, {plugin_->DeepName(), plugin_->FileName()});
  }

  // Steps 4 and 5, the plug-in's own handler included. False when a handler has
  // unloaded the plug-in already.
  bool askBeforeUnload() {
    site_.step = 4;
    // Host first, then plug-ins newest first; once a handler has unloaded the
    // plug-in no one else is asked.
    Broadcast(
        m_, site_, {"OnBeforeUnload()", "OnAnyPluginBeforeUnload()", FailureLines::AtOnce, 5},
        bool(m_.onBeforeUnload_), [&] { m_.onBeforeUnload_(plugin_); },
        [](TulmKel* other) { return bool(other->OnAnyPluginBeforeUnload()); },
        [&](TulmKel* other) {
          const TEventOnAnyPluginBeforeUnload handler = other->OnAnyPluginBeforeUnload();
          handler(plugin_);
        },
        FileNamePartOf, [&] { return !watch_.destroyed(); });
    return !watch_.destroyed();
  }

  // Steps 6 and 7: whatever Finalize does, the unload goes on.
  void finalize() {
    site_.step = 6;
    TKelMethodResult answer = smrOk;
    if (auto error =
            CallPluginHandler(&m_, site_, plugin_, [&] { answer = plugin_->Finalize(); })) {
      LogError(m_, PluginMethodFailure("Finalize()", plugin_->ShortFileName(), *error));
      answer = smrOk;
    }
    site_.step = 7;
    if (!answer.Success)
      LogError(m_, PluginMethodError("Finalize()", plugin_->ShortFileName(), answer.ErrorCode));
  }

  // Steps 8 to 13: the object goes before its module. The plug-in's destructor
  // puts its module's own context back (and logs that when it does).
  void release() {
    site_.step = 8;
    fileName_ = plugin_->FileName();
    deepName_ = plugin_->DeepName();
    instanceCount_ = plugin_->InstanceCount();
    site_.step = 10;
    void* module = plugin_->ModuleHandle();
    site_.step = 11;
    if (whenReturned_) {
      m_.forgetPlugin(plugin_);
      FrameworkAccess::setManager(*plugin_, nullptr);
      ReleaseWhenReturned(plugin_, module);
    } else {
      m_.destroyPlugin(plugin_);
    }
    site_.step = 12;
    // The destroyed plug-in's own entry, wherever handlers have moved it.
    eraseAll(m_.plugins_, plugin_);
    site_.step = 13;
    if (!whenReturned_) m_.releaseModule(module, fileName_);
  }

  void recount() {
    site_.step = 14;
    const auto remaining = static_cast<std::int16_t>(instanceCount_ - 1);
    ForEachPlugin(m_, site_, [&](TulmKel* other) {
      if (other->DeepName() == deepName_) FrameworkAccess::setInstanceCount(*other, remaining);
    });
  }

  // Step 15: the handlers see only the former address.
  void tellAfterUnload() {
    site_.step = 15;
    // Host first, then plug-ins newest first, every one of them.
    Broadcast(
        m_, site_, {"OnAfterUnload()", "OnAnyPluginAfterUnload()"}, bool(m_.onAfterUnload_),
        [&] { m_.onAfterUnload_(plugin_, fileName_); },
        [](TulmKel* other) { return bool(other->OnAnyPluginAfterUnload()); },
        [&](TulmKel* other) {
          const TEventOnAnyPluginAfterUnload handler = other->OnAnyPluginAfterUnload();
          handler(plugin_, fileName_);
        },
        FileNamePartOf);
  }

  TulmKelMan& m_;
  MethodFrame& site_;
  TulmKel* plugin_;
  PluginWatch watch_;
  std::string fileName_;
  std::string deepName_;
  std::int16_t instanceCount_ = 0;
  bool whenReturned_;
};

TKelMethodResult TulmKelMan::UnloadPlugin(bool ShowErrorMessage, int Index) {
  return RunOperation(
      *this, "TulmKelMan.UnloadPlugin",
      [&](MethodFrame& site, TKelMethodResult& result) {
        TulmKel* plugin = nullptr;
        site.step = 2;
        if (!CheckIf_NoPluginsLoaded(result, unloadError()) ||
            !CheckIf_InvalidPluginIndex(result, unloadError(), Index) ||
            !CheckIf_PluginCouldNotBeAccessed(result, unloadError(), Index, plugin))
          return;
        // A handler of its own unload asking again waits: it would otherwise start
        // that unload over and over; the unload under way takes it out of the queue.
        if (PluginWatch::unloadUnderWay(*this, plugin)) {
          UnloadPluginLater(plugin);
          result = smrOk;
          return;
        }
        // Its module must not go while its code is on the stack: the idle handler
        // unloads it once that code has returned.
        if (PluginCodeRunning(plugin)) {
          if (!UnloadPending(plugin))
            LogAction(*this, ActionText::UnloadQueued, {plugin->DeepName(), plugin->FileName()});
          UnloadPluginLater(plugin);
          result = smrOk;
          return;
        }
        PluginUnload(*this, site, plugin).run();
        result = smrOk;
      },
      ShowErrorMessage);
}

TKelMethodResult TulmKelMan::UnloadPlugin(bool ShowErrorMessage, TulmKel* Plugin) {
  if (TKelMethodResult refused; !OnManagerThread(*this, "TulmKelMan.UnloadPlugin", &refused))
    return refused;
  MethodFrame site{"TulmKelMan.UnloadPlugin"};
  TKelMethodResult result = smrUnexpectedError;
  site.step = 1;
  GuardedSwallow(this, site, [&] {
    site.step = 2;
    TulmKel* plugin = Plugin;
    if (!CheckIf_NoPluginsLoaded(result, unloadError()) ||
        !CheckIf_PluginCouldNotBeAccessed(result, unloadError(), -1, plugin))
      return;
    site.step = 3;
    if (const int index = indexOf(Plugin); index >= 0)
      result = UnloadPlugin(ShowErrorMessage, index);
  });
  return result;
}

TKelMethodResult TulmKelMan::UnloadPlugin(TulmKel* Plugin) {
  return UnloadPlugin(false, Plugin);
}

TulmKel* TulmKelMan::FindOwnPlugin(const void* address) const {
  if (address == nullptr) return nullptr;
  for (TulmKel* plugin : plugins_)
    if (plugin == address) return plugin;
  for (const PluginObserver* watch : watches_)
    if (TulmKel* plugin = watch->held(); plugin == address) return plugin;
  return nullptr;
}

int TulmKelMan::indexOf(const TulmKel* plugin) const {
  for (int i = GetPluginCount() - 1; i >= 0; --i)
    if (GetPlugins(i) == plugin && plugin != nullptr) return i;
  return -1;
}

// Newest first, in passes until nothing is left that can go now: handlers may
// load plug-ins meanwhile. A queued plug-in goes as well, unless its code is
// running: then it stays queued.
TKelMethodResult TulmKelMan::UnloadAllPlugins(bool ShowErrorMessage) {
  return RunOperation(
      *this, "TulmKelMan.UnloadAllPlugins", [&](MethodFrame& site, TKelMethodResult& result) {
        site.step = 2;
        LogAction(*this, ActionText::UnloadingPlugins);
        site.step = 3;
        if (!CheckIf_NoPluginsLoaded(result, unloadError())) return;
        site.step = 4;
        for (int round = 1;; ++round) {
          ForEachPlugin(*this, site, [&](TulmKel* plugin) {
            const int index = indexOf(plugin);
            if (index < 0 || !unloadableNow(*this, plugin)) return;
            eraseAll(pendingUnloads_, plugin);
            (void)UnloadPlugin(ShowErrorMessage, index);
          });
          const auto left = std::count_if(plugins_.begin(), plugins_.end(), [&](const TulmKel* p) {
            return p != nullptr && unloadableNow(*this, p);
          });
          if (left == 0) break;
          if (round == kMostUnloadRounds) {
            LogError(*this,
                     fmt::format("Unloading Plugins gave up after {} rounds: event handlers keep "
                                 "loading plugins ({} still loaded).",
                                 round, left));
            break;
          }
        }
        site.step = 5;
        result = smrOk;
      });
}

void TulmKelMan::unloadRunningPlugins() {
  for (TulmKel* plugin : std::vector<TulmKel*>(plugins_.rbegin(), plugins_.rend()))
    if (indexOf(plugin) >= 0) {
      MethodFrame site{"TulmKelMan.UnloadAllPlugins"};
      MethodFrame unload{"TulmKelMan.UnloadPlugin"};
      GuardedSwallow(this, site, [&] { PluginUnload(*this, unload, plugin, true).run(); });
    }
}

void TulmKelMan::UnloadPluginLater(TulmKel* plugin) {
  if (!OnManagerThread(*this, "TulmKelMan.UnloadPluginLater")) return;
  if (plugin == nullptr || UnloadPending(plugin)) return;
  pendingUnloads_.push_back(plugin);
  for (PluginObserver* watch : std::vector<PluginObserver*>(watches_))
    watch->queued(plugin);
}

bool TulmKelMan::UnloadPending(const TulmKel* plugin) const {
  return std::find(pendingUnloads_.begin(), pendingUnloads_.end(), plugin) != pendingUnloads_.end();
}

void TulmKelMan::forgetPlugin(TulmKel* plugin) {
  for (PluginObserver* watch : std::vector<PluginObserver*>(watches_))
    watch->destroying(plugin);
  eraseAll(pendingUnloads_, plugin);
  if (reloader_) reloader_->destroying(plugin);
}

void TulmKelMan::destroyPlugin(TulmKel* plugin) {
  // Marked first: code run by the destructor must already see it as gone.
  forgetPlugin(plugin);
  // Its derived parts are gone before the base destructor logs anything.
  const TulmKel* outer = std::exchange(dying_, plugin);
  keltk::FreeObject(plugin);
  dying_ = outer;
}

void TulmKelMan::releaseModule(void* module, const std::string& fileName) {
  const std::vector<std::string> cleared = ClearLeftoversOf(module);
  if (!cleared.empty()) {
    // The plug-in's idle handler had taken the hook: the manager takes it back,
    // with the handler it chains to as it was.
    keltk::TApplication* app = keltk::Application();
    if (hookedApplication_ == app && !app->OnIdle()) app->SetOnIdle(ownIdleHandler_);
    LogError(*this, fmt::format("Cleared what plugin \"{}\" left behind: {}.",
                                keltk::ExtractFileName(fileName), fmt::join(cleared, ", ")));
  }
  CloseModuleWhenFree(module);
}

void TulmKelMan::OnAppIdle(keltk::TObject* Sender, bool& Done) {
  if (inIdle_) return;
  inIdle_ = true;
  Done = true;
  drainPendingUnloads();
  if (savedOnIdle_ && !savedOnIdle_.sameCode(ownIdleHandler_)) {
    try {
      savedOnIdle_(Sender, Done);
    } catch (...) {
      // The previous handler's troubles are its own.
    }
  }
  inIdle_ = false;
}

void TulmKelMan::drainPendingUnloads() {
  MethodFrame site{"TulmKelMan.OnAppIdle"};
  site.step = 1;
  GuardedSwallow(this, site, [&] {
    if (pendingUnloads_.empty()) return;
    site.step = 2;
    const int count = static_cast<int>(pendingUnloads_.size());
    for (int pos = count - 1; pos >= 0; --pos) {
      // Unloads may shorten the queue under this loop.
      if (static_cast<std::size_t>(pos) >= pendingUnloads_.size()) continue;
      TulmKel* entry = pendingUnloads_[static_cast<std::size_t>(pos)];
      // Still running (an idle step inside its own modal loop): it waits.
      if (entry == nullptr || PluginCodeRunning(entry)) continue;
      site.step = 3;
      pendingUnloads_.erase(pendingUnloads_.begin() + pos);
      if (reloader_) reloader_->unloadingFromQueue(entry);
      (void)UnloadPlugin(entry);
      if (reloader_) reloader_->unloadingFromQueue(nullptr);
    }
  });
  // The plug-ins unloaded for a reload come back from their new files.
  if (reloader_) GuardedSwallow(this, site, [&] { reloader_->drain(); });
}

void TulmKelMan::HookApplicationIdle() {
  keltk::TApplication* app = keltk::Application();
  IdleHub::instance().serve(app);
  const keltk::TIdleEvent current = app->OnIdle();
  // Only the method is compared: with several managers, the first to hook keeps it.
  if (current && current.sameCode(ownIdleHandler_)) return;
  savedOnIdle_ = current;
  app->SetOnIdle(ownIdleHandler_);
  hookedApplication_ = app;
}

void TulmKelMan::unhookApplicationIdle() {
  keltk::TApplication* app = std::exchange(hookedApplication_, nullptr);
  if (app == nullptr || app->OnIdle() != ownIdleHandler_) return;
  // Another manager of this copy takes the hook over, so that its queue is still
  // drained; with none left, the handler found at hooking time comes back.
  if (TulmKelMan* heir = IdleHub::instance().anyManagerBut(this)) {
    heir->savedOnIdle_ = savedOnIdle_;
    heir->hookedApplication_ = app;
    return;
  }
  app->SetOnIdle(savedOnIdle_);
}

} // namespace kelvarin
