#include "CommandArguments.h"

#include "Script.h"

#include <charconv>
#include <cmath>
#include <fmt/format.h>
#include <keltk/StrUtils.h>
#include <keltk/Utf8.h>
#include <limits>
#include <optional>

namespace tavlo {

namespace {

using keltk::TVarRec;

template <class Int> bool readInteger(const std::string& word, Int& value) {
  const char* first = word.data();
  const char* last = word.data() + word.size();
  if (first != last && *first == '+') ++first;
  const auto [end, ec] = std::from_chars(first, last, value);
  return ec == std::errc() && end == last && first != last;
}

bool readExtended(const std::string& word, long double& value) {
  if (word.empty()) return false;
  try {
    std::size_t used = 0;
    value = std::stold(word, &used);
    return used == word.size() && std::isfinite(value);
  } catch (const std::exception&) {
    return false;
  }
}

// Currency counts ten-thousandths: at most four decimals.
bool readCurrency(const std::string& word, std::int64_t& value) {
  long double number = 0;
  if (!readExtended(word, number)) return false;
  const long double units = number * keltk::CurrencyScale;
  const long double scaled = std::round(units);
  if (std::fabs(scaled - units) > 1e-6L) return false;
  if (scaled > static_cast<long double>(std::numeric_limits<std::int64_t>::max()) ||
      scaled < static_cast<long double>(std::numeric_limits<std::int64_t>::min()))
    return false;
  value = static_cast<std::int64_t>(scaled);
  return true;
}

bool readBoolean(const std::string& word, bool& value) {
  if (keltk::SameText(word, "True")) {
    value = true;
    return true;
  }
  if (keltk::SameText(word, "False")) {
    value = false;
    return true;
  }
  return false;
}

bool isNil(const std::string& word) {
  return keltk::SameText(word, "nil");
}

} // namespace

CommandArguments::CommandArguments(const std::vector<kelvarin::TParamType>& types,
                                   const std::vector<std::string>& words) {
  values_.reserve(words.size());
  for (std::size_t i = 0; i < words.size(); ++i) {
    const kelvarin::TParamType type = i < types.size() ? types[i] : kelvarin::ptAnsiString;
    values_.push_back(convert(type, words[i], static_cast<int>(i)));
  }
}

std::vector<kelvarin::TParamType>
CommandArguments::TypesOf(const kelvarin::TCommandParams* params) {
  std::vector<kelvarin::TParamType> types;
  if (params == nullptr) return types;
  for (int i = 0; i < params->Count(); ++i)
    types.push_back(params->Items(i)->ParamType());
  return types;
}

TVarRec CommandArguments::convert(kelvarin::TParamType type, const std::string& word,
                                  int position) {
  auto refuse = [&](std::string_view what) -> ScriptError {
    return ScriptError(fmt::format("argument {} (\"{}\") is not {}", position + 1, word, what));
  };
  TVarRec value;
  switch (type) {
  case kelvarin::ptInteger: {
    std::int32_t number = 0;
    if (!readInteger(word, number)) throw refuse("an integer");
    return keltk::VarInt(number);
  }
  case kelvarin::ptInt64: {
    std::int64_t number = 0;
    if (!readInteger(word, number)) throw refuse("a 64-bit integer");
    return keltk::VarInt64(int64s_.emplace_back(number));
  }
  case kelvarin::ptBoolean: {
    bool flag = false;
    if (!readBoolean(word, flag)) throw refuse("True or False");
    return keltk::VarBool(flag);
  }
  case kelvarin::ptChar:
    if (word.size() != 1) throw refuse("one character");
    return keltk::VarChar(word[0]);
  case kelvarin::ptWideChar: {
    const std::optional<std::u16string> wide = keltk::Utf16FromUtf8(word);
    if (!wide || wide->size() != 1) throw refuse("one character");
    value.VType = keltk::vtWideChar;
    value.VWideChar = (*wide)[0];
    return value;
  }
  case kelvarin::ptExtended: {
    long double number = 0;
    if (!readExtended(word, number)) throw refuse("a number");
    return keltk::VarExtended(extendeds_.emplace_back(number));
  }
  case kelvarin::ptCurrency: {
    std::int64_t count = 0;
    if (!readCurrency(word, count)) throw refuse("an amount with at most four decimals");
    value.VType = keltk::vtCurrency;
    value.VCurrency = &int64s_.emplace_back(count);
    return value;
  }
  case kelvarin::ptString: {
    // A short string: its length in the first byte.
    if (word.size() > 255) throw refuse("a text of at most 255 bytes");
    auto& bytes = shortStrings_.emplace_back();
    bytes.push_back(static_cast<unsigned char>(word.size()));
    bytes.insert(bytes.end(), word.begin(), word.end());
    value.VType = keltk::vtString;
    value.VString = bytes.data();
    return value;
  }
  case kelvarin::ptPChar:
    return keltk::VarPChar(texts_.emplace_back(word).c_str());
  case kelvarin::ptAnsiString:
    return keltk::VarStr(texts_.emplace_back(word));
  case kelvarin::ptPWideChar:
  case kelvarin::ptWideString: {
    std::optional<std::u16string> wide = keltk::Utf16FromUtf8(word);
    if (!wide) throw refuse("UTF-8 text");
    const std::u16string& kept = wideTexts_.emplace_back(std::move(*wide));
    if (type == kelvarin::ptWideString) return keltk::VarWideString(kept);
    value.VType = keltk::vtPWideChar;
    value.VPWideChar = kept.c_str();
    return value;
  }
  case kelvarin::ptVariant: {
    // The variant holds the word as text.
    const TVarRec& inner = variants_.emplace_back(keltk::VarStr(texts_.emplace_back(word)));
    value.VType = keltk::vtVariant;
    value.VVariant = &inner;
    return value;
  }
  case kelvarin::ptPointer:
  case kelvarin::ptObject:
  case kelvarin::ptClass:
  case kelvarin::ptInterface:
    // Nothing a script can name lives at an address; only the null argument.
    if (!isNil(word)) throw refuse("nil");
    return TVarRec::Null();
  }
  throw refuse("of a known type");
}

} // namespace tavlo
