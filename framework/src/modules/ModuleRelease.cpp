#include "ModuleRelease.h"

#include "IdleHub.h"
#include "Immortal.h"
#include "Leftovers.h"
#include "ModuleLoader.h"
#include "RunningCode.h"
#include "kelvarin/manager.h"
#include "kelvarin/plugin.h"

#include <algorithm>
#include <chrono>
#include <keltk/Application.h>
#include <keltk/Backend.h>
#include <vector>

namespace kelvarin {

namespace {

// A thread seen in a module's code may only be between two calls into it: a
// std::thread's state object, which the module made, is destroyed after the
// thread's function has returned. A module a thread held must be seen free for
// a while before it goes.
constexpr auto kThreadGrace = std::chrono::milliseconds(100);

struct ThreadHold {
  void* module;
  std::chrono::steady_clock::time_point freeSince; // zero: held at the last look
};
// Modules released but still mapped, waiting for what holds them, and those a
// thread held. Emptied as modules go; reached until the process has ended.
struct Waiting {
  std::vector<void*> modules;
  std::vector<ThreadHold> threadHolds;
};
Waiting& waiting() {
  return Immortal<Waiting>();
}

bool heldByAThread(void* module) {
  std::vector<ThreadHold>& holds = waiting().threadHolds;
  const auto hold = std::find_if(holds.begin(), holds.end(),
                                 [&](const ThreadHold& h) { return h.module == module; });
  if (ModuleCodeOnOtherThreads(module)) {
    if (hold == holds.end())
      holds.push_back({module, {}});
    else
      hold->freeSince = {};
    return true;
  }
  if (hold == holds.end()) return false;
  const auto now = std::chrono::steady_clock::now();
  if (hold->freeSince == std::chrono::steady_clock::time_point{}) hold->freeSince = now;
  if (now - hold->freeSince < kThreadGrace) return true;
  holds.erase(hold);
  return false;
}

// Whether something besides the plug-in object may still run the module's code:
// objects or calls the window system holds for it, or another thread's stack.
// (The unloads that release a module have looked at the calling thread's.)
bool moduleHeld(void* module) {
  keltk::TGuiBackend* backend = keltk::GuiBackend();
  if (backend != nullptr && backend->releaseModuleObjects(module) > 0) return true;
  const ModuleSpan span = SpanOfModule(module);
  if (keltk::Application()->HasPostedCall(
          [&](const std::type_info& type) { return span.holds(&type); }))
    return true;
  return heldByAThread(module);
}

// Whether a plug-in of a live manager of this copy still runs from `module`.
bool moduleInUse(const void* module) {
  return IdleHub::instance().anyManager([&](const TulmKelMan& manager) {
    for (int i = manager.GetPluginCount() - 1; i >= 0; --i)
      if (const TulmKel* p = manager.GetPlugins(i); p != nullptr && p->ModuleHandle() == module)
        return true;
    return false;
  });
}

template <class T> void eraseAll(std::vector<T*>& list, const T* item) {
  list.erase(std::remove(list.begin(), list.end(), item), list.end());
}

void closeWhenFree(ModuleHandle module);

// What cannot go yet: a plug-in object whose code was still running when its
// manager went, then its module while something still holds it. The
// application's release queue tries again at each idle step.
class ModuleRelease final : public keltk::TComponent {
public:
  ModuleRelease(TulmKel* plugin, ModuleHandle module)
      : TComponent(nullptr), plugin_(plugin), module_(std::move(module)) {}
  ~ModuleRelease() override {
    // The application empties its queue as the program ends: nothing is tried
    // again, and the module stays mapped to the end, since the window system's
    // own teardown may still destroy objects of it.
    const bool ending = keltk::Application()->Closing();
    if (!ending && plugin_ != nullptr && PluginCodeRunning(plugin_)) {
      queue(plugin_, std::move(module_));
      return;
    }
    // Reached from an idle step inside a loop the module's code runs.
    if (!ending && plugin_ == nullptr && ModuleCodeOnStack(module_.get())) {
      queue(nullptr, std::move(module_));
      return;
    }
    keltk::FreeObject(plugin_);
    if (ending) {
      (void)module_.release();
      return;
    }
    // Whatever the module set up since it was unloaded; no manager is left to say so.
    (void)ClearLeftoversOf(module_.get());
    closeWhenFree(std::move(module_));
  }
  static void queue(TulmKel* plugin, ModuleHandle module) {
    std::vector<void*>& pending = waiting().modules;
    if (std::find(pending.begin(), pending.end(), module.get()) == pending.end())
      pending.push_back(module.get());
    keltk::Application()->ReleaseLater(
        keltk::CreateObject<ModuleRelease>(plugin, std::move(module)));
  }

private:
  TulmKel* plugin_;
  ModuleHandle module_;
};

void closeWhenFree(ModuleHandle module) {
  if (!module) return;
  // A second instance of the same file runs from it: only a reference goes.
  if (moduleInUse(module.get())) return;
  if (moduleHeld(module.get())) {
    ModuleRelease::queue(nullptr, std::move(module));
    return;
  }
  void* const handle = module.get();
  eraseAll(waiting().modules, handle);
  module.reset();
  if (keltk::TGuiBackend* backend = keltk::GuiBackend()) backend->forgetModule(handle);
}

} // namespace

void CloseModuleWhenFree(void* module) {
  closeWhenFree(ModuleHandle(module));
}

std::vector<std::string> ClearLeftoversOf(void* module) {
  // A second instance of the same file still runs from it, with its handlers.
  if (moduleInUse(module)) return {};
  const ModuleSpan span = SpanOfModule(module);
  std::vector<std::string> cleared = ClearModuleLeftovers(span);
  if (IdleHub::instance().forgetChainedHandlersIn(span) &&
      std::find(cleared.begin(), cleared.end(), "Application.OnIdle") == cleared.end())
    cleared.insert(cleared.begin(), "Application.OnIdle");
  return cleared;
}

bool PluginCodeRunning(const TulmKel* plugin) {
  return plugin->CodeRunning() || ModuleCodeOnStack(plugin->ModuleHandle());
}

void ReleaseWhenReturned(TulmKel* plugin, void* module) {
  ModuleRelease::queue(plugin, ModuleHandle(module));
}

bool ModuleReleasePending(const std::string& path) {
  const std::vector<void*>& pendingModules = waiting().modules;
  if (pendingModules.empty()) return false;
  void* mapped = MappedModule(path);
  return mapped != nullptr &&
         std::find(pendingModules.begin(), pendingModules.end(), mapped) != pendingModules.end();
}

} // namespace kelvarin
