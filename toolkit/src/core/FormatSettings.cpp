#include "keltk/SysUtils.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fmt/format.h>
#include <langinfo.h>
#include <locale.h>

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

} // namespace keltk
