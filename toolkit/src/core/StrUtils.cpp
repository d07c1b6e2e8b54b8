#include "keltk/StrUtils.h"

#include <fmt/format.h>

namespace keltk {

namespace {

bool isBlank(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

} // namespace

// Folds ASCII letters and the two-byte UTF-8 forms of Latin-1 letters
// (U+00E0..U+00FE except U+00F7 to U+00C0..U+00DE).
std::string UpperCase(std::string_view s) {
  std::string out(s);
  for (std::size_t i = 0; i < out.size(); ++i) {
    auto c = static_cast<unsigned char>(out[i]);
    if (c < 0x80) {
      if (c >= 'a' && c <= 'z') out[i] = static_cast<char>(c - 32);
      continue;
    }
    if (c != 0xC3 || i + 1 >= out.size()) continue;
    auto d = static_cast<unsigned char>(out[i + 1]);
    if (d >= 0xA0 && d <= 0xBE && d != 0xB7) out[i + 1] = static_cast<char>(d - 0x20);
    ++i;
  }
  return out;
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto x = static_cast<unsigned char>(a[i]);
    auto y = static_cast<unsigned char>(b[i]);
    if (x == y) continue;
    if (x >= 0x80 || y >= 0x80) return UpperCase(a) == UpperCase(b);
    if ((x | 0x20) != (y | 0x20) || (x | 0x20) < 'a' || (x | 0x20) > 'z') return false;
  }
  return true;
}

std::string TrimLeft(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && isBlank(s[i]))
    ++i;
  return std::string(s.substr(i));
}

std::string TrimRight(std::string_view s) {
  std::size_t n = s.size();
  while (n > 0 && isBlank(s[n - 1]))
    --n;
  return std::string(s.substr(0, n));
}

std::string Trim(std::string_view s) {
  return TrimLeft(TrimRight(s));
}

std::string ExtractFileName(std::string_view path) {
  auto pos = path.rfind('/');
  return std::string(pos == std::string_view::npos ? path : path.substr(pos + 1));
}

std::string ChangeFileExt(std::string_view path, std::string_view ext) {
  auto slash = path.rfind('/');
  auto dot = path.rfind('.');
  bool hasExt = dot != std::string_view::npos && (slash == std::string_view::npos || dot > slash);
  std::string out(hasExt ? path.substr(0, dot) : path);
  out += ext;
  return out;
}

std::string StringReplaceAll(std::string_view s, std::string_view from, std::string_view to,
                             bool ignoreCase) {
  if (from.empty()) return std::string(s);
  std::string hay = ignoreCase ? UpperCase(s) : std::string(s);
  std::string needle = ignoreCase ? UpperCase(from) : std::string(from);
  std::string out;
  std::size_t pos = 0;
  for (;;) {
    auto hit = hay.find(needle, pos);
    if (hit == std::string::npos) break;
    out.append(s.substr(pos, hit - pos));
    out.append(to);
    pos = hit + needle.size();
  }
  out.append(s.substr(pos));
  return out;
}

std::string IntToHex(std::uint64_t value, int digits) {
  return fmt::format("{:0{}X}", value, digits);
}

} // namespace keltk
