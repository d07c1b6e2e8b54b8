// Text helpers with the toolkit's meanings (blanks are spaces and control
// characters; case folding is ASCII plus the Latin-1 letters of UTF-8 text).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace keltk {

std::string UpperCase(std::string_view s);
// Equal without regard to letter case.
bool SameText(std::string_view a, std::string_view b);

// Removes leading and trailing characters at or below the space (blanks and controls).
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);

// Everything after the last '/' (the file-name part of a path).
std::string ExtractFileName(std::string_view path);
// Replaces the extension of the file-name part (`ext` includes the dot, or is empty).
std::string ChangeFileExt(std::string_view path, std::string_view ext);

// Replaces every occurrence of `from` (not empty) by `to`, case-sensitive or not.
std::string StringReplaceAll(std::string_view s, std::string_view from, std::string_view to,
                             bool ignoreCase = false);

// At least `digits` upper-case hexadecimal digits.
std::string IntToHex(std::uint64_t value, int digits);

} // namespace keltk
