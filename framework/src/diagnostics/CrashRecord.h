// What the crash handler needs ready before a crash, since a signal handler may
// neither allocate nor take locks.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kelvarin {

class TLog;

struct CrashPreparation {
  std::string header;         // the dump file header lines, CR LF ended
  std::string fallbackFolder; // empty when the user has no state folder
  std::string fallbackFile;
  long utcOffset = 0; // seconds east of UTC when prepared
  char dateSeparator = '/';
  char timeSeparator = ':';
};

// Makes ready what the handler needs (the dump header, the fallback file, the
// time zone, the unwinder); once, before the handlers are installed.
void PrepareForCrash();

// Null until the host asked for crash records (HandleEndingSignals).
const CrashPreparation* PreparedForCrash();

// The logs a crash record is written to: every live one.
void RegisterLogForCrash(TLog* log) noexcept;
void UnregisterLogForCrash(TLog* log) noexcept;

// The registered logs, read by the handler; a null slot is free.
inline constexpr std::size_t kMostCrashLogs = 64;
const std::array<std::atomic<TLog*>, kMostCrashLogs>& LogsForCrash() noexcept;

// The modules OpenModule mapped, under the file name they were asked for: the
// crash handler cannot ask the loader (it takes locks), and a module that runs
// from a private copy is known to its author by the file's name, not the copy's.
// Counted: a module opened twice is forgotten at its last close.
void NoteModuleForCrash(void* module, std::string_view fileName) noexcept;
void ForgetModuleForCrash(void* module) noexcept;

// Where a code address lies: the module file and the address as an offset into
// it, the number addr2line takes.
struct CodePlace {
  std::string_view module;
  std::uintptr_t offset = 0;
};

// The place of `address` in a module noted above, if it lies in one; safe in a
// signal handler.
std::optional<CodePlace> KnownModulePlaceOf(std::uintptr_t address) noexcept;

// Formats the local time now as "yyyy/mm/dd hh:nn:ss.zzz" into `out` (23 bytes);
// safe in a signal handler.
void CrashStamp(const CrashPreparation& p, char* out) noexcept;

} // namespace kelvarin
