#include "kelvarin/Log.h"

#include "PluginWatch.h"
#include "TypeInfo.h"
#include "kelvarin/ExceptionReport.h"
#include "kelvarin/Origin.h"
#include "kelvarin/PluginCallScope.h"
#include "kelvarin/manager.h"
#include "kelvarin/plugin.h"

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
#include <memory>
#include <sys/stat.h>
#include <vector>

namespace kelvarin {

namespace {

TMethodSite siteCreate{"TLog.Create"};
TMethodSite siteLogIt{"TLog.LogIt"};
TMethodSite siteSetItemsToLog{"TLog.SetItemsToLog"};
TMethodSite siteDumpLog{"TLog.DumpLog"};

constexpr char kKindLetters[] = {'\0', 'A', 'E', 'C', 'M', 'U'};
constexpr std::size_t kOriginWidth = 20;
constexpr const char* kLineEnd = "\r\n";

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

// Writes with one large buffer of our own; a write error is remembered and
// reported once the file is closed.
class DumpWriter {
public:
  explicit DumpWriter(std::FILE* file) : file_(file) { buffer_.reserve(kCapacity); }
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
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size())
      failed_ = true;
  }
  std::FILE* file_;
  std::string buffer_;
  bool failed_ = false;
};

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

[[noreturn]] void raiseIoError(const char* what, const std::string& name, int error) {
  throw keltk::EInOutError(fmt::format("{} \"{}\": {}", what, name, std::strerror(error)));
}

// A number as a statistics row shows it: trimmed, then padded on the left or cut
// to six characters.
std::string fitNumber(std::string text) {
  text = keltk::Trim(text);
  if (text.size() > 6) return text.substr(0, 6);
  return std::string(6 - text.size(), ' ') + text;
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
        b.enumeration("DumpOn", detail::logDumpOnInfo(), &TLog::DumpOn, &TLog::SetDumpOn)
            .defaultValue(doClosingManager);
        b.boolean("DumpStats", &TLog::DumpStats, &TLog::SetDumpStats).defaultValue(1);
        b.set("ItemsToLog", detail::logKindInfo(), &TLog::ItemsToLog, &TLog::SetItemsToLog)
            .defaultValue(kDefaultItemsToLog.bits());
      });
  return info;
}

TLog::TLog() {
  GuardedPassOn(this, siteCreate, [&] {
    siteCreate.step = 1;
    line_.reserve(256);
    stamp_.reserve(32);
  });
}

TLog::~TLog() = default;

void TLog::SetItemsToLog(TLogKindSet items) {
  siteSetItemsToLog.step = 1;
  GuardedSwallow(this, siteSetItemsToLog, [&] {
    items.exclude(lkTotal);
    if (items == itemsToLog_) return;
    siteSetItemsToLog.step = 2;
    const TLogKindSet old = itemsToLog_;
    itemsToLog_ = items;
    TulmKelMan* manager = manager_;
    if (manager == nullptr) return;

    std::vector<std::string> failures;
    siteSetItemsToLog.step = 3;
    if (manager->OnPropertyModified() && manager->PropsToMonitor().contains(pmItemsToLog)) {
      if (auto error = CallHandler(manager, siteSetItemsToLog, [&] {
            manager->OnPropertyModified()(pmItemsToLog, &old, &items);
          }))
        failures.push_back(HostEventFailure("OnPropertyModified()", *error));
    }
    siteSetItemsToLog.step = 4;
    ForEachPlugin(*manager, siteSetItemsToLog, [&](TulmKel* plugin) {
      const TEventOnPropertyModified handler = plugin->OnPropertyModified();
      if (!handler || !plugin->PropsToMonitor().contains(pmItemsToLog)) return;
      const std::string name = plugin->ShortFileName();
      if (auto error = CallPluginHandler(manager, siteSetItemsToLog, plugin,
                                         [&] { handler(pmItemsToLog, &old, &items); }))
        failures.push_back(PluginEventFailure("OnPropertyModified()", name, *error));
    });
    siteSetItemsToLog.step = 5;
    recordHandlerFailures(failures);
  });
}

