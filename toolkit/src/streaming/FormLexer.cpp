#include "FormLexer.h"

#include "keltk/Exception.h"
#include "keltk/StrUtils.h"
#include "keltk/Utf8.h"

#include <fmt/format.h>

namespace keltk {

namespace {

bool isIdentStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool isIdentChar(char c) {
  return isIdentStart(c) || (c >= '0' && c <= '9');
}
bool isDigit(char c) {
  return c >= '0' && c <= '9';
}
int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}
bool isSymbolChar(char c) {
  switch (c) {
  case '=':
  case ':':
  case ',':
  case '+':
  case '[':
  case ']':
  case '(':
  case ')':
  case '<':
  case '>':
    return true;
  default:
    return false;
  }
}

} // namespace

std::string excerpt(std::string_view text, std::size_t limit) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    if (out.size() >= limit) {
      out += "...";
      break;
    }
    auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) {
      out += fmt::format("#{}", c);
      ++i;
      continue;
    }
    std::size_t n = Utf8SequenceLength(text, i);
    if (n == 0) {
      out += fmt::format("#${:02X}", c);
      ++i;
      continue;
    }
    out.append(text.substr(i, n));
    i += n;
  }
  return out;
}

FormLexer::FormLexer(std::string_view text, std::string sourceName)
    : text_(text), source_(std::move(sourceName)) {
  next();
}

bool FormLexer::atKeyword(std::string_view word) const {
  return tok_.kind == TokenKind::Ident && SameText(tok_.text, word);
}

int FormLexer::column(const SourcePos& pos) const {
  int col = 1;
  for (std::size_t i = pos.lineStart; i < pos.offset && i < text_.size(); ++i)
    if ((static_cast<unsigned char>(text_[i]) & 0xC0) != 0x80) ++col;
  return col;
}

std::string FormLexer::message(const SourcePos& pos, std::string_view text) const {
  std::string where = fmt::format("line {}, column {}: {}", pos.line, column(pos), text);
  return source_.empty() ? where : fmt::format("{}: {}", source_, where);
}

void FormLexer::fail(const SourcePos& pos, std::string_view text) const {
  throw EReadError(message(pos, text));
}

std::string FormLexer::describe(const Token& t) const {
  if (t.kind == TokenKind::EndOfText) return "end of text";
  return fmt::format("\"{}\"", excerpt(t.text));
}

void FormLexer::skipBlanks() {
  while (p_ < text_.size()) {
    char c = text_[p_];
    if (c == '\n') {
      ++p_;
      ++line_;
      lineStart_ = p_;
    } else if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
      ++p_;
    } else {
      break;
    }
  }
}

void FormLexer::next() {
  skipBlanks();
  tok_.pos = here();
  tok_.symbol = 0;
  std::size_t start = p_;
  if (p_ >= text_.size()) {
    tok_.kind = TokenKind::EndOfText;
    tok_.text = {};
    return;
  }
  char c = text_[p_];
  if (isIdentStart(c)) {
    scanIdent();
  } else if (isDigit(c) || c == '-' || c == '$') {
    scanNumber();
  } else if (c == '\'' || c == '#') {
    scanString();
  } else if (c == '{') {
    scanBinary();
  } else if (isSymbolChar(c)) {
    tok_.kind = TokenKind::Symbol;
    tok_.symbol = c;
    ++p_;
  } else {
    std::size_t n = Utf8SequenceLength(text_, p_);
    std::string shown = n == 0 ? fmt::format("#${:02X}", static_cast<unsigned char>(c))
                               : excerpt(text_.substr(p_, n));
    failHere(fmt::format("unexpected character \"{}\"", shown));
  }
  tok_.text = text_.substr(start, p_ - start);
}

void FormLexer::scanIdent() {
  tok_.kind = TokenKind::Ident;
  for (;;) {
    while (p_ < text_.size() && isIdentChar(text_[p_]))
      ++p_;
    // A dot joins the next part only when a name follows it.
    if (p_ + 1 < text_.size() && text_[p_] == '.' && isIdentStart(text_[p_ + 1])) {
      ++p_;
      continue;
    }
    return;
  }
}

