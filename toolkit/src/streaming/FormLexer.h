// Tokens of stored form data: one pass over the text, no copies except for the
// decoded values of strings and binary data (kept in reused buffers).
#pragma once

#include <cstddef>
#include <cstdint>
#include <keltk/Utf8.h>
#include <string>
#include <string_view>
#include <vector>

namespace keltk {

struct SourcePos {
  std::size_t offset = 0;
  std::size_t lineStart = 0; // offset of the first byte of the line
  int line = 1;
};

enum class TokenKind : std::uint8_t {
  EndOfText,
  Ident,   // letters, digits and '_', dotted parts included: Log.DumpFile
  String,  // 'quoted' and #nnn pieces written without blanks between them
  Integer, // decimal or $hex, with an optional '-'
  Binary,  // {hex}
  Symbol,  // one of = : , + [ ] ( ) < >
};

struct Token {
  TokenKind kind = TokenKind::EndOfText;
  char symbol = 0;
  std::string_view text; // as written
  SourcePos pos;
  std::int64_t integer = 0;
};

class FormLexer {
public:
  // `text` must outlive the lexer; `sourceName`, when not empty, prefixes messages.
  FormLexer(std::string_view text, std::string sourceName);

  const Token& token() const { return tok_; }
  // Moves to the next token; raises EReadError for malformed text.
  void next();

  bool atSymbol(char c) const { return tok_.kind == TokenKind::Symbol && tok_.symbol == c; }
  // An identifier equal to `word` without regard to case.
  bool atKeyword(std::string_view word) const;

  // The decoded value of the current String token (UTF-8).
  const std::string& stringValue() const { return string_; }
  // The decoded bytes of the current Binary token.
  const std::vector<std::uint8_t>& binaryValue() const { return bytes_; }

  // "line L, column C: message", prefixed with the source name when there is one.
  std::string message(const SourcePos& pos, std::string_view text) const;
  [[noreturn]] void fail(const SourcePos& pos, std::string_view text) const;
  // The token as an error message shows it: "\"abc\"" or "end of text".
  std::string describe(const Token& t) const;

  int column(const SourcePos& pos) const;
  std::string_view text() const { return text_; }
  const std::string& sourceName() const { return source_; }

private:
  SourcePos here() const { return {p_, lineStart_, line_}; }
  void skipBlanks();
  void scanIdent();
  void scanNumber();
  void scanString();
  void scanQuoted();
  void scanCharCode();
  void scanBinary();
  [[noreturn]] void failHere(std::string_view text) const { fail(here(), text); }

  std::string_view text_;
  std::string source_;
  std::size_t p_ = 0;
  std::size_t lineStart_ = 0;
  int line_ = 1;
  Token tok_;
  std::string string_;
  std::vector<std::uint8_t> bytes_;
};

// Shortens `text` for an error message (whole UTF-8 characters, "..." when cut)
// and shows control characters and bytes that are not UTF-8 as #nnn.
std::string excerpt(std::string_view text, std::size_t limit = 40);

} // namespace keltk
