#include "keltk/SysUtils.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <time.h>
#include <vector>

namespace keltk {

namespace {

// ---- Local time ---------------------------------------------------------------

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

// Local time for a whole second. The zone rules are consulted only when the second
// changes, and then only about four times an hour: the offset of a quarter-hour
// block is kept when both of its ends agree (zones change on whole minutes, and
// never twice in fifteen of them). A change of TZ at run time shows from the next
// second on. Callers hold the lock.
class LocalClock {
public:
  LocalClock() { refreshZone(); }

  LocalTime at(std::int64_t secs) {
    if (haveSecond_ && secs == second_) return cached_;
    refreshZone();
    const std::int64_t local = secs + offsetAt(secs);
    const std::int64_t days = floorDiv(local, 86400);
    const std::int64_t sod = local - days * 86400;
    LocalTime lt{};
    civilFromDays(days, lt.year, lt.month, lt.day);
    lt.hour = static_cast<int>(sod / 3600);
    lt.minute = static_cast<int>(sod / 60 % 60);
    lt.second = static_cast<int>(sod % 60);
    lt.weekday = static_cast<int>(days + 4 - floorDiv(days + 4, 7) * 7); // 1970-01-01: Thursday
    haveSecond_ = true;
    second_ = secs;
    cached_ = lt;
    return lt;
  }

private:
  static constexpr std::int64_t kBlock = 900;

  long offsetAt(std::int64_t secs) {
    const std::int64_t block = floorDiv(secs, kBlock) * kBlock;
    if (haveBlock_ && block == blockStart_) return offset_;
    const long first = zoneOffsetAt(block);
    const long last = zoneOffsetAt(block + kBlock - 1);
    if (first != last) return zoneOffsetAt(secs); // the change falls inside this block
    haveBlock_ = true;
    blockStart_ = block;
    offset_ = first;
    return offset_;
  }

  void refreshZone() {
    const char* tz = std::getenv("TZ");
    const bool set = tz != nullptr;
    if (initialised_ && set == tzSet_ && (!set || zone_ == tz)) return;
    initialised_ = true;
    tzSet_ = set;
    zone_ = set ? tz : "";
    tzset();
    haveBlock_ = false;
    haveSecond_ = false;
  }

  bool initialised_ = false;
  bool tzSet_ = false;
  std::string zone_;
  bool haveBlock_ = false;
  std::int64_t blockStart_ = 0;
  long offset_ = 0;
  bool haveSecond_ = false;
  std::int64_t second_ = 0;
  LocalTime cached_{};
};

// ---- Patterns -----------------------------------------------------------------

constexpr std::array<const char*, 12> kMonthNames = {
    "January", "February", "March",     "April",   "May",      "June",
    "July",    "August",   "September", "October", "November", "December"};
constexpr std::array<const char*, 7> kDayNames = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                  "Thursday", "Friday", "Saturday"};

enum class Field : std::uint8_t {
  Literal,
  Year,
  Month,
  MonthName,
  Day,
  DayName,
  Hour,
  Minute,
  Second,
  Millisecond,
  AmPm,
  DateSeparator,
  TimeSeparator,
};

struct Token {
  Field field = Field::Literal;
  std::uint8_t width = 0;    // digits (numbers); 1 = short form (names); 2 = "am/pm", 1 = "a/p"
  bool upper = false;        // am/pm letters
  std::uint32_t literal = 0; // Literal: offset and length in the literal text
  std::uint32_t length = 0;
};

// A pattern turned into tokens once, with the settings patterns it names expanded.
struct CompiledPattern {
  std::string pattern;
  std::string shortDate, shortTime, longTime; // the settings it was compiled with
  std::string literals;
  std::vector<Token> tokens;
  std::size_t maxLength = 0;
  bool twelveHour = false;

  bool matches(std::string_view p, const TFormatSettings& fs) const {
    return pattern == p && shortDate == fs.ShortDateFormat && shortTime == fs.ShortTimeFormat &&
           longTime == fs.LongTimeFormat;
  }
};

char lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

bool startsWithNoCase(std::string_view s, std::size_t pos, std::string_view word) {
  if (s.size() - pos < word.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i)
    if (lower(s[pos + i]) != word[i]) return false;
  return true;
}

class PatternCompiler {
public:
  PatternCompiler(const TFormatSettings& fs, CompiledPattern& out) : fs_(fs), out_(out) {}

