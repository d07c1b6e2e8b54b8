// The metadata section of a plug-in module, built by the source that kelforms
// writes for it (not for hand use); the forms in it are registered with the
// toolkit while the module is loaded (keltk::FormRegistrar):
//
//   section .kelvarin.meta, read by kelinfo without loading the module:
//     KELVARIN-META 1\n
//     version <size>\n<size bytes>\n   the version record of the headers compiled
//     form <size>\n<size bytes>\n      one per form, in the order given
//
// The version is taken from the headers the source is compiled with, so the
// section and GetPluginInfo always name the framework the module was built for.
#pragma once

#include "kelvarin/Framework.h"

#include <array>
#include <cstddef>
#include <string_view>

namespace kelvarin::embedded {

inline constexpr std::string_view kMetadataMagic = "KELVARIN-META 1\n";
inline constexpr std::string_view kVersion = kFrameworkVersion;
inline constexpr std::size_t kRecordSize =
    std::string_view("ProdVersion=").size() + kVersion.size() + 2;

consteval std::size_t decimalDigits(std::size_t n) {
  std::size_t digits = 1;
  for (; n >= 10; n /= 10)
    ++digits;
  return digits;
}

// The section's bytes before the first form.
inline constexpr std::size_t kHeadSize = kMetadataMagic.size() +
                                         std::string_view("version ").size() +
                                         decimalDigits(kRecordSize) + 1 + kRecordSize + 1;

// The whole section: the head, then `forms` (the "form ..." parts, written by kelforms).
template <std::size_t N>
consteval std::array<unsigned char, kHeadSize + N>
Metadata(const std::array<unsigned char, N>& forms) {
  std::array<unsigned char, kHeadSize + N> out{};
  std::size_t at = 0;
  auto put = [&](std::string_view text) {
    for (char c : text)
      out[at++] = static_cast<unsigned char>(c);
  };
  put(kMetadataMagic);
  put("version ");
  char digits[decimalDigits(kRecordSize)]{};
  std::size_t n = kRecordSize;
  for (std::size_t i = sizeof digits; i-- > 0; n /= 10)
    digits[i] = static_cast<char>('0' + n % 10);
  put({digits, sizeof digits});
  put("\nProdVersion=");
  put(kVersion);
  put("\r\n\n");
  for (unsigned char c : forms)
    out[at++] = c;
  return out;
}

} // namespace kelvarin::embedded
