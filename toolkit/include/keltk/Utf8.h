// The one UTF-8 codec of the system: strict in both directions. Well-formed means
// the shortest form, no encoded surrogates (U+D800..U+DFFF) and nothing above
// U+10FFFF; anything else is malformed, never decoded to some code point.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace keltk {

inline constexpr char32_t kMaxCodePoint = 0x10FFFF;
inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// The length (1 to 4) of the well-formed sequence that starts at `s[i]`; 0 when
// the bytes there are malformed or `i` is past the end.
std::size_t Utf8SequenceLength(std::string_view s, std::size_t i);
// The code point of the sequence of `length` bytes at `s[i]`, which
// Utf8SequenceLength has found well-formed.
char32_t DecodeUtf8(std::string_view s, std::size_t i, std::size_t length);
bool IsValidUtf8(std::string_view s);

// Appends the UTF-8 of `codePoint`; a surrogate or a value above U+10FFFF is
// written as U+FFFD, so the output is always well-formed.
void AppendUtf8(std::string& out, char32_t codePoint);

// UTF-8 of UTF-16 text; an unpaired surrogate becomes U+FFFD.
std::string Utf8FromUtf16(std::u16string_view text);
// UTF-16 of UTF-8 text; nullopt when the text is malformed anywhere.
std::optional<std::u16string> Utf16FromUtf8(std::string_view text);

// `text` made safe to print on a terminal: control characters, DEL, the C1
// controls and bytes that are not UTF-8 written as escapes ("\xNN" for a byte,
// "\u0080" to "\u009f" for C1); other text stays as it is. For texts that come
// from a module, which must not drive the terminal they are shown on.
std::string ShownText(std::string_view text);

} // namespace keltk