  void compile(std::string_view pattern, int depth) {
    bool afterHour = false;
    std::size_t i = 0;
    while (i < pattern.size()) {
      const char c = pattern[i];
      const char lc = lower(c);
      std::size_t run = 0;
      while (i + run < pattern.size() && lower(pattern[i + run]) == lc)
        ++run;
      switch (lc) {
      case '\'':
      case '"': {
        const std::size_t end = pattern.find(c, i + 1);
        const std::size_t stop = end == std::string_view::npos ? pattern.size() : end;
        literal(pattern.substr(i + 1, stop - i - 1));
        i = end == std::string_view::npos ? stop : stop + 1;
        continue;
      }
      case 'y':
        number(Field::Year, run <= 2 ? 2 : 4);
        i += run;
        break;
      case 'm': {
        const std::size_t used = std::min<std::size_t>(run, 4);
        if (afterHour && used <= 2)
          number(Field::Minute, static_cast<int>(used));
        else if (used <= 2)
          number(Field::Month, static_cast<int>(used));
        else
          name(Field::MonthName, used == 3);
        i += used;
        break;
      }
      case 'd': {
        const std::size_t used = std::min<std::size_t>(run, 5);
        if (used <= 2)
          number(Field::Day, static_cast<int>(used));
        else if (used <= 4)
          name(Field::DayName, used == 3);
        else
          nested(fs_.ShortDateFormat, depth);
        i += used;
        break;
      }
      case 'h': {
        const std::size_t used = std::min<std::size_t>(run, 2);
        number(Field::Hour, static_cast<int>(used));
        i += used;
        afterHour = true;
        continue;
      }
      case 'n':
      case 's': {
        const std::size_t used = std::min<std::size_t>(run, 2);
        number(lc == 'n' ? Field::Minute : Field::Second, static_cast<int>(used));
        i += used;
        break;
      }
      case 'z': {
        const std::size_t used = std::min<std::size_t>(run, 3);
        number(Field::Millisecond, used == 3 ? 3 : 1);
        i += used;
        break;
      }
      case 't': {
        const std::size_t used = std::min<std::size_t>(run, 2);
        nested(used == 2 ? fs_.LongTimeFormat : fs_.ShortTimeFormat, depth);
        i += used;
        break;
      }
      case 'c':
        nested(fs_.ShortDateFormat, depth);
        literal(" ");
        nested(fs_.LongTimeFormat, depth);
        ++i;
        break;
      case 'a':
        if (startsWithNoCase(pattern, i, "am/pm") || startsWithNoCase(pattern, i, "a/p")) {
          const bool full = startsWithNoCase(pattern, i, "am/pm");
          Token t;
          t.field = Field::AmPm;
          t.width = full ? 2 : 1;
          t.upper = c == 'A';
          push(t, 2);
          out_.twelveHour = true;
          i += full ? 5 : 3;
          continue; // does not end an hour's influence on "mm"
        }
        literal(pattern.substr(i, 1));
        ++i;
        continue;
      case '/':
        push(Token{Field::DateSeparator}, 1);
        ++i;
        continue;
      case ':':
        push(Token{Field::TimeSeparator}, 1);
        ++i;
        continue;
      default:
        literal(pattern.substr(i, 1));
        ++i;
        continue;
      }
      afterHour = false;
    }
  }

private:
  void push(const Token& t, std::size_t maxLength) {
    out_.tokens.push_back(t);
    out_.maxLength += maxLength;
  }
  void number(Field f, int width) {
    Token t;
    t.field = f;
    t.width = static_cast<std::uint8_t>(width);
    push(t, 11); // any int fits
  }
  void name(Field f, bool shortForm) {
    Token t;
    t.field = f;
    t.width = shortForm ? 1 : 0;
    push(t, 9);
  }
  void literal(std::string_view text) {
    if (text.empty()) return;
    if (!out_.tokens.empty() && out_.tokens.back().field == Field::Literal &&
        out_.tokens.back().literal + out_.tokens.back().length == out_.literals.size()) {
      out_.tokens.back().length += static_cast<std::uint32_t>(text.size());
    } else {
      Token t;
      t.literal = static_cast<std::uint32_t>(out_.literals.size());
      t.length = static_cast<std::uint32_t>(text.size());
      out_.tokens.push_back(t);
    }
    out_.literals.append(text);
    out_.maxLength += text.size();
  }
  // Settings patterns may name other settings patterns; two levels are plenty.
  void nested(const std::string& pattern, int depth) {
    if (depth < 2) compile(pattern, depth + 1);
  }

