// The bracket around every call into a plug-in's code (its handlers, its
// Initialize and Finalize, its commands). While a plug-in's code is on the stack
// its module must stay mapped, so the manager defers an unload of that plug-in to
// the idle-time queue instead of releasing the module under the running code.
#pragma once

#include "ExceptionReport.h"
#include "FrameworkAccess.h"
#include "kelvarin/plugin.h"

#include <optional>
#include <string>
#include <utility>

namespace kelvarin {

// Marks `plugin`'s code as running for as long as the scope lives. Scopes nest;
// a null plug-in marks nothing. The plug-in outlives the scope because an unload
// of a running plug-in is always deferred.
class PluginCallScope {
public:
  explicit PluginCallScope(TulmKel* plugin) noexcept : plugin_(plugin) {
    if (plugin_ != nullptr) FrameworkAccess::enterCode(*plugin_);
  }
  ~PluginCallScope() {
    if (plugin_ != nullptr) FrameworkAccess::leaveCode(*plugin_);
  }
  PluginCallScope(const PluginCallScope&) = delete;
  PluginCallScope& operator=(const PluginCallScope&) = delete;

private:
  TulmKel* plugin_;
};

// CallHandler for a handler that belongs to `plugin`: runs it inside the bracket.
template <class Call>
std::optional<std::string> CallPluginHandler(const keltk::TObject* origin, MethodFrame& site,
                                             TulmKel* plugin, Call&& call) {
  PluginCallScope scope(plugin);
  return CallHandler(origin, site, std::forward<Call>(call));
}

// TryHandler for a handler that belongs to `plugin`.
template <class Call> std::optional<HandlerFailure> TryPluginHandler(TulmKel* plugin, Call&& call) {
  PluginCallScope scope(plugin);
  return TryHandler(std::forward<Call>(call));
}

} // namespace kelvarin
