// The activity log that every manager owns: one time-stamped line per recorded
// event, counters by kind, the OnLogChanged broadcast, and the dump file.
#pragma once

#include "kelvarin/MethodResult.h"
#include "kelvarin/Types.h"

#include <array>
#include <cassert>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <keltk/Component.h>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kelvarin {

class TulmKelMan;
class LogLines;
struct MethodFrame;

// The recorded lines of a log, oldest first, each with its dumped mark. Only
// the log adds lines and marks them.
class TLogEntries {
public:
  ~TLogEntries();
  TLogEntries(const TLogEntries&) = delete;
  TLogEntries& operator=(const TLogEntries&) = delete;

  std::size_t Count() const;
  bool Empty() const { return Count() == 0; }
  // The line at `index` (below Count()), time stamp and origin included.
  std::string_view operator[](std::size_t index) const;
  // The newest line; the log must not be empty.
  std::string_view Last() const;
  // Whether the line has been written to the dump file.
  bool Dumped(std::size_t index) const;

private:
  friend class TLog;
  TLogEntries();
  std::unique_ptr<LogLines> lines_;
};

// lkTotal is no kind of entry but the index of the counter of all entries.
enum TLogKind : std::uint8_t { lkTotal, lkAction, lkError, lkCommand, lkMessage, lkUser };
// The kinds above, lkTotal included: the size of a table with a slot per kind.
inline constexpr std::size_t kLogKindCount = 6;
using TLogKindSet = TSet<TLogKind>;
enum TLogDumpOn : std::uint8_t { doNever, doEachNewItem, doClosingManager };

inline constexpr TLogKindSet kDefaultItemsToLog{lkAction, lkError, lkCommand, lkMessage, lkUser};
inline constexpr const char* kDefaultDumpFile = "%HostApp%.kel.log";

class TLog : public keltk::TPersistent {
public:
  TLog();
  ~TLog() override;
  static const keltk::TClassInfo& StaticClass();
  const keltk::TClassInfo& ClassType() const override { return StaticClass(); }

  // The owning manager, set by the manager right after it creates the log.
  TulmKelMan* Manager() const { return manager_; }
  void SetManager(TulmKelMan* manager) { manager_ = manager; }

  std::int32_t GetCount(TLogKind kind) const {
    assert(kind < kLogKindCount);
    return counts_[kind];
  }
  void SetCount(TLogKind kind, std::int32_t value) {
    assert(kind < kLogKindCount);
    counts_[kind] = value;
  }

  // Published settings.
  const std::string& DumpFile() const { return dumpFile_; }
  void SetDumpFile(const std::string& pattern) { dumpFile_ = pattern; }
  bool DumpStats() const { return dumpStats_; }
  void SetDumpStats(bool dump) { dumpStats_ = dump; }
  TLogDumpOn DumpOn() const { return dumpOn_; }
  void SetDumpOn(TLogDumpOn when) { dumpOn_ = when; }
  TLogKindSet ItemsToLog() const { return itemsToLog_; }
  // Never stores lkTotal; a change is told to the OnPropertyModified handlers that
  // monitor pmItemsToLog (the manager's first, then the plug-ins', newest first).
  void SetItemsToLog(TLogKindSet items);

  const TLogEntries& Entries() const { return entries_; }

  // Records one entry from a sealed origin (a live manager or plug-in of this
  // framework copy), when its kind is in ItemsToLog; then dumps it when DumpOn asks
  // and tells every OnLogChanged handler. Result is smrOk only for a recorded entry.
  void LogIt(TOriginToken origin, std::string_view msg, TLogKind kind, TKelMethodResult& result);
  // The log's own overload: the log itself is the origin, which no log accepts.
  void LogIt(std::string_view msg, TLogKind kind, TKelMethodResult& result);

  // Writes to the dump file: with an empty `statistics` the newest entry (when not
  // yet written), else what is left of the entries and then the statistics block.
  void DumpLog(const std::string& statistics);
  // DumpFile with its first "%HostApp%" (any letter case) replaced by the running
  // program's path without extension.
  std::string DumpFileName() const;

private:
  friend class FrameworkAccess;
  friend class TulmKelMan;
  struct Work;
  // Index of the oldest entry not yet in the dump file (Count when none).
  std::size_t FirstUndumped() const;
  // From a crash handler: writes the entries not yet dumped and `message` as a
  // last error entry of the manager, with nothing but system calls. Answers the
  // file written (valid until the next call), null when none was.
  const char* WriteCrashRecord(std::string_view message) noexcept;
  LogLines& lines() { return *entries_.lines_; }
  const LogLines& lines() const { return *entries_.lines_; }
  // LogIt once its origin is known to be live: the manager (`fromManager`) or
  // one of its plug-ins. Runs inside the caller's guard, under its `site`; true
  // when the entry was recorded and told.
  bool record(keltk::TComponent* origin, bool fromManager, std::string_view msg, TLogKind kind,
              MethodFrame& site);
  void formatEntry(std::string_view originText, TLogKind kind, std::string_view msg);
  std::string_view stampNow();
  void tellLogChanged(keltk::TComponent* origin, std::string_view line, MethodFrame& site);
  void recordHandlerFailures(std::vector<std::string>& failures);
  void writeHeader(int fd, std::string_view header);
  bool crashDumpName(char* out, std::size_t capacity) const noexcept;
  // One dump into `name`; the failure's text (already reported) or empty.
  std::string dumpTo(const std::string& name, const std::string& statistics, MethodFrame& site);

  TulmKelMan* manager_ = nullptr;
  std::array<std::int32_t, kLogKindCount> counts_{};
  std::string dumpFile_ = kDefaultDumpFile;
  bool dumpStats_ = true;
  TLogDumpOn dumpOn_ = doClosingManager;
  TLogKindSet itemsToLog_ = kDefaultItemsToLog;
  TLogEntries entries_;

  std::unique_ptr<Work> work_; // scratch, stamp cache, re-entrance guards, dump state
};

} // namespace kelvarin
