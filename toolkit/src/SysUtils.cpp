#include "keltk/SysUtils.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fmt/format.h>
#include <langinfo.h>
#include <limits>
#include <locale.h>
#include <mutex>
#include <sys/stat.h>
#include <time.h>

namespace keltk {

namespace {

bool isPlainLocale(std::string_view name) {
  return name.empty() || name == "C" || name == "POSIX";
}

const char* environmentLocale() {
  for (const char* var : {"LC_ALL", "LC_NUMERIC", "LANG"}) {
    const char* value = std::getenv(var);
    if (value != nullptr && *value != '\0') return value;
  }
  return nullptr;
}

// A one-byte separator from the locale, or nothing (multi-byte and empty ones
// cannot be represented and leave the default in place).
bool singleByte(const char* text, char& out) {
  if (text == nullptr || std::strlen(text) != 1) return false;
  out = text[0];
  return true;
}

} // namespace

TFormatSettings LocaleFormatSettings() {
  TFormatSettings fs;
  const char* name = environmentLocale();
  if (name == nullptr || isPlainLocale(name)) return fs;
  locale_t loc = newlocale(LC_NUMERIC_MASK, name, static_cast<locale_t>(nullptr));
  if (loc == static_cast<locale_t>(nullptr)) return fs;
  char decimal = fs.DecimalSeparator;
  char thousands = fs.ThousandSeparator;
  bool haveDecimal = singleByte(nl_langinfo_l(RADIXCHAR, loc), decimal);
  bool haveThousands = singleByte(nl_langinfo_l(THOUSEP, loc), thousands);
  freelocale(loc);
  if (haveDecimal) fs.DecimalSeparator = decimal;
  if (haveThousands) fs.ThousandSeparator = thousands;
  // Two equal separators would make numbers unreadable: keep the defaults then.
  if (fs.DecimalSeparator == fs.ThousandSeparator) {
    TFormatSettings defaults;
    fs.DecimalSeparator = defaults.DecimalSeparator;
    fs.ThousandSeparator = defaults.ThousandSeparator;
  }
  return fs;
}

TFormatSettings& FormatSettings() {
  static TFormatSettings settings = LocaleFormatSettings();
  return settings;
}

std::string FormatNumber(double value, int decimals, const TFormatSettings& fs) {
  if (!std::isfinite(value)) return fmt::format("{}", value);
  decimals = std::clamp(decimals, 0, 18);
  const std::string digits = fmt::format("{:.{}f}", std::fabs(value), decimals);
  const std::size_t point = digits.find('.');
  const std::string_view whole = std::string_view(digits).substr(0, point);
  // A value that rounds to zero prints without a sign.
  const bool negative =
      std::signbit(value) && digits.find_first_of("123456789") != std::string::npos;

  std::string out;
  out.reserve(digits.size() + whole.size() / 3 + 2);
  if (negative) out.push_back('-');
  for (std::size_t i = 0; i < whole.size(); ++i) {
    if (i > 0 && (whole.size() - i) % 3 == 0 && fs.ThousandSeparator != '\0')
      out.push_back(fs.ThousandSeparator);
    out.push_back(whole[i]);
  }
  if (point != std::string::npos) {
    out.push_back(fs.DecimalSeparator);
    out.append(digits, point + 1);
  }
  return out;
}

namespace {

struct LocalTime {
  int year, month, day; // month 1..12
  int hour, minute, second, millisecond;
  int weekday; // 0 = Sunday
};

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

// Days since 1970-01-01 to a proleptic Gregorian date.
void civilFromDays(std::int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const std::int64_t era = floorDiv(z, 146097);
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
}

long zoneOffsetAt(std::int64_t secs) {
  const time_t t = static_cast<time_t>(secs);
  struct tm parts {};
  if (localtime_r(&t, &parts) == nullptr) return 0;
  return parts.tm_gmtoff;
}

// The local zone offset changes a few times a year, always on whole minutes. The
// cache keeps the offset of one quarter-hour block when both of its ends agree, so
// that the zone rules (and the zone file) are consulted about four times an hour.
class ZoneOffsetCache {
public:
  ZoneOffsetCache() {
    const char* tz = std::getenv("TZ");
    tzSet_ = tz != nullptr;
    zone_ = tzSet_ ? tz : "";
    tzset();
  }

