#include "kelvarin/Log.h"

#include "Broadcast.h"
#include "CrashRecord.h"
#include "DumpFile.h"
#include "ExceptionReport.h"
#include "LogLines.h"
#include "Origin.h"
#include "PluginCallScope.h"
#include "PluginWatch.h"
#include "ThreadCheck.h"
#include "TypeInfo.h"
#include "UniqueFd.h"
#include "kelvarin/manager.h"
#include "kelvarin/plugin.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fmt/format.h>
#include <keltk/Application.h>
#include <keltk/Exception.h>
#include <keltk/PropInfo.h>
#include <keltk/StrUtils.h>
#include <keltk/SysUtils.h>
#include <limits>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace kelvarin {

namespace {

// The live origin at `address`, as seen from the log of `manager`.
LiveOrigin findOrigin(TulmKelMan* manager, const void* address) {
  LiveOrigin who = FindLiveOrigin(address);
  if (who.kind != OriginKind::None || address == nullptr || manager == nullptr) return who;
  // Objects made by another copy of the framework (a plug-in module's, or the
  // host's) are in that copy's registry; this log still knows its own manager and
  // the plug-ins in its list. Only addresses are compared.
  if (address == static_cast<const void*>(manager)) return {manager, OriginKind::Manager};
  for (int i = manager->GetPluginCount() - 1; i >= 0; --i)
    if (TulmKel* plugin = manager->GetPlugins(i); address == static_cast<const void*>(plugin))
      return {plugin, OriginKind::Plugin};
  return {};
}

constexpr char kKindLetters[] = {'\0', 'A', 'E', 'C', 'M', 'U'};
static_assert(std::size(kKindLetters) == kLogKindCount);
constexpr std::size_t kOriginWidth = 20;
constexpr const char* kLineEnd = "\r\n";
// The width of the rules that frame the header and the statistics block.
constexpr std::size_t kRuleWidth = 145;

bool isContinuationByte(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Appends `text` cut or padded with blanks to `width` characters (UTF-8 aware, so
// a name is never cut inside a character).
void appendFitted(std::string& out, std::string_view text, std::size_t width) {
  std::size_t chars = 0;
  std::size_t end = 0;
  while (end < text.size() && chars < width) {
    ++end;
    while (end < text.size() && isContinuationByte(text[end]))
      ++end;
    ++chars;
  }
  out.append(text.substr(0, end));
  out.append(width - chars, ' ');
}

bool isControl(char c) {
  return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
}

// An origin is a name: control characters (line breaks, escapes, NUL) are taken
// out, so that one entry stays one plain line of the file.
std::string_view withoutControls(std::string_view text, std::string& scratch) {
  if (std::none_of(text.begin(), text.end(), isControl)) return text;
  scratch.clear();
  for (char c : text)
    if (!isControl(c)) scratch += c;
  return scratch;
}

void appendWithoutLineBreaks(std::string& out, std::string_view msg) {
  if (msg.empty()) return;
  // Most messages hold no line break: two scans of the whole text decide that.
  if (std::memchr(msg.data(), '\r', msg.size()) == nullptr &&
      std::memchr(msg.data(), '\n', msg.size()) == nullptr) {
    out.append(msg);
    return;
  }
  for (char c : msg)
    if (c != '\r' && c != '\n') out += c;
}

std::string repeated(char c, std::size_t n) {
  return std::string(n, c);
}

std::string rule(char c) {
  return repeated(c, kRuleWidth);
}

// Writes with one large buffer of our own; a write error is remembered and
// reported once the file is closed.
class DumpWriter {
public:
  explicit DumpWriter(int fd) : fd_(fd) { buffer_.reserve(kCapacity); }
  void line(std::string_view text) {
    if (buffer_.size() + text.size() + 2 > kCapacity) flush();
    if (text.size() + 2 > kCapacity) {
      write(text);
      write(kLineEnd);
      return;
    }
    buffer_.append(text);
    buffer_.append(kLineEnd);
  }
  void flush() {
    write(buffer_);
    buffer_.clear();
  }
  bool failed() const { return failed_; }

private:
  static constexpr std::size_t kCapacity = 256 * 1024;
  void write(std::string_view bytes) {
    if (!failed_ && !WriteAll(fd_, bytes.data(), bytes.size())) failed_ = true;
  }
  int fd_;
  std::string buffer_;
  bool failed_ = false;
};

[[noreturn]] void raiseIoError(const char* what, const std::string& name, int error) {
  throw keltk::EInOutError(fmt::format("{} \"{}\": {}", what, name, DumpOpenReason(error)));
}

// Where the log goes when its own file cannot be written: the user's state
// folder, which the user can always write to when anything can.
std::string fallbackFolder() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') return std::string(state) + "/kelvarin";
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] != '/') return {};
  return std::string(home) + "/.local/state/kelvarin";
}

