// Number and date formatting settings, and small file-system helpers.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace keltk {

struct TFormatSettings {
  char DateSeparator = '/';
  char TimeSeparator = ':';
  char ThousandSeparator = ',';
  char DecimalSeparator = '.';
};

// This toolkit copy's settings: the defaults above, overridden by the numeric and
// time locale of the environment (LC_ALL, LC_NUMERIC, LANG) when one is set.
TFormatSettings& FormatSettings();

// A number with thousands separators and `decimals` decimals ("1,234.50").
std::string FormatNumber(double value, int decimals, const TFormatSettings& fs = FormatSettings());

// Local date and time in the toolkit's pattern language: yyyy, mm, dd, hh, nn, ss,
// zzz; '/' and ':' print the settings' date and time separators; other characters
// are copied. Example: "yyyy/mm/dd hh:nn:ss.zzz".
std::string FormatDateTime(std::string_view pattern, std::chrono::system_clock::time_point when,
                           const TFormatSettings& fs = FormatSettings());

bool FileExists(const std::string& path);     // a regular file (not a folder)
bool DirectoryExists(const std::string& path);

} // namespace keltk
