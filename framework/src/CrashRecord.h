// What the crash handler needs ready before a crash, since a signal handler may
// neither allocate nor take locks.
#pragma once

#include <string>

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

// Null until the host asked for crash records (HandleEndingSignals).
const CrashPreparation* PreparedForCrash();

// The logs a crash record is written to: every live one.
void RegisterLogForCrash(TLog* log) noexcept;
void UnregisterLogForCrash(TLog* log) noexcept;

// Formats the local time now as "yyyy/mm/dd hh:nn:ss.zzz" into `out` (23 bytes);
// safe in a signal handler.
void CrashStamp(const CrashPreparation& p, char* out) noexcept;

} // namespace kelvarin