// The dump being written, for a crash in the middle of it: the crash record then
// adds only what that dump has not put in its file yet. One dump runs at a time,
// on the thread that owns the log.
struct DumpInProgress {
  std::atomic<const TLog*> log{nullptr};
  dev_t device = 0;
  ino_t inode = 0;
  off_t sizeBefore = 0;
  std::string_view header; // written first, when not empty
  std::size_t first = 0;   // then the entries [first, count)
  std::size_t count = 0;
  bool blankAfter = false; // then an empty line, after a header's entries
  std::string_view statistics;
};
DumpInProgress dumping;

// Clears `dumping` when the dump ends, however it ends.
struct DumpInProgressEnd {
  ~DumpInProgressEnd() { dumping.log.store(nullptr, std::memory_order_release); }
};

// Writes a text from `skip` bytes on; the skipped part is in the file already.
class SkippingWriter {
public:
  SkippingWriter(int fd, std::size_t skip) : fd_(fd), skip_(skip) {}
  void add(std::string_view text) noexcept {
    const std::size_t skipped = std::min(skip_, text.size());
    skip_ -= skipped;
    WriteAll(fd_, text.data() + skipped, text.size() - skipped);
  }

private:
  int fd_;
  std::size_t skip_;
};

void tellUser(std::string_view text) {
  std::fprintf(stderr, "%s: %.*s\n", program_invocation_short_name, static_cast<int>(text.size()),
               text.data());
  std::fflush(stderr);
}

// A number as a statistics row shows it: trimmed, then padded on the left or cut
// to `width` characters.
std::string fitNumber(std::string text, std::size_t width = 6) {
  text = keltk::Trim(text);
  if (text.size() > width) return text.substr(0, width);
  return std::string(width - text.size(), ' ') + text;
}

// Half of a percentage, rounded to the nearest whole number, ties to even.
int barLength(double percent) {
  const double half = percent / 2.0;
  double whole = std::floor(half);
  const double rest = half - whole;
  if (rest > 0.5 || (rest == 0.5 && std::fmod(whole, 2.0) != 0.0)) whole += 1.0;
  return static_cast<int>(std::clamp(whole, 0.0, 50.0));
}

} // namespace

const keltk::TClassInfo& TLog::StaticClass() {
  static keltk::TClassInfo info(
      "TLog", &keltk::TPersistent::StaticClass(), [](keltk::TClassInfo& i) {
        keltk::ClassBuilder<TLog> b(i);
        b.string("DumpFile", &TLog::DumpFile, &TLog::SetDumpFile);
        b.enumeration("DumpOn", detail::LogDumpOnInfo(), &TLog::DumpOn, &TLog::SetDumpOn)
            .defaultValue(doClosingManager);
        b.boolean("DumpStats", &TLog::DumpStats, &TLog::SetDumpStats).defaultValue(1);
        b.set("ItemsToLog", detail::LogKindInfo(), &TLog::ItemsToLog, &TLog::SetItemsToLog)
            .defaultValue(kDefaultItemsToLog.bits());
      });
  return info;
}

