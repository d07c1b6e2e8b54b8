// The toolkit's printf-like format language, as catalogue texts and their
// dictionary replacements use it. Arguments are tagged values; a placeholder that
// finds no argument of a fitting kind makes the whole formatting fail.
#include "kelvarin/Catalogue.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fmt/format.h>
#include <keltk/SysUtils.h>
#include <optional>

namespace kelvarin {

namespace {

using keltk::TVarRec;

std::optional<std::int64_t> asInteger(const TVarRec& arg) {
  const TVarRec& a = keltk::ResolveVariant(arg);
  switch (a.VType) {
  case keltk::vtInteger:
    return a.VInteger;
  case keltk::vtInt64:
    if (a.VInt64 == nullptr) return std::nullopt;
    return *a.VInt64;
  default:
    return std::nullopt;
  }
}

std::optional<std::string> asText(const TVarRec& arg) {
  return keltk::VarText(keltk::ResolveVariant(arg));
}

std::optional<long double> asFloat(const TVarRec& arg) {
  const TVarRec& a = keltk::ResolveVariant(arg);
  switch (a.VType) {
  case keltk::vtExtended:
    if (a.VExtended == nullptr) return std::nullopt;
    return *a.VExtended;
  case keltk::vtCurrency:
    if (a.VCurrency == nullptr) return std::nullopt;
    return static_cast<long double>(*a.VCurrency) / keltk::CurrencyScale;
  default:
    return std::nullopt;
  }
}

// Digits with thousands separators, for %n and %m.
std::string groupThousands(std::string fixed) {
  const auto& fs = keltk::FormatSettings();
  std::size_t start = fixed.empty() || fixed[0] != '-' ? 0 : 1;
  std::size_t point = fixed.find('.');
  if (point == std::string::npos)
    point = fixed.size();
  else
    fixed[point] = fs.DecimalSeparator;
  for (std::ptrdiff_t i = static_cast<std::ptrdiff_t>(point) - 3;
       i > static_cast<std::ptrdiff_t>(start); i -= 3)
    fixed.insert(static_cast<std::size_t>(i), 1, fs.ThousandSeparator);
  return fixed;
}

struct Directive {
  bool leftAlign = false;
  int width = -1;
  int precision = -1;
  char type = 0;
};

class Formatter {
public:
  Formatter(std::string_view pattern, keltk::TVarRecs args, std::string& out)
      : p_(pattern), args_(args), out_(out) {}

  bool run() {
    out_.clear();
    while (pos_ < p_.size()) {
      std::size_t next = p_.find('%', pos_);
      if (next == std::string_view::npos) {
        out_.append(p_.substr(pos_));
        return true;
      }
      out_.append(p_.substr(pos_, next - pos_));
      pos_ = next + 1;
      if (pos_ >= p_.size()) return true; // a lone % at the end produces nothing
      if (p_[pos_] == '%') {
        out_ += '%';
        ++pos_;
        continue;
      }
      if (!placeholder()) return false;
    }
    return true;
  }

private:
  // Reads a number or "*" (an integer argument); -1 when there is neither.
  bool number(int& value) {
    value = -1;
    if (pos_ < p_.size() && p_[pos_] == '*') {
      ++pos_;
      const TVarRec* arg = nextArg();
      if (arg == nullptr) return false;
      auto v = asInteger(*arg);
      if (!v) return false;
      value = static_cast<int>(std::clamp<std::int64_t>(*v, -1, 4096));
      return true;
    }
    std::size_t start = pos_;
    while (pos_ < p_.size() && p_[pos_] >= '0' && p_[pos_] <= '9')
      ++pos_;
    if (pos_ == start) return true;
    auto [ptr, ec] = std::from_chars(p_.data() + start, p_.data() + pos_, value);
    (void)ptr;
    return ec == std::errc() && value <= 4096;
  }

  const TVarRec* nextArg() { return next_ < args_.size() ? &args_[next_++] : nullptr; }

