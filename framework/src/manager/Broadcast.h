// How a manager event reaches its listeners: the host's handler first, then each
// plug-in's, newest first, each in its own guard. A handler that raises leaves a
// line naming the event (and the plug-in) and the walk goes on. What differs from
// one event to the next is a parameter here, so that a new event is one call.
#pragma once

#include "ExceptionReport.h"
#include "LogCalls.h"
#include "PluginCallScope.h"
#include "PluginWatch.h"
#include "kelvarin/manager.h"
#include "kelvarin/plugin.h"

#include <cstdint>
#include <keltk/StrUtils.h>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kelvarin {

// When a handler's failure lines are logged.
enum class FailureLines {
  AtOnce,    // as each handler fails
  AfterWalk, // handed back to the caller: logged at once they would reach the handlers again
};

struct BroadcastRule {
  // The events as the failure lines name them, e.g. "OnBeforeLoad()" and
  // "OnAnyPluginBeforeLoad()".
  std::string_view hostEvent;
  std::string_view pluginEvent;
  FailureLines lines = FailureLines::AtOnce;
  std::uint16_t pluginStep = 0; // the marker for the plug-ins' part; 0 keeps the host's
};

struct BroadcastEnd {
  bool completed = true;             // false when a visit stopped the walk
  std::vector<std::string> failures; // the lines of an AfterWalk broadcast, in order
};

// How a failure line names the plug-in whose handler raised.
inline std::string ShortNameOf(const TulmKel* plugin) {
  return plugin->ShortFileName();
}
inline std::string FileNamePartOf(const TulmKel* plugin) {
  return keltk::ExtractFileName(plugin->FileName());
}

// A walk that no visit stops.
struct KeepGoing {
  bool operator()() const { return true; }
};

// Calls `callHost()` when `hostListens`, then `callPlugin(p)` for each loaded
// plug-in `p` that `pluginListens(p)`, newest first. After every handler that ran,
// `goOn()` says whether the walk goes on. `namePlugin(p)` is asked before the
// plug-in's handler runs, since the handler may take the plug-in away.
template <class CallHost, class Listens, class CallPlugin, class NamePlugin, class GoOn = KeepGoing>
BroadcastEnd Broadcast(TulmKelMan& manager, MethodFrame& site, const BroadcastRule& rule,
                       bool hostListens, CallHost&& callHost, Listens&& pluginListens,
                       CallPlugin&& callPlugin, NamePlugin&& namePlugin, GoOn goOn = {}) {
  BroadcastEnd end;
  // Runs one handler. An exception outside the toolkit's family is reported at
  // once, still inside the handler's bracket, when the lines are logged at once.
  auto guarded = [&](auto&& call) {
    std::optional<HandlerFailure> failure = TryHandler(call);
    if (failure && failure->foreign) {
      if (rule.lines == FailureLines::AtOnce)
        ReportException(&manager, site, *failure->foreign);
      else
        end.failures.push_back(ExceptionReportLine(kReportModule, kReportUnit, site.location,
                                                   site.step, *failure->foreign));
    }
    return failure;
  };
  auto record = [&](std::string line) {
    if (rule.lines == FailureLines::AfterWalk) {
      end.failures.push_back(std::move(line));
      return;
    }
    LogError(manager, line);
  };

  if (hostListens) {
    if (auto failure = guarded(callHost))
      record(HostEventFailure(rule.hostEvent, failure->message));
    if (!goOn()) {
      end.completed = false;
      return end;
    }
  }
  if (rule.pluginStep != 0) site.step = rule.pluginStep;
  ForEachPlugin(manager, site, [&](TulmKel* plugin) {
    if (!pluginListens(plugin)) return true;
    const std::string name = namePlugin(plugin);
    std::optional<HandlerFailure> failure;
    {
      const PluginCallScope scope(plugin);
      failure = guarded([&] { callPlugin(plugin); });
    }
    if (failure) record(PluginEventFailure(rule.pluginEvent, name, failure->message));
    if (goOn()) return true;
    end.completed = false;
    return false;
  });
  return end;
}

// Whether any handler of the event would run: the host's or any loaded plug-in's.
template <class Listens>
bool AnyoneListens(const TulmKelMan& manager, bool hostListens, Listens&& pluginListens) {
  if (hostListens) return true;
  for (int i = manager.GetPluginCount() - 1; i >= 0; --i)
    if (TulmKel* plugin = manager.GetPlugins(i); plugin != nullptr && pluginListens(plugin))
      return true;
  return false;
}

} // namespace kelvarin