std::string_view TLog::stampNow() {
  const auto now = std::chrono::system_clock::now();
  const std::int64_t millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  const keltk::TFormatSettings& fs = keltk::FormatSettings();
  const bool sameSeparators =
      stampSeparators_[0] == fs.DateSeparator && stampSeparators_[1] == fs.TimeSeparator;
  if (millis == stampMillis_ && sameSeparators) return stamp_;

  const std::int64_t second = millis >= 0 ? millis / 1000 : (millis - 999) / 1000;
  if (second != stampSecond_ || !sameSeparators) {
    // Local time is worked out once a second; within it only the milliseconds move.
    stamp_ = keltk::FormatDateTime("yyyy/mm/dd hh:nn:ss", now, fs);
    stamp_ += ".000";
    stampSecond_ = second;
    stampSeparators_[0] = fs.DateSeparator;
    stampSeparators_[1] = fs.TimeSeparator;
  }
  const int ms = static_cast<int>(millis - second * 1000);
  char* digits = stamp_.data() + stamp_.size() - 3;
  digits[0] = static_cast<char>('0' + ms / 100);
  digits[1] = static_cast<char>('0' + ms / 10 % 10);
  digits[2] = static_cast<char>('0' + ms % 10);
  stampMillis_ = millis;
  return stamp_;
}

void TLog::formatEntry(std::string_view originText, TLogKind kind, std::string_view msg) {
  line_.clear();
  line_ += ' ';
  line_.append(stampNow());
  line_.append("  ");
  appendFitted(line_, originText, kOriginWidth);
  line_ += ' ';
  if (kind != lkTotal) {
    line_ += kKindLetters[kind];
    line_.append("  ");
  }
  appendWithoutLineBreaks(line_, msg);
}

void TLog::LogIt(TOriginToken origin, std::string_view msg, TLogKind kind,
                 TKelMethodResult& result) {
  result = smrUnexpectedError;
  siteLogIt.step = 1;
  GuardedSwallow(this, siteLogIt, [&] {
    siteLogIt.step = 2;
    const LiveOrigin who = findOrigin(UnsealOrigin(origin));
    if (who.kind == OriginKind::None) return;
    siteLogIt.step = 3;
    if (itemsToLog_.empty() || kind > lkUser) return;
    if (kind != lkTotal && !itemsToLog_.contains(kind)) return;

    siteLogIt.step = 5;
    const std::string_view originText =
        who.kind == OriginKind::Manager
            ? std::string_view("MANAGER")
            : std::string_view(static_cast<const TulmKel*>(who.object)->DeepName());
    formatEntry(originText, kind, msg);
    siteLogIt.step = 6;
    ++counts_[lkTotal];
    if (kind != lkTotal) ++counts_[kind];
    siteLogIt.step = 7;
    try {
      entries_.Add(line_);
    } catch (const std::exception&) {
      // No room for the line: it is counted and announced all the same.
    }
    // Handlers may log in turn, which reuses line_.
    std::string line;
    TulmKelMan* manager = manager_;
    const bool anyHandler =
        manager != nullptr && (manager->OnLogChanged() || [&] {
          for (int i = manager->GetPluginCount() - 1; i >= 0; --i)
            if (TulmKel* p = manager->GetPlugins(i); p != nullptr && p->OnLogChanged()) return true;
          return false;
        }());
    if (anyHandler) line = line_;

    siteLogIt.step = 8;
    // While a failed dump is being reported its own entry is not dumped, or the
    // report would fail and be reported again without end.
    if (dumpOn_ == doEachNewItem && !reportingDumpFailure_) DumpLog(std::string());

    if (anyHandler) {
      siteLogIt.step = 9;
      tellLogChanged(who.object, line);
    }
    siteLogIt.step = 11;
    result = smrOk;
  });
}

