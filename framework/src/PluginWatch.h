// A plug-in pointer that an operation keeps across calls into handlers, which may
// unload that very plug-in. The manager marks the watch when it destroys the
// object, so the operation never reads a destroyed plug-in, even when a new one
// has been made at the same address meanwhile.
#pragma once

#include "kelvarin/manager.h"

#include <algorithm>

namespace kelvarin {

class PluginWatch {
public:
  // `unloading`: the watch belongs to an unload of the plug-in.
  PluginWatch(TulmKelMan& manager, TulmKel* plugin, bool unloading = false)
      : manager_(manager), plugin_(plugin), unloading_(unloading) {
    manager_.watches_.push_back(this);
  }
  ~PluginWatch() {
    auto& watches = manager_.watches_;
    watches.erase(std::remove(watches.begin(), watches.end(), this), watches.end());
  }
  PluginWatch(const PluginWatch&) = delete;
  PluginWatch& operator=(const PluginWatch&) = delete;

  // Null once the plug-in has been destroyed.
  TulmKel* plugin() const { return destroyed_ ? nullptr : plugin_; }
  bool destroyed() const { return destroyed_; }
  void watch(TulmKel* plugin) {
    plugin_ = plugin;
    destroyed_ = false;
  }
  // Whether an unload of `plugin` by `manager` is under way.
  static bool unloadUnderWay(const TulmKelMan& manager, const TulmKel* plugin) {
    return std::any_of(manager.watches_.begin(), manager.watches_.end(),
                       [&](PluginWatch* w) { return w->unloading_ && w->plugin() == plugin; });
  }

  // Called by the manager as it destroys `plugin`.
  void destroying(const TulmKel* plugin) {
    if (plugin_ == plugin && plugin != nullptr) destroyed_ = true;
  }

private:
  TulmKelMan& manager_;
  TulmKel* plugin_;
  bool unloading_;
  bool destroyed_ = false;
};

} // namespace kelvarin
