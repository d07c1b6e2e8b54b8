#include "FormTree.h"

#include "FormLexer.h"
#include "ModuleMetadata.h"

#include <fmt/format.h>
#include <keltk/StrUtils.h>

namespace kelvarin {

namespace {

using keltk::FormLexer;
using keltk::TokenKind;

// Deeper data is refused rather than allowed to exhaust the stack.
constexpr int kMaxNesting = 64;

class TreeParser {
public:
  TreeParser(std::string_view text, std::size_t& entriesLeft)
      : lex_(text, std::string()), entriesLeft_(entriesLeft) {}

  FormObject form() {
    FormObject root = object();
    if (lex_.token().kind != TokenKind::EndOfText)
      lex_.fail(lex_.token().pos,
                fmt::format("text after the end of the form: {}", lex_.describe(lex_.token())));
    return root;
  }

private:
  // Called before each entry is stored: the count is spent before the memory.
  void count() {
    if (entriesLeft_ == 0)
      throw MetadataError(fmt::format(
          "its forms hold more than {} values; no plug-in needs that many", kMaxFormEntries));
    --entriesLeft_;
  }

  void enter() {
    if (++depth_ > kMaxNesting)
      lex_.fail(lex_.token().pos, fmt::format("nesting deeper than {} levels", kMaxNesting));
  }

  std::string name(const char* what) {
    const auto& t = lex_.token();
    if (t.kind != TokenKind::Ident || t.text.find('.') != std::string_view::npos)
      lex_.fail(t.pos, fmt::format("{} expected, found {}", what, lex_.describe(t)));
    std::string result(t.text);
    lex_.next();
    return result;
  }

  FormObject object() {
    if (!lex_.atKeyword("object") && !lex_.atKeyword("inherited") && !lex_.atKeyword("inline"))
      lex_.fail(lex_.token().pos,
                fmt::format("\"object\" expected, found {}", lex_.describe(lex_.token())));
    enter();
    count();
    FormObject obj;
    obj.inherited = lex_.atKeyword("inherited");
    lex_.next();
    obj.className = name("a component name");
    if (lex_.atSymbol(':')) {
      lex_.next();
      obj.name = std::move(obj.className);
      obj.className = name("a class name");
    }
    // An index after the class name ([n]) only orders inherited children.
    if (lex_.atSymbol('[')) {
      lex_.next();
      if (lex_.token().kind != TokenKind::Integer) lex_.fail(lex_.token().pos, "an index expected");
      lex_.next();
      expect(']');
    }
    while (!lex_.atKeyword("end")) {
      const auto& t = lex_.token();
      if (t.kind == TokenKind::EndOfText)
        lex_.fail(t.pos, "unexpected end of text, \"end\" expected");
      if (lex_.atKeyword("object") || lex_.atKeyword("inherited") || lex_.atKeyword("inline")) {
        obj.children.push_back(object());
        continue;
      }
      obj.properties.push_back(property());
    }
    lex_.next();
    --depth_;
    return obj;
  }

  void expect(char symbol) {
    if (!lex_.atSymbol(symbol))
      lex_.fail(lex_.token().pos,
                fmt::format("\"{}\" expected, found {}", symbol, lex_.describe(lex_.token())));
    lex_.next();
  }

  FormProperty property() {
    const auto& t = lex_.token();
    if (t.kind != TokenKind::Ident)
      lex_.fail(t.pos,
                fmt::format("property name or \"end\" expected, found {}", lex_.describe(t)));
    FormProperty prop;
    prop.name = std::string(t.text);
    lex_.next();
    expect('=');
    count();
    prop.value = value();
    return prop;
  }

  std::string joinedString() {
    std::string text = lex_.stringValue();
    lex_.next();
    while (lex_.atSymbol('+')) {
      lex_.next();
      if (lex_.token().kind != TokenKind::String)
        lex_.fail(lex_.token().pos, fmt::format("a string expected after \"+\", found {}",
                                                lex_.describe(lex_.token())));
      text += lex_.stringValue();
      lex_.next();
    }
    return text;
  }

