#include "keltk/Utf8.h"

namespace keltk {

namespace {

bool isSurrogate(char32_t c) {
  return c >= 0xD800 && c <= 0xDFFF;
}

bool isControl(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

// "<prefix>" and `value` in `digits` lower-case hex digits.
void appendEscape(std::string& out, const char* prefix, unsigned value, int digits) {
  static constexpr char hex[] = "0123456789abcdef";
  out += prefix;
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
    out += hex[(value >> shift) & 0xF];
}

} // namespace

std::size_t Utf8SequenceLength(std::string_view s, std::size_t i) {
  auto at = [&](std::size_t k) -> unsigned {
    return k < s.size() ? static_cast<unsigned char>(s[k]) : 0u;
  };
  auto cont = [&](std::size_t k, unsigned lo = 0x80, unsigned hi = 0xBF) {
    const unsigned b = at(k);
    return k < s.size() && b >= lo && b <= hi;
  };
  const unsigned c = at(i);
  if (i >= s.size()) return 0;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) return cont(i + 1) ? 2 : 0;
  if (c >= 0xE0 && c <= 0xEF) {
    const unsigned lo = c == 0xE0 ? 0xA0 : 0x80; // no overlong form
    const unsigned hi = c == 0xED ? 0x9F : 0xBF; // no surrogates
    return cont(i + 1, lo, hi) && cont(i + 2) ? 3 : 0;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    const unsigned lo = c == 0xF0 ? 0x90 : 0x80; // no overlong form
    const unsigned hi = c == 0xF4 ? 0x8F : 0xBF; // nothing above U+10FFFF
    return cont(i + 1, lo, hi) && cont(i + 2) && cont(i + 3) ? 4 : 0;
  }
  return 0;
}

char32_t DecodeUtf8(std::string_view s, std::size_t i, std::size_t length) {
  auto b = [&](std::size_t k) { return static_cast<char32_t>(static_cast<unsigned char>(s[k])); };
  switch (length) {
  case 1:
    return b(i);
  case 2:
    return (b(i) & 0x1F) << 6 | (b(i + 1) & 0x3F);
  case 3:
    return (b(i) & 0x0F) << 12 | (b(i + 1) & 0x3F) << 6 | (b(i + 2) & 0x3F);
  default:
    return (b(i) & 0x07) << 18 | (b(i + 1) & 0x3F) << 12 | (b(i + 2) & 0x3F) << 6 |
           (b(i + 3) & 0x3F);
  }
}

bool IsValidUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t n = Utf8SequenceLength(s, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (isSurrogate(c) || c > kMaxCodePoint) c = kReplacementCharacter;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::string Utf8FromUtf16(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    char32_t c = s[i];
    const bool high = c >= 0xD800 && c < 0xDC00;
    if (high && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    }
    AppendUtf8(out, c); // an unpaired surrogate comes out as U+FFFD
  }
  return out;
}

std::optional<std::u16string> Utf16FromUtf8(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t n = Utf8SequenceLength(s, i);
    if (n == 0) return std::nullopt;
    char32_t c = DecodeUtf8(s, i, n);
    i += n;
    if (c < 0x10000) {
      out += static_cast<char16_t>(c);
      continue;
    }
    c -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (c >> 10));
    out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
  }
  return out;
}

std::string ShownText(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t n = Utf8SequenceLength(s, i);
    if (n == 0 || (n == 1 && isControl(static_cast<unsigned char>(s[i])))) {
      appendEscape(out, "\\x", static_cast<unsigned char>(s[i++]), 2);
      continue;
    }
    const char32_t c = DecodeUtf8(s, i, n);
    if (isControl(c))
      appendEscape(out, "\\u", static_cast<unsigned>(c), 4);
    else
      out.append(s.substr(i, n));
    i += n;
  }
  return out;
}

} // namespace keltk