// What a log keeps between entries, none of it a concern of the code that logs.
struct TLog::Work {
  std::string line; // scratch for the entry being formed
  // The stamp of the last millisecond asked for, and of its second.
  std::int64_t stampMillis = -1;
  std::int64_t stampSecond = std::numeric_limits<std::int64_t>::min();
  char stampSeparators[2] = {0, 0};
  std::string stamp;
  // Re-entrance guards: a failing handler or dump must not start itself again.
  int recordingHandlerFailure = 0;
  bool reportingDumpFailure = false;
  std::size_t dumpedCount = 0; // entries known to be dumped
  // Once DumpFile could not be written, the log goes to the fallback file for as
  // long as DumpFile keeps the pattern that failed.
  std::string failedPattern;
  std::string fallbackName;
};

TLog::TLog() : work_(std::make_unique<Work>()) {
  MethodFrame site{"TLog.Create"};
  GuardedPassOn(this, site, [&] {
    site.step = 1;
    work_->line.reserve(256);
    work_->stamp.reserve(32);
    RegisterLogForCrash(this);
  });
}

TLog::~TLog() {
  UnregisterLogForCrash(this);
}

const char* TLog::WriteCrashRecord(std::string_view message) noexcept {
  const CrashPreparation* p = PreparedForCrash();
  if (p == nullptr || dumpOn_ == doNever) return nullptr;
  static char name[4096];
  if (!crashDumpName(name, sizeof name)) return nullptr;
  const char* written = name;
  DumpOpen file = OpenDumpFile(name);
  if (file.fd < 0 && !p->fallbackFile.empty()) {
    ::mkdir(p->fallbackFolder.c_str(), 0700);
    written = p->fallbackFile.c_str();
    file = OpenDumpFile(written);
  }
  if (file.fd < 0) return nullptr;
  const std::size_t count = lines().Count();
  std::size_t first = FirstUndumped();
  struct stat info {};
  if (dumping.log.load(std::memory_order_acquire) == this && ::fstat(file.fd, &info) == 0 &&
      info.st_dev == dumping.device && info.st_ino == dumping.inode) {
    // Finishes the dump this crash interrupted, byte for byte where it stopped.
    SkippingWriter rest(
        file.fd, static_cast<std::size_t>(std::max<off_t>(info.st_size - dumping.sizeBefore, 0)));
    rest.add(dumping.header);
    for (std::size_t i = dumping.first; i < dumping.count; ++i) {
      rest.add(lines()[i]);
      rest.add(kLineEnd);
    }
    if (dumping.blankAfter) rest.add(kLineEnd);
    if (!dumping.statistics.empty()) {
      rest.add(dumping.statistics);
      rest.add(kLineEnd);
    }
    first = dumping.count;
  } else if (file.created || (count > 0 && !lines().Dumped(0))) {
    WriteAll(file.fd, p->header.data(), p->header.size());
    first = 0;
  }
  for (std::size_t i = first; i < count; ++i) {
    const std::string_view line = lines()[i];
    WriteAll(file.fd, line.data(), line.size());
    WriteAll(file.fd, kLineEnd, 2);
  }
  // " yyyy/mm/dd hh:nn:ss.zzz  MANAGER              E  message"
  static char start[64];
  start[0] = ' ';
  CrashStamp(*p, start + 1);
  std::memcpy(start + 24, "  MANAGER              E  ", 26);
  WriteAll(file.fd, start, 50);
  WriteAll(file.fd, message.data(), message.size());
  WriteAll(file.fd, kLineEnd, 2);
  ::close(file.fd);
  return written;
}

