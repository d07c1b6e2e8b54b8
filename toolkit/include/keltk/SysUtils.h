// Number and date formatting settings, and small file-system helpers.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace keltk {

struct TFormatSettings {
  char DateSeparator = '/';
  char TimeSeparator = ':';
  char ThousandSeparator = ',';
  char DecimalSeparator = '.';
  // Patterns behind the "ddddd" (short date), "t" (short time) and "tt" (long time)
  // specifiers; "c" prints short date, a blank and long time.
  std::string ShortDateFormat = "yyyy/mm/dd";
  std::string ShortTimeFormat = "hh:nn";
  std::string LongTimeFormat = "hh:nn:ss";
};

// This toolkit copy's settings: the defaults above, overridden by the numeric and
// time locale of the environment (LC_ALL, LC_NUMERIC, LANG) when one is set.
TFormatSettings& FormatSettings();

// Settings computed afresh from the environment (what FormatSettings() starts from).
TFormatSettings LocaleFormatSettings();

// A number with thousands separators and `decimals` decimals ("1,234.50").
std::string FormatNumber(double value, int decimals, const TFormatSettings& fs = FormatSettings());

// Local date and time in the toolkit's pattern language: yyyy, mm, dd, hh, nn, ss,
// zzz; '/' and ':' print the settings' date and time separators; other characters
// are copied. Example: "yyyy/mm/dd hh:nn:ss.zzz".
//
// Also understood: yy, m, d, h, n, s, z (without leading zeros where one digit
// fits), mmm/mmmm and ddd/dddd (English month and day names), ddddd, t, tt, c
// (see TFormatSettings), am/pm and a/p (12-hour clock), and text in single or
// double quotes, copied as it is. "m"/"mm" right after an hour means minutes.
std::string FormatDateTime(std::string_view pattern, std::chrono::system_clock::time_point when,
                           const TFormatSettings& fs = FormatSettings());

bool FileExists(const std::string& path); // a regular file (not a folder)
bool DirectoryExists(const std::string& path);

// The text of `path` when it is a regular file of at most `limit` bytes. It is
// opened without blocking, so a FIFO or a device is refused instead of waited on
// or read without end. Otherwise null, with the reason in words in `why` ("not a
// regular file", "larger than 1 MiB", the system's text); `why` stays empty when
// there is no such file.
std::optional<std::string> ReadRegularFile(const std::string& path, std::size_t limit,
                                           std::string& why);

} // namespace keltk
