// Uniform exception reports. Every framework method records how far it got in a
// step frame and wraps its body in a guard that turns an exception into one
// error line of the log. Plug-in code may throw anything, so the guards take
// every exception: one outside the toolkit's family is reported as an
// EForeignException (its type and what()).
#pragma once

#include "kelvarin/MethodResult.h"

#include <atomic>
#include <cstdint>
#include <keltk/Exception.h>
#include <keltk/Object.h>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace kelvarin {

// The names every report carries, whichever module the framework code runs in.
inline constexpr const char* kReportModule = "ulmKELrp.bpl";
inline constexpr const char* kReportUnit = "ulmKELru";

// Where one call of a framework method has got to: its location name
// ("TClass.Method"), its step marker and, for setters that raise their own
// property error, the re-raise mark. Each call declares its own at entry, so a
// handler that re-enters the method leaves the outer call's step alone; helpers
// that count steps of their caller's method take the caller's frame.
struct MethodFrame {
  const char* location;
  std::uint16_t step = 0;
  bool reraise = false;

  explicit MethodFrame(const char* locationName) : location(locationName) {}
  MethodFrame(const MethodFrame&) = delete;
  MethodFrame& operator=(const MethodFrame&) = delete;
};

// "EXCEPTION [module] unit.location.step: [class] message".
std::string ExceptionReportLine(std::string_view module, std::string_view unit,
                                std::string_view location, std::uint16_t step,
                                const keltk::Exception& e);

// Writes the report line as an error entry to the log of the manager or plug-in
// behind `origin`; an origin that leads to no log drops the report. Never raises.
void ReportException(const keltk::TObject* origin, std::string_view module, std::string_view unit,
                     std::string_view location, std::uint16_t step, const keltk::Exception& e);

inline void ReportException(const keltk::TObject* origin, const MethodFrame& site,
                            const keltk::Exception& e) {
  ReportException(origin, kReportModule, kReportUnit, site.location, site.step, e);
}

// The method guard of most methods: report and swallow.
template <class Body>
void GuardedSwallow(const keltk::TObject* origin, MethodFrame& site, Body&& body) {
  try {
    std::forward<Body>(body)();
  } catch (const keltk::Exception& e) {
    ReportException(origin, site, e);
  } catch (...) {
    ReportException(origin, site, keltk::ForeignException());
  }
}

// Constructors and streaming hooks: report, then pass the exception on.
template <class Body>
void GuardedPassOn(const keltk::TObject* origin, MethodFrame& site, Body&& body) {
  try {
    std::forward<Body>(body)();
  } catch (const keltk::Exception& e) {
    ReportException(origin, site, e);
    throw;
  } catch (...) {
    ReportException(origin, site, keltk::ForeignException());
    throw;
  }
}

// Setters that refuse a value at design time: report, and pass on only the
// property error the setter raised itself (RaiseMarked); swallow anything else.
template <class Body>
void GuardedSetter(const keltk::TObject* origin, MethodFrame& site, Body&& body) {
  site.reraise = false;
  try {
    std::forward<Body>(body)();
  } catch (const keltk::Exception& e) {
    ReportException(origin, site, e);
    if (site.reraise) {
      site.reraise = false;
      throw;
    }
  } catch (...) {
    ReportException(origin, site, keltk::ForeignException());
  }
}

// Sets the re-raise mark and raises the result as its exception class.
[[noreturn]] inline void RaiseMarked(MethodFrame& site, const TKelMethodResult& result) {
  site.reraise = true;
  RaiseResult(result);
}

// What a handler raised: the message for the caller's "raised an exception"
// line and, for an exception outside the toolkit's family, the exception itself,
// whose report line names its type.
struct HandlerFailure {
  std::string message;
  std::optional<keltk::EForeignException> foreign;
};

// How many host or plug-in handlers this framework copy has started, on any
// thread: a caller that finds it unchanged knows that no foreign code ran in
// between (what it read of the world before still holds, as far as that code
// could have changed it).
inline std::atomic<std::uint64_t> handlersStarted{0};

// Runs one host or plug-in handler; answers what it raised, if anything.
template <class Call> std::optional<HandlerFailure> TryHandler(Call&& call) {
  handlersStarted.fetch_add(1, std::memory_order_relaxed);
  try {
    std::forward<Call>(call)();
    return std::nullopt;
  } catch (const keltk::Exception& e) {
    return HandlerFailure{e.Message(), std::nullopt};
  } catch (...) {
    keltk::EForeignException e = keltk::ForeignException();
    std::string message = e.Message();
    return HandlerFailure{std::move(message), std::move(e)};
  }
}

// The event-handler guard: runs one host or plug-in handler and returns the
// message of the exception it raised, for the caller's "raised an exception"
// line. An exception outside the toolkit's family is also reported under `site`
// (its type and what()), since the caller's line carries only the message.
template <class Call>
std::optional<std::string> CallHandler(const keltk::TObject* origin, MethodFrame& site,
                                       Call&& call) {
  std::optional<HandlerFailure> failure = TryHandler(std::forward<Call>(call));
  if (!failure) return std::nullopt;
  if (failure->foreign) ReportException(origin, site, *failure->foreign);
  return std::move(failure->message);
}

// The lines a failing handler leaves in the log; `event` is the event's name
// followed by "()", e.g. "OnBeforeLoad()".
std::string HostEventFailure(std::string_view event, std::string_view message);
std::string PluginEventFailure(std::string_view event, std::string_view plugin,
                               std::string_view message);
std::string PluginMethodFailure(std::string_view method, std::string_view plugin,
                                std::string_view message);
// A plug-in method that answered a failure, its code shown as "$E008".
std::string PluginMethodError(std::string_view method, std::string_view plugin, std::int32_t code);

} // namespace kelvarin