bool TLog::crashDumpName(char* out, std::size_t capacity) const noexcept {
  const std::string_view pattern = !work_->fallbackName.empty() && dumpFile_ == work_->failedPattern
                                       ? work_->fallbackName
                                       : dumpFile_;
  // The program's path as RunningProgramPath finds it, without allocating.
  static char program[4096];
  const ssize_t n = ::readlink("/proc/self/exe", program, sizeof program);
  const std::string_view path(program, n > 0 ? static_cast<std::size_t>(n) : 0);
  return DumpFileNameInto(pattern, path, out, capacity).has_value();
}

void TLog::SetItemsToLog(TLogKindSet items) {
  MethodFrame site{"TLog.SetItemsToLog"};
  site.step = 1;
  GuardedSwallow(this, site, [&] {
    items.exclude(lkTotal);
    if (items == itemsToLog_) return;
    site.step = 2;
    const TLogKindSet old = itemsToLog_;
    itemsToLog_ = items;
    TulmKelMan* manager = manager_;
    if (manager == nullptr) return;

    site.step = 3;
    // Host first, then plug-ins newest first, each only when it monitors the
    // property; the failure lines wait for the walk's end.
    BroadcastEnd end = Broadcast(
        *manager, site,
        {"OnPropertyModified()", "OnPropertyModified()", FailureLines::AfterWalk, 4},
        manager->OnPropertyModified() && manager->PropsToMonitor().contains(pmItemsToLog),
        [&] { manager->OnPropertyModified()(pmItemsToLog, &old, &items); },
        [](TulmKel* plugin) {
          return plugin->OnPropertyModified() && plugin->PropsToMonitor().contains(pmItemsToLog);
        },
        [&](TulmKel* plugin) {
          const TEventOnPropertyModified handler = plugin->OnPropertyModified();
          handler(pmItemsToLog, &old, &items);
        },
        ShortNameOf);
    site.step = 5;
    recordHandlerFailures(end.failures);
  });
}

std::string_view TLog::stampNow() {
  const auto now = std::chrono::system_clock::now();
  const std::int64_t millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  const keltk::TFormatSettings& fs = keltk::FormatSettings();
  const bool sameSeparators = work_->stampSeparators[0] == fs.DateSeparator &&
                              work_->stampSeparators[1] == fs.TimeSeparator;
  if (millis == work_->stampMillis && sameSeparators) return work_->stamp;

  const std::int64_t second = millis >= 0 ? millis / 1000 : (millis - 999) / 1000;
  if (second != work_->stampSecond || !sameSeparators) {
    // Local time is worked out once a second; within it only the milliseconds move.
    work_->stamp = keltk::FormatDateTime("yyyy/mm/dd hh:nn:ss", now, fs);
    work_->stamp += ".000";
    work_->stampSecond = second;
    work_->stampSeparators[0] = fs.DateSeparator;
    work_->stampSeparators[1] = fs.TimeSeparator;
  }
  const int ms = static_cast<int>(millis - second * 1000);
  char* digits = work_->stamp.data() + work_->stamp.size() - 3;
  digits[0] = static_cast<char>('0' + ms / 100);
  digits[1] = static_cast<char>('0' + ms / 10 % 10);
  digits[2] = static_cast<char>('0' + ms % 10);
  work_->stampMillis = millis;
  return work_->stamp;
}

void TLog::formatEntry(std::string_view originText, TLogKind kind, std::string_view msg) {
  work_->line.clear();
  work_->line += ' ';
  work_->line.append(stampNow());
  work_->line.append("  ");
  std::string scratch;
  appendFitted(work_->line, withoutControls(originText, scratch), kOriginWidth);
  work_->line += ' ';
  if (kind != lkTotal) {
    assert(kind < kLogKindCount); // LogIt turns away any other
    work_->line += kKindLetters[kind];
    work_->line.append("  ");
  }
  appendWithoutLineBreaks(work_->line, msg);
}

