#include "ExceptionReport.h"

#include "kelvarin/Commands.h"
#include "kelvarin/Log.h"
#include "kelvarin/manager.h"
#include "kelvarin/plugin.h"

#include <fmt/format.h>
#include <keltk/StrUtils.h>

namespace kelvarin {

namespace {
// Reports can nest (a handler called while a report is logged may fail in turn);
// past this depth a report is dropped instead of recursing further.
constexpr int kMaxReportDepth = 8;
int reportDepth = 0;
} // namespace

std::string ExceptionReportLine(std::string_view module, std::string_view unit,
                                std::string_view location, std::uint16_t step,
                                const keltk::Exception& e) {
  return fmt::format("EXCEPTION [{}] {}.{}.{}: [{}] {}", module, unit, location, step,
                     e.ClassName(), e.Message());
}

void ReportException(const keltk::TObject* origin, std::string_view module, std::string_view unit,
                     std::string_view location, std::uint16_t step, const keltk::Exception& e) {
  if (reportDepth >= kMaxReportDepth) return;
  ++reportDepth;
  try {
    // Only a plug-in (through its manager) or a manager leads to a log; command
    // objects report through their plug-in.
    if (const TulmKel* owner = PluginOfCommandObject(origin)) origin = owner;
    const keltk::TComponent* source = nullptr;
    TulmKelMan* manager = nullptr;
    if (const TulmKel* plugin = keltk::ObjectAs<TulmKel>(origin)) {
      source = plugin;
      manager = plugin->Manager();
    } else if (const TulmKelMan* owner = keltk::ObjectAs<TulmKelMan>(origin)) {
      source = owner;
      manager = const_cast<TulmKelMan*>(owner);
    }
    if (manager != nullptr && manager->Log() != nullptr) {
      TKelMethodResult scratch;
      manager->Log()->LogIt(SealOrigin(source),
                            ExceptionReportLine(module, unit, location, step, e), lkError, scratch);
    }
  } catch (...) {
    // A report never raises.
  }
  --reportDepth;
}

std::string HostEventFailure(std::string_view event, std::string_view message) {
  return fmt::format("Event {} on host raised an exception:  {}", event, message);
}

std::string PluginEventFailure(std::string_view event, std::string_view plugin,
                               std::string_view message) {
  return fmt::format("Event {} on plugin \"{}\" raised an exception:  {}", event, plugin, message);
}

std::string PluginMethodFailure(std::string_view method, std::string_view plugin,
                                std::string_view message) {
  return fmt::format("Method {} on plugin \"{}\" raised an exception:  {}", method, plugin,
                     message);
}

std::string PluginMethodError(std::string_view method, std::string_view plugin, std::int32_t code) {
  return fmt::format("Method {} on plugin \"{}\" returned an error:  ${}", method, plugin,
                     keltk::IntToHex(static_cast<std::uint32_t>(code), 4));
}

} // namespace kelvarin