LiveOrigin TLog::findOrigin(const void* address) const {
  LiveOrigin who = FindLiveOrigin(address);
  if (who.kind != OriginKind::None || address == nullptr || manager_ == nullptr) return who;
  // Objects made by another copy of the framework (a plug-in module's, or the
  // host's) are in that copy's registry; this log still knows its own manager and
  // the plug-ins in its list. Only addresses are compared.
  if (address == static_cast<const void*>(manager_)) return {manager_, OriginKind::Manager};
  for (int i = manager_->GetPluginCount() - 1; i >= 0; --i)
    if (TulmKel* plugin = manager_->GetPlugins(i); address == static_cast<const void*>(plugin))
      return {plugin, OriginKind::Plugin};
  return {};
}

void TLog::LogIt(std::string_view msg, TLogKind kind, TKelMethodResult& result) {
  GuardedSwallow(this, siteLogIt, [&] { LogIt(SealOrigin(this), msg, kind, result); });
}

void TLog::tellLogChanged(keltk::TComponent* origin, std::string_view line) {
  TulmKelMan* manager = manager_;
  if (manager == nullptr) return;
  const std::string fullMsg(line);
  std::vector<std::string> failures;
  // Reports wait with the handler lines: logged at once, they would reach the
  // failing handler again.
  auto note = [&](const HandlerFailure& failure, std::string line) {
    if (failure.foreign)
      failures.push_back(ExceptionReportLine(kReportModule, kReportUnit, siteLogIt.location,
                                             siteLogIt.step, *failure.foreign));
    failures.push_back(std::move(line));
  };
  if (manager->OnLogChanged()) {
    if (auto failure = TryHandler([&] { manager->OnLogChanged()(origin, fullMsg); }))
      note(*failure, HostEventFailure("OnLogChanged()", failure->message));
  }
  siteLogIt.step = 10;
  ForEachPlugin(*manager, siteLogIt, [&](TulmKel* plugin) {
    const TEventOnLogChanged handler = plugin->OnLogChanged();
    if (!handler) return;
    const std::string name = plugin->ShortFileName();
    if (auto failure = TryPluginHandler(plugin, [&] { handler(origin, fullMsg); }))
      note(*failure, PluginEventFailure("OnLogChanged()", name, failure->message));
  });
  recordHandlerFailures(failures);
}

void TLog::recordHandlerFailures(std::vector<std::string>& failures) {
  // A handler that fails on every call would fail again for the line that records
  // its failure; those second failures are not recorded, so this ends.
  if (failures.empty() || manager_ == nullptr || recordingHandlerFailure_ > 0) return;
  ++recordingHandlerFailure_;
  struct Leave {
    int& depth;
    ~Leave() { --depth; }
  } leave{recordingHandlerFailure_};
  for (const std::string& text : failures) {
    TKelMethodResult scratch;
    LogIt(SealOrigin(manager_), text, lkError, scratch);
  }
}

std::string TLog::DumpFileName() const {
  static constexpr std::string_view placeholder = "%HostApp%";
  const std::string upperPattern = keltk::UpperCase(dumpFile_);
  const std::size_t at = upperPattern.find(keltk::UpperCase(placeholder));
  if (at == std::string::npos) return dumpFile_;
  std::string name = dumpFile_;
  name.replace(at, placeholder.size(), keltk::ChangeFileExt(RunningProgramPath(), ""));
  return name;
}

void TLog::writeHeader(std::FILE* file) {
  DumpWriter out(file);
  out.line("");
  out.line(repeated('=', 145));
  out.line(fmt::format(" Kelvarin Log File  -  {}   HOST: {}",
                       keltk::FormatDateTime("c", std::chrono::system_clock::now()),
                       RunningProgramPath()));
  out.line(repeated('-', 145));
  out.line(" yyyy/mm/dd hh:nn:ss.zzz  Origin Of Entry     Knd: [A=Action E=Error C=Command "
           "M=Message U=User]");
  out.line(repeated('=', 145));
  out.line("");
  if (!entries_.Empty()) {
    for (std::size_t i = 0; i < entries_.Count(); ++i)
      out.line(entries_[i]);
    out.line("");
  }
  out.flush();
  if (out.failed()) throw keltk::EInOutError("Could not write the log header");
}

