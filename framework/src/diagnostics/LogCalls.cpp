#include "LogCalls.h"

#include "ExceptionReport.h"
#include "kelvarin/Log.h"
#include "kelvarin/manager.h"
#include "kelvarin/plugin.h"

namespace kelvarin {

namespace {

bool logs(const TulmKelMan& manager, TLogKind kind) {
  return manager.Log() != nullptr && manager.Log()->ItemsToLog().contains(kind);
}

bool logs(const TulmKel& plugin, TLogKind kind) {
  const TulmKelMan* manager = plugin.Manager();
  return manager == nullptr || logs(*manager, kind);
}

void log(TulmKelMan& manager, std::string_view msg, TLogKind kind) {
  if (!logs(manager, kind)) return;
  TKelMethodResult scratch;
  manager.LogIt(msg, kind, scratch);
}

} // namespace

// Only building a line can raise here (out of memory): LogIt guards the rest.
void LogAction(TulmKelMan& manager, ActionText text, std::initializer_list<std::string_view> args) {
  if (!logs(manager, lkAction)) return;
  MethodFrame site{"TulmKelMan.LogIt"};
  site.step = 1;
  GuardedSwallow(&manager, site, [&] {
    TKelMethodResult scratch;
    fmt::memory_buffer line;
    manager.LogIt(ActionLine(line, text, args), lkAction, scratch);
  });
}

void LogError(TulmKelMan& manager, std::string_view msg) {
  log(manager, msg, lkError);
}

void LogCommand(TulmKelMan& manager, std::string_view msg) {
  log(manager, msg, lkCommand);
}

void LogMessage(TulmKelMan& manager, std::string_view msg) {
  log(manager, msg, lkMessage);
}

void LogAction(TulmKel& plugin, ActionText text, std::initializer_list<std::string_view> args) {
  if (!logs(plugin, lkAction)) return;
  MethodFrame site{"TulmKel.LogIt"};
  site.step = 11;
  GuardedSwallow(&plugin, site, [&] {
    fmt::memory_buffer line;
    (void)plugin.LogIt(ActionLine(line, text, args), lkAction);
  });
}

void LogError(TulmKel& plugin, std::string_view msg) {
  if (logs(plugin, lkError)) (void)plugin.LogIt(msg, lkError);
}

} // namespace kelvarin