void FormLexer::scanNumber() {
  tok_.kind = TokenKind::Integer;
  std::size_t start = p_;
  bool negative = false;
  if (text_[p_] == '-') {
    negative = true;
    ++p_;
  }
  bool hex = p_ < text_.size() && text_[p_] == '$';
  if (hex) ++p_;
  std::uint64_t magnitude = 0;
  bool overflow = false;
  std::size_t digits = 0;
  for (; p_ < text_.size(); ++p_, ++digits) {
    int d = hex ? hexValue(text_[p_]) : (isDigit(text_[p_]) ? text_[p_] - '0' : -1);
    if (d < 0) break;
    unsigned base = hex ? 16 : 10;
    if (magnitude > (UINT64_MAX - static_cast<unsigned>(d)) / base) overflow = true;
    magnitude = magnitude * base + static_cast<unsigned>(d);
  }
  while (p_ < text_.size() && (isIdentChar(text_[p_]) || text_[p_] == '.'))
    ++p_;
  std::string_view written = text_.substr(start, p_ - start);
  SourcePos at{start, lineStart_, line_};
  if (digits == 0 || digits != written.size() - negative - hex)
    fail(at, fmt::format("invalid number \"{}\"", excerpt(written)));
  // Hexadecimal numbers are bit patterns (at most 64 bits); decimal ones are values.
  constexpr std::uint64_t kMaxPositive = static_cast<std::uint64_t>(INT64_MAX);
  if (hex) {
    if (digits > 16) overflow = true;
  } else if (magnitude > kMaxPositive + (negative ? 1 : 0)) {
    overflow = true;
  }
  if (overflow) fail(at, fmt::format("number \"{}\" out of range", excerpt(written)));
  auto value = static_cast<std::int64_t>(magnitude);
  tok_.integer = negative ? static_cast<std::int64_t>(0 - magnitude) : value;
}

void FormLexer::scanString() {
  tok_.kind = TokenKind::String;
  string_.clear();
  while (p_ < text_.size()) {
    if (text_[p_] == '\'')
      scanQuoted();
    else if (text_[p_] == '#')
      scanCharCode();
    else
      break;
  }
}

void FormLexer::scanQuoted() {
  SourcePos open = here();
  std::size_t chunk = ++p_;
  for (;;) {
    if (p_ >= text_.size() || text_[p_] == '\n' || text_[p_] == '\r')
      fail(open, "unterminated string");
    auto c = static_cast<unsigned char>(text_[p_]);
    if (c == '\'') {
      string_.append(text_.substr(chunk, p_ - chunk));
      ++p_;
      if (p_ < text_.size() && text_[p_] == '\'') { // '' stands for one quote
        chunk = p_;
        ++p_;
        continue;
      }
      return;
    }
    if (c < 0x80) {
      ++p_;
      continue;
    }
    std::size_t n = Utf8SequenceLength(text_, p_);
    if (n == 0) failHere(fmt::format("string holds a byte that is not valid UTF-8 (#${:02X})", c));
    p_ += n;
  }
}

void FormLexer::scanCharCode() {
  SourcePos at = here();
  std::size_t start = p_++;
  bool hex = p_ < text_.size() && text_[p_] == '$';
  if (hex) ++p_;
  std::uint64_t code = 0;
  std::size_t digits = 0;
  for (; p_ < text_.size(); ++p_, ++digits) {
    int d = hex ? hexValue(text_[p_]) : (isDigit(text_[p_]) ? text_[p_] - '0' : -1);
    if (d < 0) break;
    if (code <= kMaxCodePoint) code = code * (hex ? 16 : 10) + static_cast<unsigned>(d);
  }
  std::string_view written = text_.substr(start, p_ - start);
  if (digits == 0) fail(at, fmt::format("invalid character code \"{}\"", excerpt(written)));
  if (code > kMaxCodePoint || (code >= 0xD800 && code <= 0xDFFF))
    fail(at, fmt::format("character code \"{}\" out of range", excerpt(written)));
  AppendUtf8(string_, static_cast<char32_t>(code));
}

void FormLexer::scanBinary() {
  tok_.kind = TokenKind::Binary;
  bytes_.clear();
  ++p_;
  int pending = -1; // high nibble waiting for its low one
  for (;;) {
    skipBlanks();
    if (p_ >= text_.size()) failHere("unexpected end of text in binary data");
    char c = text_[p_];
    if (c == '}') {
      if (pending >= 0) failHere("odd number of hex digits in binary data");
      ++p_;
      return;
    }
    int d = hexValue(c);
    if (d < 0) {
      std::size_t n = Utf8SequenceLength(text_, p_);
      std::string shown = n == 0 ? fmt::format("#${:02X}", static_cast<unsigned char>(c))
                                 : excerpt(text_.substr(p_, n));
      failHere(fmt::format("invalid character \"{}\" in binary data", shown));
    }
    if (pending < 0) {
      pending = d;
    } else {
      bytes_.push_back(static_cast<std::uint8_t>(pending << 4 | d));
      pending = -1;
    }
    ++p_;
  }
}

} // namespace keltk
