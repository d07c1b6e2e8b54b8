#include "CommandArguments.h"

#include "Script.h"

#include <charconv>
#include <cmath>
#include <fmt/format.h>
#include <keltk/StrUtils.h>
#include <limits>

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
  const long double scaled = std::round(number * 10000.0L);
  if (std::fabs(scaled - number * 10000.0L) > 1e-6L) return false;
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

// UTF-8 to UTF-16; false for malformed input.
bool toUtf16(const std::string& word, std::u16string& out) {
  out.clear();
  for (std::size_t i = 0; i < word.size();) {
    const auto lead = static_cast<unsigned char>(word[i]);
    int extra = 0;
    char32_t code = 0;
    if (lead < 0x80) {
      code = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1;
      code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2;
      code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3;
      code = lead & 0x07;
    } else {
      return false;
    }
    if (i + static_cast<std::size_t>(extra) >= word.size()) return false;
    for (int k = 1; k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(word[i + static_cast<std::size_t>(k)]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    i += static_cast<std::size_t>(extra) + 1;
    if (code >= 0x10000) {
      code -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (code >> 10));
      out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
    } else {
      out += static_cast<char16_t>(code);
    }
  }
  return true;
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
    std::u16string wide;
    if (!toUtf16(word, wide) || wide.size() != 1) throw refuse("one character");
    value.VType = keltk::vtWideChar;
    value.VWideChar = wide[0];
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
    std::u16string wide;
    if (!toUtf16(word, wide)) throw refuse("UTF-8 text");
    const std::u16string& kept = wideTexts_.emplace_back(std::move(wide));
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
