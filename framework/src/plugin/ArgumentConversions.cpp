// What a command's arguments are worth as the types its parameters declare: which
// tags a parameter type takes, and the readings of any argument as an integer or a text.
#include "kelvarin/Commands.h"

#include <charconv>
#include <cmath>
#include <fmt/format.h>
#include <keltk/StrUtils.h>
#include <keltk/SysUtils.h>
#include <limits>

namespace kelvarin {

namespace {

using keltk::TVarRec;

template <class T> std::int32_t fitOrZero(T value) {
  if (value < static_cast<T>(std::numeric_limits<std::int32_t>::min()) ||
      value > static_cast<T>(std::numeric_limits<std::int32_t>::max()))
    return 0;
  return static_cast<std::int32_t>(value);
}

std::int32_t integerOfText(std::string_view text) {
  const std::string trimmed = keltk::Trim(text);
  std::string_view s = trimmed;
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  int base = 10;
  if (!s.empty() && s.front() == '$') {
    base = 16;
    s.remove_prefix(1);
  } else if (s.size() > 1 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  if (s.empty()) return 0;
  std::uint64_t magnitude = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), magnitude, base);
  if (ec != std::errc() || end != s.data() + s.size()) return 0;
  if (base == 16) {
    // Hexadecimal spells the 32 bits themselves: $FFFFFFFF is -1.
    if (magnitude > 0xFFFFFFFFu) return 0;
    const auto bits = static_cast<std::int32_t>(static_cast<std::uint32_t>(magnitude));
    return negative ? static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(bits)) : bits;
  }
  if (magnitude > (negative ? 0x80000000u : 0x7FFFFFFFu)) return 0;
  const auto value = static_cast<std::int64_t>(magnitude);
  return static_cast<std::int32_t>(negative ? -value : value);
}

std::string floatText(long double value) {
  std::string text = fmt::format("{}", static_cast<double>(value));
  const char decimal = keltk::FormatSettings().DecimalSeparator;
  if (decimal != '.')
    for (char& c : text)
      if (c == '.') c = decimal;
  return text;
}

std::string currencyText(std::int64_t units) {
  const bool negative = units < 0;
  const std::uint64_t magnitude =
      negative ? 0u - static_cast<std::uint64_t>(units) : static_cast<std::uint64_t>(units);
  std::string text = fmt::format("{}{}", negative ? "-" : "", magnitude / keltk::CurrencyScale);
  std::uint64_t fraction = magnitude % keltk::CurrencyScale;
  if (fraction == 0) return text;
  std::string digits = fmt::format("{:04}", fraction);
  while (digits.back() == '0')
    digits.pop_back();
  text += keltk::FormatSettings().DecimalSeparator;
  return text + digits;
}

} // namespace

// The declared type and the argument tag of one kind of value are one number.
constexpr bool sameOrdinal(TParamType type, keltk::TVarType tag) {
  return static_cast<int>(type) == static_cast<int>(tag);
}
static_assert(
    sameOrdinal(ptInteger, keltk::vtInteger) && sameOrdinal(ptBoolean, keltk::vtBoolean) &&
    sameOrdinal(ptChar, keltk::vtChar) && sameOrdinal(ptExtended, keltk::vtExtended) &&
    sameOrdinal(ptString, keltk::vtString) && sameOrdinal(ptPointer, keltk::vtPointer) &&
    sameOrdinal(ptPChar, keltk::vtPChar) && sameOrdinal(ptObject, keltk::vtObject) &&
    sameOrdinal(ptClass, keltk::vtClass) && sameOrdinal(ptWideChar, keltk::vtWideChar) &&
    sameOrdinal(ptPWideChar, keltk::vtPWideChar) &&
    sameOrdinal(ptAnsiString, keltk::vtAnsiString) && sameOrdinal(ptCurrency, keltk::vtCurrency) &&
    sameOrdinal(ptVariant, keltk::vtVariant) && sameOrdinal(ptInterface, keltk::vtInterface) &&
    sameOrdinal(ptWideString, keltk::vtWideString) && sameOrdinal(ptInt64, keltk::vtInt64));

bool ParamTypeAccepts(TParamType type, keltk::TVarType tag) {
  if (sameOrdinal(type, tag)) return true;
  auto isText = [tag] {
    switch (tag) {
    case keltk::vtChar:
    case keltk::vtWideChar:
    case keltk::vtString:
    case keltk::vtPChar:
    case keltk::vtPWideChar:
    case keltk::vtAnsiString:
    case keltk::vtWideString:
      return true;
    default:
      return false;
    }
  };
  switch (type) {
  case ptExtended:
    return tag == keltk::vtInteger || tag == keltk::vtInt64 || tag == keltk::vtCurrency;
  case ptCurrency:
    return tag == keltk::vtInteger || tag == keltk::vtInt64;
  case ptInt64:
    return tag == keltk::vtInteger;
  case ptWideChar:
    return tag == keltk::vtChar;
  case ptString:
  case ptPChar:
  case ptPWideChar:
  case ptAnsiString:
  case ptWideString:
    return isText();
  case ptPointer:
    return tag == keltk::vtPChar || tag == keltk::vtPWideChar || tag == keltk::vtObject ||
           tag == keltk::vtClass || tag == keltk::vtInterface;
  case ptVariant:
    return true;
  default:
    return false;
  }
}

std::int32_t Var2Int(const keltk::TVarRec& value) {
  const TVarRec& a = keltk::ResolveVariant(value);
  if (a.IsNull()) return 0;
  switch (a.VType) {
  case keltk::vtInteger:
    return a.VInteger;
  case keltk::vtBoolean:
    return a.VBoolean ? 1 : 0;
  case keltk::vtChar:
    return static_cast<unsigned char>(a.VChar);
  case keltk::vtWideChar:
    return static_cast<std::int32_t>(a.VWideChar);
  case keltk::vtInt64:
    return fitOrZero(*a.VInt64);
  case keltk::vtExtended:
    if (!std::isfinite(*a.VExtended)) return 0;
    return fitOrZero(std::trunc(*a.VExtended));
  case keltk::vtCurrency:
    return fitOrZero(*a.VCurrency / keltk::CurrencyScale);
  default:
    if (auto text = keltk::VarText(a)) return integerOfText(*text);
    return 0;
  }
}

std::string Var2Str(const keltk::TVarRec& value) {
  const TVarRec& a = keltk::ResolveVariant(value);
  if (a.IsNull()) return {};
  switch (a.VType) {
  case keltk::vtInteger:
    return fmt::format("{}", a.VInteger);
  case keltk::vtBoolean:
    return a.VBoolean ? "True" : "False";
  case keltk::vtInt64:
    return fmt::format("{}", *a.VInt64);
  case keltk::vtExtended:
    return floatText(*a.VExtended);
  case keltk::vtCurrency:
    return currencyText(*a.VCurrency);
  case keltk::vtClass:
    return a.VClass->name;
  default:
    if (auto text = keltk::VarText(a)) return *text;
    return {};
  }
}

} // namespace kelvarin