  bool placeholder() {
    Directive directive;
    // "index:" first; digits followed by anything else are the width.
    std::size_t digitsEnd = pos_;
    while (digitsEnd < p_.size() && p_[digitsEnd] >= '0' && p_[digitsEnd] <= '9')
      ++digitsEnd;
    if (digitsEnd > pos_ && digitsEnd < p_.size() && p_[digitsEnd] == ':') {
      int index = -1;
      if (!number(index)) return false;
      next_ = static_cast<std::size_t>(index);
      ++pos_;
    }
    if (pos_ < p_.size() && p_[pos_] == '-') {
      directive.leftAlign = true;
      ++pos_;
    }
    if (!number(directive.width)) return false;
    if (pos_ < p_.size() && p_[pos_] == '.') {
      ++pos_;
      if (!number(directive.precision)) return false;
      if (directive.precision < 0) directive.precision = 0;
    }
    if (pos_ >= p_.size()) return false;
    directive.type = static_cast<char>(p_[pos_] | 0x20); // letters match in either case
    ++pos_;
    const TVarRec* arg = nextArg();
    if (arg == nullptr) return false;
    std::string text;
    if (!convert(directive, *arg, text)) return false;
    pad(directive, text);
    return true;
  }

  static bool convert(const Directive& directive, const TVarRec& arg, std::string& text) {
    switch (directive.type) {
    case 'd':
    case 'u':
    case 'x': {
      auto v = asInteger(arg);
      if (!v) return false;
      std::uint64_t magnitude;
      bool negative = false;
      if (directive.type == 'd') {
        negative = *v < 0;
        magnitude = negative ? 0 - static_cast<std::uint64_t>(*v) : static_cast<std::uint64_t>(*v);
      } else {
        // Unsigned views keep the argument's width: a 32-bit -1 is FFFFFFFF.
        const TVarRec& a = keltk::ResolveVariant(arg);
        magnitude = a.VType == keltk::vtInteger ? static_cast<std::uint32_t>(*v)
                                                : static_cast<std::uint64_t>(*v);
      }
      std::string digits =
          directive.type == 'x' ? fmt::format("{:X}", magnitude) : fmt::format("{}", magnitude);
      if (directive.precision > static_cast<int>(digits.size()))
        digits.insert(0, static_cast<std::size_t>(directive.precision) - digits.size(), '0');
      text = negative ? "-" + digits : digits;
      return true;
    }
    case 's': {
      auto v = asText(arg);
      if (!v) return false;
      text = std::move(*v);
      if (directive.precision >= 0 && static_cast<std::size_t>(directive.precision) < text.size())
        text.resize(static_cast<std::size_t>(directive.precision));
      return true;
    }
    case 'f':
    case 'e':
    case 'g':
    case 'n':
    case 'm': {
      auto v = asFloat(arg);
      if (!v) return false;
      const double d = static_cast<double>(*v);
      const int prec =
          directive.precision >= 0 ? directive.precision : (directive.type == 'g' ? 15 : 2);
      if (directive.type == 'e')
        text = fmt::format("{:.{}E}", d, prec);
      else if (directive.type == 'g')
        text = fmt::format("{:.{}G}", d, prec);
      else
        text = fmt::format("{:.{}f}", d, prec);
      if (directive.type == 'n' || directive.type == 'm') {
        text = groupThousands(std::move(text));
      } else {
        auto point = text.find('.');
        if (point != std::string::npos) text[point] = keltk::FormatSettings().DecimalSeparator;
      }
      return true;
    }
    case 'p': {
      const TVarRec& a = keltk::ResolveVariant(arg);
      if (a.VType == keltk::vtInteger || a.VType == keltk::vtBoolean || a.VType == keltk::vtChar ||
          a.VType == keltk::vtWideChar)
        return false;
      text = fmt::format("{:016X}", reinterpret_cast<std::uintptr_t>(a.VPointer));
      return true;
    }
    default:
      return false;
    }
  }

  void pad(const Directive& directive, const std::string& text) {
    std::size_t fill = directive.width > static_cast<int>(text.size())
                           ? static_cast<std::size_t>(directive.width) - text.size()
                           : 0;
    if (!directive.leftAlign) out_.append(fill, ' ');
    out_ += text;
    if (directive.leftAlign) out_.append(fill, ' ');
  }

  std::string_view p_;
  keltk::TVarRecs args_;
  std::string& out_;
  std::size_t pos_ = 0;
  std::size_t next_ = 0;
};

} // namespace

bool FormatText(std::string_view pattern, keltk::TVarRecs args, std::string& out) {
  try {
    return Formatter(pattern, args, out).run();
  } catch (...) {
    return false;
  }
}

} // namespace kelvarin