void TLog::LogIt(TOriginToken origin, std::string_view msg, TLogKind kind,
                 TKelMethodResult& result) {
  if (manager_ != nullptr && !OnManagerThread(*manager_, "TLog.LogIt", &result)) return;
  MethodFrame site{"TLog.LogIt"};
  site.step = 1;
  bool recorded = false;
  GuardedSwallow(this, site, [&] {
    site.step = 2;
    const LiveOrigin who = findOrigin(manager_, UnsealOrigin(origin));
    if (who.kind == OriginKind::None) return;
    recorded = record(who.object, who.kind == OriginKind::Manager, msg, kind, site);
  });
  // Set once, at the end: the failure's copy would cost an allocation per entry.
  result = recorded ? smrOk : smrUnexpectedError;
}

bool TLog::record(keltk::TComponent* origin, bool fromManager, std::string_view msg, TLogKind kind,
                  MethodFrame& site) {
  site.step = 3;
  if (itemsToLog_.empty() || kind >= kLogKindCount) return false;
  if (kind != lkTotal && !itemsToLog_.contains(kind)) return false;

  site.step = 5;
  const std::string_view originText =
      fromManager ? std::string_view("MANAGER")
                  : std::string_view(static_cast<const TulmKel*>(origin)->DeepName());
  formatEntry(originText, kind, msg);
  site.step = 6;
  ++counts_[lkTotal];
  if (kind != lkTotal) ++counts_[kind];
  site.step = 7;
  try {
    lines().Add(work_->line);
  } catch (const std::exception&) {
    // No room for the line: it is counted and announced all the same.
  }
  // Handlers may log in turn, which reuses work_->line.
  std::string line;
  TulmKelMan* manager = manager_;
  const bool anyHandler =
      manager != nullptr &&
      AnyoneListens(*manager, bool(manager->OnLogChanged()),
                    [](const TulmKel* plugin) { return bool(plugin->OnLogChanged()); });
  if (anyHandler) line = work_->line;

  site.step = 8;
  // While a failed dump is being reported its own entry is not dumped, or the
  // report would fail and be reported again without end.
  if (dumpOn_ == doEachNewItem && !work_->reportingDumpFailure) DumpLog(std::string());

  if (anyHandler) {
    site.step = 9;
    tellLogChanged(origin, line, site);
  }
  site.step = 11;
  return true;
}

void TLog::LogIt(std::string_view msg, TLogKind kind, TKelMethodResult& result) {
  MethodFrame site{"TLog.LogIt"};
  GuardedSwallow(this, site, [&] { LogIt(SealOrigin(this), msg, kind, result); });
}

void TLog::tellLogChanged(keltk::TComponent* origin, std::string_view line, MethodFrame& site) {
  TulmKelMan* manager = manager_;
  if (manager == nullptr) return;
  const std::string fullMsg(line);
  // Host first, then plug-ins newest first; the failure lines wait for the walk's
  // end: logged at once, they would reach the failing handler again.
  BroadcastEnd end = Broadcast(
      *manager, site, {"OnLogChanged()", "OnLogChanged()", FailureLines::AfterWalk, 10},
      bool(manager->OnLogChanged()),
      [&] {
        HandlerFrame frame(*manager, *manager, "OnLogChanged");
        manager->OnLogChanged()(origin, fullMsg);
      },
      [](TulmKel* plugin) { return bool(plugin->OnLogChanged()); },
      [&](TulmKel* plugin) {
        const TEventOnLogChanged handler = plugin->OnLogChanged();
        HandlerFrame frame(*manager, *plugin, "OnLogChanged");
        handler(origin, fullMsg);
      },
      ShortNameOf);
  recordHandlerFailures(end.failures);
}