  long offsetAt(std::int64_t secs) {
    std::lock_guard<std::mutex> guard(lock_);
    refreshZoneName();
    const std::int64_t block = floorDiv(secs, kBlock) * kBlock;
    if (valid_ && block == blockStart_) return offset_;
    const long first = zoneOffsetAt(block);
    const long last = zoneOffsetAt(block + kBlock - 1);
    if (first != last) return zoneOffsetAt(secs); // a change inside this block
    valid_ = true;
    blockStart_ = block;
    offset_ = first;
    return offset_;
  }

private:
  static constexpr std::int64_t kBlock = 900;

  // A program (a test, for one) may point TZ elsewhere at run time.
  void refreshZoneName() {
    const char* tz = std::getenv("TZ");
    const bool set = tz != nullptr;
    if (set == tzSet_ && (!set || zone_ == tz)) return;
    tzSet_ = set;
    zone_ = set ? tz : "";
    tzset();
    valid_ = false;
  }

  std::mutex lock_;
  bool tzSet_ = false;
  std::string zone_;
  bool valid_ = false;
  std::int64_t blockStart_ = 0;
  long offset_ = 0;
};

LocalTime toLocal(std::chrono::system_clock::time_point when) {
  using namespace std::chrono;
  static ZoneOffsetCache cache;
  const std::int64_t ms = duration_cast<milliseconds>(when.time_since_epoch()).count();
  const std::int64_t secs = floorDiv(ms, 1000);
  const std::int64_t local = secs + cache.offsetAt(secs);
  const std::int64_t days = floorDiv(local, 86400);
  const std::int64_t sod = local - days * 86400;
  LocalTime lt{};
  civilFromDays(days, lt.year, lt.month, lt.day);
  lt.hour = static_cast<int>(sod / 3600);
  lt.minute = static_cast<int>(sod / 60 % 60);
  lt.second = static_cast<int>(sod % 60);
  lt.millisecond = static_cast<int>(ms - secs * 1000);
  lt.weekday = static_cast<int>(days + 4 - floorDiv(days + 4, 7) * 7); // 1970-01-01: a Thursday
  return lt;
}

constexpr std::array<const char*, 12> kMonthNames = {
    "January", "February", "March",     "April",   "May",      "June",
    "July",    "August",   "September", "October", "November", "December"};
constexpr std::array<const char*, 7> kDayNames = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                  "Thursday", "Friday", "Saturday"};

void appendNumber(std::string& out, int value, int width) {
  char buf[16];
  int n = 0;
  unsigned v = static_cast<unsigned>(value < 0 ? -value : value);
  do {
    buf[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0 && n < 15);
  if (value < 0) out.push_back('-');
  for (int i = n; i < width; ++i)
    out.push_back('0');
  while (n > 0)
    out.push_back(buf[--n]);
}

char lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

bool startsWithNoCase(std::string_view s, std::size_t pos, std::string_view word) {
  if (s.size() - pos < word.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i)
    if (lower(s[pos + i]) != word[i]) return false;
  return true;
}

bool usesTwelveHourClock(std::string_view pattern) {
  char quote = 0;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
      continue;
    }
    if (c == '\'' || c == '"') {
      quote = c;
      continue;
    }
    if (startsWithNoCase(pattern, i, "am/pm") || startsWithNoCase(pattern, i, "a/p")) return true;
  }
  return false;
}

class DateTimeFormatter {
public:
  DateTimeFormatter(const LocalTime& t, const TFormatSettings& fs, std::string& out)
      : t_(t), fs_(fs), out_(out) {}