void TLog::DumpLog(const std::string& statistics) {
  TMethodSite& site = siteDumpLog;
  site.step = 1;
  try {
    const std::string name = DumpFileName();
    site.step = 2;
    // Only a file that does not exist is created; an existing one is appended to
    // or, when that fails, left exactly as it is.
    struct stat info {};
    const bool exists = ::stat(name.c_str(), &info) == 0 || errno != ENOENT;
    FilePtr file;
    bool isNew = false;
    bool allWritten = false; // the header carried every entry
    if (!exists) {
      site.step = 31;
      file.reset(std::fopen(name.c_str(), "wbx"));
      if (!file) raiseIoError("Cannot create log file", name, errno);
      isNew = true;
      site.step = 32;
      writeHeader(file.get());
      allWritten = true;
    } else {
      site.step = 3;
      file.reset(std::fopen(name.c_str(), "ab"));
      if (!file) raiseIoError("Cannot open log file", name, errno);
      site.step = 51;
      if (!entries_.Empty() && !entries_.Dumped(0)) {
        site.step = 52;
        writeHeader(file.get());
        allWritten = true;
      }
      site.step = 53;
    }

    bool newestWritten = false;
    DumpWriter out(file.get());
    if (!statistics.empty()) {
      site.step = 200;
      if (!isNew && !allWritten) {
        site.step = 201;
        for (std::size_t i = 0; i < entries_.Count(); ++i) {
          site.step = 211;
          if (!entries_.Dumped(i)) out.line(entries_[i]);
        }
      }
      site.step = 231;
      if (dumpStats_) out.line(statistics);
    } else {
      site.step = 251;
      if (!allWritten && !entries_.Empty() && !entries_.Dumped(entries_.Count() - 1)) {
        out.line(entries_.Last());
        newestWritten = true;
      }
    }
    site.step = 301;
    out.flush();
    if (out.failed() || std::fflush(file.get()) != 0)
      raiseIoError("Cannot write log file", name, errno);
    site.step = 401;
    if (std::fclose(file.release()) != 0) raiseIoError("Cannot close log file", name, errno);

    // Marked only once the lines are safely in the file.
    if (allWritten)
      for (std::size_t i = 0; i < entries_.Count(); ++i)
        entries_.MarkDumped(i);
    else if (newestWritten)
      entries_.MarkDumped(entries_.Count() - 1);
  } catch (const keltk::Exception& e) {
    const bool outer = !reportingDumpFailure_;
    reportingDumpFailure_ = true;
    ReportException(manager_, site, e);
    if (outer) reportingDumpFailure_ = false;
  }
}

std::optional<std::string> StatisticsBlock(const std::array<std::int32_t, 6>& counts) {
  const std::int32_t total = counts[lkTotal];
  if (total == 0) return std::nullopt;
  static constexpr std::pair<TLogKind, const char*> rows[] = {
      {lkAction, " Actions     "},  {lkError, " Errors      "}, {lkCommand, " Commands    "},
      {lkMessage, " Messages    "}, {lkUser, " User Msgs   "},
  };
  std::string block = kLineEnd;
  block += repeated('~', 145) + kLineEnd;
  block += std::string(" STATISTICS: ") + kLineEnd;
  for (const auto& [kind, label] : rows) {
    const double percent = counts[kind] * 100.0 / total;
    block += ' ';
    block += fitNumber(keltk::FormatNumber(counts[kind], 0));
    block += label;
    block += fitNumber(keltk::FormatNumber(percent, 2));
    block += "%  ";
    block += repeated('o', static_cast<std::size_t>(barLength(percent)));
    block += kLineEnd;
  }
  block += ' ';
  block += fitNumber(keltk::FormatNumber(total, 0));
  block += " TOTAL ITEMS ";
  block += repeated(' ', 9);
  block += repeated('o', 50);
  block += kLineEnd;
  block += repeated('~', 145) + kLineEnd;
  return block;
}

std::string RunningProgramPath() {
  return keltk::TApplication::ExeName();
}

} // namespace kelvarin