void TLog::recordHandlerFailures(std::vector<std::string>& failures) {
  // A handler that fails on every call would fail again for the line that records
  // its failure; those second failures are not recorded, so this ends.
  if (failures.empty() || manager_ == nullptr || work_->recordingHandlerFailure > 0) return;
  ++work_->recordingHandlerFailure;
  struct Leave {
    int& depth;
    ~Leave() { --depth; }
  } leave{work_->recordingHandlerFailure};
  for (const std::string& text : failures) {
    TKelMethodResult scratch;
    LogIt(SealOrigin(manager_), text, lkError, scratch);
  }
}

std::string TLog::DumpFileName() const {
  const std::string program = RunningProgramPath();
  std::string name(dumpFile_.size() + program.size() + 1, '\0');
  const std::optional<std::size_t> size =
      DumpFileNameInto(dumpFile_, program, name.data(), name.size());
  assert(size); // the room asked for is always enough
  name.resize(size.value_or(0));
  return name;
}

std::string DumpHeaderText() {
  std::string text;
  for (const std::string& line :
       {std::string(), rule('='),
        fmt::format(" Kelvarin Log File  -  {}   HOST: {}",
                    keltk::FormatDateTime("c", std::chrono::system_clock::now()),
                    RunningProgramPath()),
        rule('-'),
        std::string(" yyyy/mm/dd hh:nn:ss.zzz  Origin Of Entry     Knd: [A=Action E=Error "
                    "C=Command M=Message U=User]"),
        rule('='), std::string()}) {
    text += line;
    text += kLineEnd;
  }
  return text;
}

void TLog::writeHeader(int fd, std::string_view header) {
  DumpWriter out(fd);
  out.line(header.substr(0, header.size() - 2)); // the writer ends the last line itself
  if (!lines().Empty()) {
    for (std::size_t i = 0; i < lines().Count(); ++i)
      out.line(lines()[i]);
    out.line("");
  }
  out.flush();
  if (out.failed()) throw keltk::EInOutError("Could not write the log header");
}

std::size_t TLog::FirstUndumped() const {
  // Entries are written in the order they were recorded, so the dumped ones are
  // always the first ones.
  while (work_->dumpedCount < lines().Count() && lines().Dumped(work_->dumpedCount))
    ++work_->dumpedCount;
  return work_->dumpedCount;
}

std::string TLog::dumpTo(const std::string& name, const std::string& statistics,
                         MethodFrame& site) {
  try {
    site.step = 2;
    const DumpOpen opened = OpenDumpFile(name.c_str());
    if (opened.fd < 0) {
      site.step = opened.created ? 31 : 3;
      raiseIoError(opened.created ? "Cannot create log file" : "Cannot open log file", name,
                   opened.error);
    }
    UniqueFd file(opened.fd);
    const bool isNew = opened.created;
    // The header carries every entry: in a new file, and after entries that were
    // never written.
    const bool allWritten = isNew || (!lines().Empty() && !lines().Dumped(0));
    const std::size_t first = FirstUndumped();
    const std::string header = allWritten ? DumpHeaderText() : std::string();
    struct stat info {};
    const DumpInProgressEnd dumpEnd;
    if (::fstat(file.get(), &info) == 0) {
      dumping.device = info.st_dev;
      dumping.inode = info.st_ino;
      dumping.sizeBefore = info.st_size;
      dumping.header = header;
      dumping.first = allWritten ? 0 : first;
      dumping.count = lines().Count();
      dumping.blankAfter = allWritten && !lines().Empty();
      dumping.statistics = dumpStats_ ? std::string_view(statistics) : std::string_view();
      dumping.log.store(this, std::memory_order_release);
    }
    if (isNew) {
      site.step = 32;
      writeHeader(file.get(), header);
    } else {
      site.step = 51;
      if (allWritten) {
        site.step = 52;
        writeHeader(file.get(), header);
      }
      site.step = 53;
    }

    DumpWriter out(file.get());
    if (!allWritten) {
      site.step = statistics.empty() ? 251 : 201;
      // A per-entry dump that failed earlier left entries waiting: they go first.
      for (std::size_t i = first; i < lines().Count(); ++i)
        out.line(lines()[i]);
    }
    if (!statistics.empty() && dumpStats_) {
      site.step = 231;
      out.line(statistics);
    }
    site.step = 301;
    out.flush();
    if (out.failed()) raiseIoError("Cannot write log file", name, errno);
    site.step = 401;
    if (::close(file.release()) != 0) raiseIoError("Cannot close log file", name, errno);

    // Marked only once the lines are safely in the file.
    for (std::size_t i = allWritten ? 0 : first; i < lines().Count(); ++i)
      lines().MarkDumped(i);
    return {};
  } catch (const keltk::Exception& e) {
    const bool outer = !work_->reportingDumpFailure;
    work_->reportingDumpFailure = true;
    ReportException(manager_, site, e);
    if (outer) work_->reportingDumpFailure = false;
    return e.Message().empty() ? std::string("Cannot write log file") : e.Message();
  }
}