  void format(std::string_view pattern, int depth) {
    const bool twelveHour = usesTwelveHourClock(pattern);
    bool afterHour = false;
    std::size_t i = 0;
    while (i < pattern.size()) {
      const char c = pattern[i];
      const char lc = lower(c);
      const std::size_t run = runLength(pattern, i, lc);
      switch (lc) {
      case '\'':
      case '"': {
        const std::size_t end = pattern.find(c, i + 1);
        const std::size_t stop = end == std::string_view::npos ? pattern.size() : end;
        out_.append(pattern.substr(i + 1, stop - i - 1));
        i = end == std::string_view::npos ? stop : stop + 1;
        continue;
      }
      case 'y':
        if (run <= 2)
          appendNumber(out_, t_.year % 100, 2);
        else
          appendNumber(out_, t_.year, 4);
        afterHour = false;
        i += run;
        continue;
      case 'm': {
        const std::size_t used = std::min<std::size_t>(run, 4);
        if (afterHour && used <= 2)
          appendNumber(out_, t_.minute, static_cast<int>(used));
        else if (used <= 2)
          appendNumber(out_, t_.month, static_cast<int>(used));
        else
          appendName(kMonthNames[static_cast<std::size_t>(t_.month - 1)], used == 3);
        afterHour = false;
        i += used;
        continue;
      }
      case 'd': {
        const std::size_t used = std::min<std::size_t>(run, 5);
        if (used <= 2)
          appendNumber(out_, t_.day, static_cast<int>(used));
        else if (used <= 4)
          appendName(kDayNames[static_cast<std::size_t>(t_.weekday)], used == 3);
        else
          nested(fs_.ShortDateFormat, depth);
        afterHour = false;
        i += used;
        continue;
      }
      case 'h': {
        const std::size_t used = std::min<std::size_t>(run, 2);
        int hour = t_.hour;
        if (twelveHour) hour = hour % 12 == 0 ? 12 : hour % 12;
        appendNumber(out_, hour, static_cast<int>(used));
        afterHour = true;
        i += used;
        continue;
      }
      case 'n':
      case 's': {
        const std::size_t used = std::min<std::size_t>(run, 2);
        appendNumber(out_, lc == 'n' ? t_.minute : t_.second, static_cast<int>(used));
        afterHour = false;
        i += used;
        continue;
      }
      case 'z': {
        const std::size_t used = std::min<std::size_t>(run, 3);
        appendNumber(out_, t_.millisecond, used == 3 ? 3 : 1);
        afterHour = false;
        i += used;
        continue;
      }
      case 't': {
        const std::size_t used = std::min<std::size_t>(run, 2);
        nested(used == 2 ? fs_.LongTimeFormat : fs_.ShortTimeFormat, depth);
        afterHour = false;
        i += used;
        continue;
      }
      case 'c':
        nested(fs_.ShortDateFormat, depth);
        out_.push_back(' ');
        nested(fs_.LongTimeFormat, depth);
        afterHour = false;
        ++i;
        continue;
      case 'a':
        if (startsWithNoCase(pattern, i, "am/pm")) {
          const bool upper = c == 'A';
          out_.append(t_.hour < 12 ? (upper ? "AM" : "am") : (upper ? "PM" : "pm"));
          i += 5;
          continue;
        }
        if (startsWithNoCase(pattern, i, "a/p")) {
          const bool upper = c == 'A';
          out_.push_back(t_.hour < 12 ? (upper ? 'A' : 'a') : (upper ? 'P' : 'p'));
          i += 3;
          continue;
        }
        out_.push_back(c);
        ++i;
        continue;
      case '/':
        out_.push_back(fs_.DateSeparator);
        ++i;
        continue;
      case ':':
        out_.push_back(fs_.TimeSeparator);
        ++i;
        continue;
      default:
        out_.push_back(c);
        ++i;
        continue;
      }
    }
  }

private:
  static std::size_t runLength(std::string_view s, std::size_t pos, char lc) {
    std::size_t n = 0;
    while (pos + n < s.size() && lower(s[pos + n]) == lc)
      ++n;
    return n;
  }

  void appendName(const char* name, bool shortForm) {
    out_.append(name, shortForm ? 3 : std::strlen(name));
  }

  // Settings patterns may name other settings patterns; two levels are plenty.
  void nested(const std::string& pattern, int depth) {
    if (depth < 2) format(pattern, depth + 1);
  }

  const LocalTime& t_;
  const TFormatSettings& fs_;
  std::string& out_;
};

} // namespace

std::string FormatDateTime(std::string_view pattern, std::chrono::system_clock::time_point when,
                           const TFormatSettings& fs) {
  const LocalTime t = toLocal(when);
  std::string out;
  out.reserve(pattern.size() + 8);
  DateTimeFormatter(t, fs, out).format(pattern, 0);
  return out;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace keltk