  FormValue value() {
    FormValue v;
    const auto& t = lex_.token();
    switch (t.kind) {
    case TokenKind::String:
      v.kind = FormValue::Kind::String;
      v.text = joinedString();
      return v;
    case TokenKind::Integer:
      v.kind = FormValue::Kind::Integer;
      v.integer = t.integer;
      lex_.next();
      return v;
    case TokenKind::Ident:
      v.kind = FormValue::Kind::Ident;
      v.text = std::string(t.text);
      lex_.next();
      return v;
    case TokenKind::Binary:
      v.kind = FormValue::Kind::Binary;
      v.bytes = lex_.binaryValue();
      lex_.next();
      return v;
    case TokenKind::Symbol:
      if (t.symbol == '[') return set();
      if (t.symbol == '(') return strings();
      if (t.symbol == '<') return collection();
      break;
    case TokenKind::EndOfText:
      lex_.fail(t.pos, "unexpected end of text, a value expected");
    }
    lex_.fail(t.pos, fmt::format("a value expected, found {}", lex_.describe(t)));
  }

  FormValue set() {
    FormValue v;
    v.kind = FormValue::Kind::Set;
    lex_.next();
    while (!lex_.atSymbol(']')) {
      const auto& e = lex_.token();
      if (e.kind != TokenKind::Ident) {
        if (e.kind == TokenKind::EndOfText) lex_.fail(e.pos, "unexpected end of text in a set");
        lex_.fail(e.pos, fmt::format("a set member expected, found {}", lex_.describe(e)));
      }
      count();
      v.list.emplace_back(e.text);
      lex_.next();
      if (lex_.atSymbol(',')) {
        lex_.next();
        if (lex_.atSymbol(']')) lex_.fail(lex_.token().pos, "a set member expected after \",\"");
      } else if (!lex_.atSymbol(']')) {
        lex_.fail(lex_.token().pos,
                  fmt::format("\",\" or \"]\" expected, found {}", lex_.describe(lex_.token())));
      }
    }
    lex_.next();
    return v;
  }

  FormValue strings() {
    FormValue v;
    v.kind = FormValue::Kind::Strings;
    lex_.next();
    while (!lex_.atSymbol(')')) {
      const auto& t = lex_.token();
      if (t.kind == TokenKind::EndOfText) lex_.fail(t.pos, "unexpected end of text in a list");
      if (t.kind != TokenKind::String)
        lex_.fail(t.pos, fmt::format("a string or \")\" expected, found {}", lex_.describe(t)));
      count();
      v.list.push_back(joinedString());
    }
    lex_.next();
    return v;
  }

  FormValue collection() {
    enter();
    FormValue v;
    v.kind = FormValue::Kind::Collection;
    lex_.next();
    while (!lex_.atSymbol('>')) {
      const auto& t = lex_.token();
      if (!lex_.atKeyword("item")) {
        if (t.kind == TokenKind::EndOfText)
          lex_.fail(t.pos, "unexpected end of text in a collection");
        lex_.fail(t.pos, fmt::format("\"item\" or \">\" expected, found {}", lex_.describe(t)));
      }
      lex_.next();
      count();
      FormItem item;
      while (!lex_.atKeyword("end")) {
        if (lex_.token().kind == TokenKind::EndOfText)
          lex_.fail(lex_.token().pos, "unexpected end of text, \"end\" expected");
        item.push_back(property());
      }
      lex_.next();
      v.items.push_back(std::move(item));
    }
    lex_.next();
    --depth_;
    return v;
  }

  FormLexer lex_;
  std::size_t& entriesLeft_;
  int depth_ = 0;
};

const FormProperty* findIn(const std::vector<FormProperty>& props, std::string_view name) {
  for (const auto& p : props)
    if (keltk::SameText(p.name, name)) return &p;
  return nullptr;
}

} // namespace

const FormProperty* FormObject::find(std::string_view name) const {
  return findIn(properties, name);
}

const FormProperty* FindItemProperty(const FormItem& item, std::string_view name) {
  return findIn(item, name);
}

FormObject ParseFormTree(std::string_view text, std::size_t& entriesLeft) {
  return TreeParser(text, entriesLeft).form();
}

FormObject ParseFormTree(std::string_view text) {
  std::size_t entriesLeft = kMaxFormEntries;
  return ParseFormTree(text, entriesLeft);
}

} // namespace kelvarin