std::string FallbackDumpFileName() {
  const std::string folder = fallbackFolder();
  if (folder.empty()) return {};
  return folder + "/" + keltk::ChangeFileExt(keltk::ExtractFileName(RunningProgramPath()), "") +
         ".kel.log";
}

void TLog::DumpLog(const std::string& statistics) {
  MethodFrame site{"TLog.DumpLog"};
  site.step = 1;
  const bool onFallback = !work_->fallbackName.empty() && dumpFile_ == work_->failedPattern;
  const std::string name = onFallback ? work_->fallbackName : DumpFileName();
  const std::string failure = dumpTo(name, statistics, site);
  // Told once per DumpFile setting; the log itself records every failure.
  if (failure.empty() || onFallback || dumpFile_ == work_->failedPattern) return;

  // The log is the record people look for after something went wrong: it is
  // never lost without a word.
  tellUser(failure);
  work_->failedPattern = dumpFile_;
  const std::string fallback = FallbackDumpFileName();
  if (fallback.empty() || fallback == name) return;
  work_->fallbackName = fallback;
  MakeFolders(fallbackFolder());
  const std::string again = dumpTo(fallback, statistics, site);
  tellUser(again.empty() ? fmt::format("the log is written to \"{}\" instead", fallback) : again);
}

std::optional<std::string> StatisticsBlock(const std::array<std::int32_t, kLogKindCount>& counts) {
  const std::int32_t total = counts[lkTotal];
  if (total == 0) return std::nullopt;
  static constexpr std::pair<TLogKind, const char*> rows[] = {
      {lkAction, " Actions     "},  {lkError, " Errors      "}, {lkCommand, " Commands    "},
      {lkMessage, " Messages    "}, {lkUser, " User Msgs   "},
  };
  // The count column is six characters wide, wider when a count needs it.
  std::size_t width = 6;
  for (const std::int32_t count : counts)
    width = std::max(width, keltk::Trim(keltk::FormatNumber(count, 0)).size());
  std::string block = kLineEnd;
  block += rule('~') + kLineEnd;
  block += std::string(" STATISTICS: ") + kLineEnd;
  for (const auto& [kind, label] : rows) {
    const double percent = counts[kind] * 100.0 / total;
    block += ' ';
    block += fitNumber(keltk::FormatNumber(counts[kind], 0), width);
    block += label;
    block += fitNumber(keltk::FormatNumber(percent, 2));
    block += "%  ";
    block += repeated('o', static_cast<std::size_t>(barLength(percent)));
    block += kLineEnd;
  }
  block += ' ';
  block += fitNumber(keltk::FormatNumber(total, 0), width);
  block += " TOTAL ITEMS ";
  block += repeated(' ', 9);
  block += repeated('o', 50);
  block += kLineEnd;
  block += rule('~') + kLineEnd;
  return block;
}

std::string RunningProgramPath() {
  return keltk::TApplication::ExeName();
}

} // namespace kelvarin