  const TFormatSettings& fs_;
  CompiledPattern& out_;
};

// Writes `value` with at least `width` digits at `p`; returns the end.
char* writeNumber(char* p, int value, int width) {
  if (value < 0) {
    *p++ = '-';
    value = -value;
  }
  char digits[12];
  int n = 0;
  auto v = static_cast<unsigned>(value);
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  for (int i = n; i < width; ++i)
    *p++ = '0';
  while (n > 0)
    *p++ = digits[--n];
  return p;
}

char* writeText(char* p, const char* text, std::size_t length) {
  std::memcpy(p, text, length);
  return p + length;
}

std::string render(const CompiledPattern& cp, const LocalTime& t, const TFormatSettings& fs) {
  std::string out(cp.maxLength, '\0');
  char* const begin = out.data();
  char* p = begin;
  for (const Token& tok : cp.tokens) {
    switch (tok.field) {
    case Field::Literal:
      p = writeText(p, cp.literals.data() + tok.literal, tok.length);
      break;
    case Field::Year:
      p = tok.width == 2 ? writeNumber(p, t.year % 100, 2) : writeNumber(p, t.year, 4);
      break;
    case Field::Month:
      p = writeNumber(p, t.month, tok.width);
      break;
    case Field::Day:
      p = writeNumber(p, t.day, tok.width);
      break;
    case Field::Hour: {
      int hour = t.hour;
      if (cp.twelveHour) hour = hour % 12 == 0 ? 12 : hour % 12;
      p = writeNumber(p, hour, tok.width);
      break;
    }
    case Field::Minute:
      p = writeNumber(p, t.minute, tok.width);
      break;
    case Field::Second:
      p = writeNumber(p, t.second, tok.width);
      break;
    case Field::Millisecond:
      p = writeNumber(p, t.millisecond, tok.width);
      break;
    case Field::MonthName: {
      const char* n = kMonthNames[static_cast<std::size_t>(t.month - 1)];
      p = writeText(p, n, tok.width == 1 ? 3 : std::strlen(n));
      break;
    }
    case Field::DayName: {
      const char* n = kDayNames[static_cast<std::size_t>(t.weekday)];
      p = writeText(p, n, tok.width == 1 ? 3 : std::strlen(n));
      break;
    }
    case Field::AmPm: {
      const bool am = t.hour < 12;
      *p++ = tok.upper ? (am ? 'A' : 'P') : (am ? 'a' : 'p');
      if (tok.width == 2) *p++ = tok.upper ? 'M' : 'm';
      break;
    }
    case Field::DateSeparator:
      *p++ = fs.DateSeparator;
      break;
    case Field::TimeSeparator:
      *p++ = fs.TimeSeparator;
      break;
    }
  }
  out.resize(static_cast<std::size_t>(p - begin));
  return out;
}

// The clock and the last few compiled patterns, shared by all threads.
struct DateTimeState {
  std::mutex lock;
  LocalClock clock;
  std::array<CompiledPattern, 4> patterns;
  std::size_t nextSlot = 0;

  const CompiledPattern& compiled(std::string_view pattern, const TFormatSettings& fs) {
    for (const CompiledPattern& cp : patterns)
      if (!cp.tokens.empty() && cp.matches(pattern, fs)) return cp;
    CompiledPattern& cp = patterns[nextSlot];
    nextSlot = (nextSlot + 1) % patterns.size();
    cp = CompiledPattern{};
    cp.pattern = pattern;
    cp.shortDate = fs.ShortDateFormat;
    cp.shortTime = fs.ShortTimeFormat;
    cp.longTime = fs.LongTimeFormat;
    PatternCompiler(fs, cp).compile(pattern, 0);
    if (cp.tokens.empty()) cp.tokens.push_back(Token{}); // an empty pattern is cached too
    return cp;
  }
};

DateTimeState& dateTimeState() {
  static DateTimeState state;
  return state;
}

} // namespace

std::string FormatDateTime(std::string_view pattern, std::chrono::system_clock::time_point when,
                           const TFormatSettings& fs) {
  using namespace std::chrono;
  const std::int64_t ms = duration_cast<milliseconds>(when.time_since_epoch()).count();
  const std::int64_t secs = floorDiv(ms, 1000);
  DateTimeState& state = dateTimeState();
  std::lock_guard<std::mutex> guard(state.lock);
  LocalTime t = state.clock.at(secs);
  t.millisecond = static_cast<int>(ms - secs * 1000);
  return render(state.compiled(pattern, fs), t, fs);
}

} // namespace keltk
