// Plug-in pointers that an operation keeps across calls into handlers, which may
// unload those very plug-ins. The manager tells every observer when it destroys a
// plug-in, so an operation never reads a destroyed plug-in, even when a new one
// has been made at the same address meanwhile.
#pragma once

#include "ExceptionReport.h"
#include "kelvarin/manager.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace kelvarin {

// Registered with the manager for as long as it lives.
class PluginObserver {
public:
  explicit PluginObserver(TulmKelMan& manager) : manager_(manager) {
    manager_.watches_.push_back(this);
  }
  virtual ~PluginObserver() {
    auto& watches = manager_.watches_;
    watches.erase(std::remove(watches.begin(), watches.end(), this), watches.end());
  }
  PluginObserver(const PluginObserver&) = delete;
  PluginObserver& operator=(const PluginObserver&) = delete;

  // Called by the manager as it destroys `plugin`, and as it queues its unload.
  virtual void destroying(const TulmKel* plugin) = 0;
  virtual void queued(const TulmKel* /*plugin*/) {}
  // Whether this belongs to an unload of `plugin` that is under way.
  virtual bool unloading(const TulmKel* /*plugin*/) const { return false; }
  // The one plug-in an operation holds (being loaded or unloaded), if any.
  virtual TulmKel* held() const { return nullptr; }

protected:
  TulmKelMan& manager() const { return manager_; }
  static const std::vector<PluginObserver*>& observersOf(const TulmKelMan& manager) {
    return manager.watches_;
  }
  static const TulmKel* dyingOf(const TulmKelMan& manager) { return manager.dying_; }

private:
  TulmKelMan& manager_;
};

// The host's or a plug-in's handler that the manager is calling, innermost
// first: what an operation names when a handler has taken its plug-in away.
class HandlerFrame {
public:
  HandlerFrame(TulmKelMan& manager, const keltk::TComponent& owner, std::string_view event)
      : manager_(manager), outer_(std::exchange(manager.runningHandler_, this)), owner_(owner),
        event_(event) {}
  ~HandlerFrame() { manager_.runningHandler_ = outer_; }
  HandlerFrame(const HandlerFrame&) = delete;
  HandlerFrame& operator=(const HandlerFrame&) = delete;

  // The handler as E00E names it: "ulmKelMan1.OnAfterLoad".
  std::string name() const { return owner_.Name() + "." + std::string(event_); }
  static const HandlerFrame* innermost(const TulmKelMan& manager) {
    return manager.runningHandler_;
  }

private:
  TulmKelMan& manager_;
  const HandlerFrame* outer_;
  const keltk::TComponent& owner_;
  std::string_view event_;
};

// One plug-in, watched.
class PluginWatch final : public PluginObserver {
public:
  // `unloading`: the watch belongs to an unload of the plug-in.
  PluginWatch(TulmKelMan& manager, TulmKel* plugin, bool unloading = false)
      : PluginObserver(manager), plugin_(plugin), unloading_(unloading) {}

  // Null once the plug-in has been destroyed.
  TulmKel* plugin() const { return destroyed_ ? nullptr : plugin_; }
  bool destroyed() const { return destroyed_; }
  void watch(TulmKel* plugin) {
    plugin_ = plugin;
    destroyed_ = false;
    culprit_.clear();
  }
  // The handler that destroyed the plug-in or queued its unload first, or "".
  const std::string& culprit() const { return culprit_; }
  // Whether an unload of `plugin` by `manager` is under way.
  static bool unloadUnderWay(const TulmKelMan& manager, const TulmKel* plugin) {
    const auto& all = observersOf(manager);
    return std::any_of(all.begin(), all.end(),
                       [&](const PluginObserver* o) { return o->unloading(plugin); });
  }
  bool unloading(const TulmKel* plugin) const override {
    return unloading_ && this->plugin() == plugin;
  }
  TulmKel* held() const override { return plugin(); }

  void destroying(const TulmKel* plugin) override {
    if (plugin_ != plugin || plugin == nullptr) return;
    noteCulprit();
    destroyed_ = true;
  }
  void queued(const TulmKel* plugin) override {
    if (plugin_ == plugin && plugin != nullptr && !destroyed_) noteCulprit();
  }

private:
  void noteCulprit() {
    if (!culprit_.empty()) return;
    if (const HandlerFrame* frame = HandlerFrame::innermost(manager())) culprit_ = frame->name();
  }

  TulmKel* plugin_;
  bool unloading_;
  bool destroyed_ = false;
  std::string culprit_;
};

// The manager's plug-ins as they were when the roster was taken, newest first,
// less the ones destroyed since. What a broadcast walks: each plug-in is told at
// most once, one that leaves is not told any more, one that arrives is not told.
class PluginRoster final : public PluginObserver {
public:
  explicit PluginRoster(TulmKelMan& manager) : PluginObserver(manager) {
    for (int i = manager.GetPluginCount() - 1; i >= 0; --i)
      if (TulmKel* plugin = manager.GetPlugins(i); plugin != nullptr && plugin != dyingOf(manager))
        plugins_.push_back(plugin);
  }

  // Calls `visit(plugin)` for each plug-in still alive, until a visit that answers
  // a bool answers false. An exception from one visit is reported under `site`
  // and the next plug-in follows.
  template <class Visit> void forEach(MethodFrame& site, Visit&& visit) {
    for (std::size_t i = 0; i < plugins_.size(); ++i) {
      TulmKel* plugin = plugins_[i];
      if (plugin == nullptr) continue;
      bool goOn = true;
      GuardedSwallow(&manager(), site, [&] {
        if constexpr (std::is_void_v<decltype(visit(plugin))>)
          visit(plugin);
        else
          goOn = visit(plugin);
      });
      if (!goOn) return;
    }
  }

  void destroying(const TulmKel* plugin) override {
    std::replace(plugins_.begin(), plugins_.end(), const_cast<TulmKel*>(plugin),
                 static_cast<TulmKel*>(nullptr));
  }

private:
  std::vector<TulmKel*> plugins_;
};

// Visits the manager's plug-ins newest first as a PluginRoster does; `visit`
// answers whether to go on.
template <class Visit> void ForEachPlugin(TulmKelMan& manager, MethodFrame& site, Visit&& visit) {
  PluginRoster roster(manager);
  roster.forEach(site, std::forward<Visit>(visit));
}

} // namespace kelvarin
