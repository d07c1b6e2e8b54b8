#include "keltk/Writer.h"

#include "FormLexer.h"
#include "keltk/Collection.h"
#include "keltk/Exception.h"
#include "keltk/PropInfo.h"

#include <fmt/format.h>

namespace keltk {

namespace {

constexpr std::size_t kStringPiece = 64; // characters per line of a long string
constexpr std::size_t kBinaryLine = 32;  // bytes per line of binary data

// RAII for the writing flag, so a failed write leaves no component marked.
class WritingState {
public:
  explicit WritingState(TComponent* c) : c_(c) { c_->IncludeState(csWriting); }
  ~WritingState() { c_->ExcludeState(csWriting); }
  WritingState(const WritingState&) = delete;
  WritingState& operator=(const WritingState&) = delete;

private:
  TComponent* c_;
};

} // namespace

struct TWriter::Impl {
  explicit Impl(TWriter& owner) : self(owner) {}

  TWriter& self;
  std::string out;
  int indent = 0;
  TComponent* root = nullptr;

  void startLine() { out.append(static_cast<std::size_t>(indent), ' '); }
  void newLine(int extraIndent) {
    out += '\n';
    out.append(static_cast<std::size_t>(indent + extraIndent), ' ');
  }

  [[noreturn]] static void fail(const TObject& obj, const std::string& path, std::string_view why) {
    throw EWriteError(
        fmt::format("cannot write property \"{}\" of {}: {}", path, obj.ClassName(), why));
  }

  void writeComponent(TComponent* c) {
    startLine();
    out += "object ";
    if (!c->Name().empty()) {
      out += c->Name();
      out += ": ";
    }
    out += c->ClassName();
    out += '\n';
    c->WriteState(self);
  }

  void writeBody(TComponent* c) {
    WritingState writing(c);
    indent += 2;
    writeProperties(*c, {});
    c->GetChildren([this](TComponent* child) { writeComponent(child); }, root);
    indent -= 2;
    startLine();
    out += "end\n";
  }

  void writeProperties(const TObject& obj, const std::string& prefix) {
    for (const PropInfo* prop : obj.ClassType().allProperties()) {
      std::string path = prefix + prop->name;
      if (prop->kind == PropKind::Object) {
        writeSubObject(obj, prop, path);
        continue;
      }
      if (prop->readOnly() || !prop->isStored(obj)) continue;
      startLine();
      out += path;
      out += " = ";
      writeValue(obj, prop, path);
      out += '\n';
    }
  }

  void writeSubObject(const TObject& obj, const PropInfo* prop, const std::string& path) {
    if (!prop->isStored(obj)) return;
    TObject* sub = prop->getObject(obj);
    if (auto* coll = ObjectAs<TCollection>(sub)) {
      // Always written, an empty one as <>, so reading replaces what was there.
      startLine();
      out += path;
      out += " = ";
      writeCollection(*coll);
      out += '\n';
      return;
    }
    if (ObjectAs<TComponent>(sub) != nullptr) return; // components are written as objects
    writeProperties(*sub, path + ".");
  }

  void writeCollection(const TCollection& coll) {
    out += '<';
    if (coll.Count() == 0) {
      out += '>';
      return;
    }
    indent += 2;
    for (int i = 0; i < coll.Count(); ++i) {
      newLine(0);
      out += "item\n";
      indent += 2;
      writeProperties(*coll.Items(i), {});
      indent -= 2;
      startLine();
      out += "end";
    }
    indent -= 2;
    out += '>';
  }

  void writeValue(const TObject& obj, const PropInfo* prop, const std::string& path) {
    switch (prop->kind) {
    case PropKind::Integer: {
      std::int64_t v = prop->getOrdinal(obj);
      const std::string* name = prop->enumInfo != nullptr ? prop->enumInfo->nameOf(v) : nullptr;
      out += name != nullptr ? *name : fmt::format("{}", v);
      return;
    }
    case PropKind::Boolean:
      out += prop->getOrdinal(obj) != 0 ? "True" : "False";
      return;
    case PropKind::Enum: {
      std::int64_t v = prop->getOrdinal(obj);
      const std::string* name = prop->enumInfo->nameOf(v);
      if (name == nullptr)
        fail(obj, path,
             fmt::format("{} has no value with ordinal {}", prop->enumInfo->typeName, v));
      out += *name;
      return;
    }
    case PropKind::Set:
      writeSet(obj, prop, path);
      return;
    case PropKind::String:
      writeString(obj, path, prop->getString(obj));
      return;
    case PropKind::Strings:
      writeLines(obj, path, prop->getLines(obj));
      return;
    case PropKind::Binary:
      writeBinary(prop->getBytes(obj));
      return;
    case PropKind::Component:
      out += componentName(obj, path, ObjectAs<TComponent>(prop->getObject(obj)));
      return;
    case PropKind::Method:
      out += methodName(obj, path, prop->getMethod(obj));
      return;
    case PropKind::Object:
      return; // handled by writeSubObject
    }
  }

  void writeSet(const TObject& obj, const PropInfo* prop, const std::string& path) {
    auto mask = static_cast<std::uint64_t>(prop->getOrdinal(obj));
    out += '[';
    bool first = true;
    for (int bit = 0; bit < 64; ++bit) {
      if ((mask & (std::uint64_t{1} << bit)) == 0) continue;
      const std::string* name = prop->enumInfo->nameOf(bit);
      if (name == nullptr)
        fail(obj, path,
             fmt::format("{} has no value with ordinal {}", prop->enumInfo->typeName, bit));
      if (!first) out += ", ";
      out += *name;
      first = false;
    }
    out += ']';
  }

  // Printable characters go between quotes ('' for a quote), control
  // characters as #nnn; long texts are split into pieces joined by '+'.
  void writeString(const TObject& obj, const std::string& path, std::string_view s) {
    if (s.empty()) {
      out += "''";
      return;
    }
    bool quoted = false;
    std::size_t pieceChars = 0;
    auto openQuote = [&] {
      if (!quoted) out += '\'';
      quoted = true;
    };
    auto closeQuote = [&] {
      if (quoted) out += '\'';
      quoted = false;
    };
    for (std::size_t i = 0; i < s.size();) {
      if (pieceChars >= kStringPiece) {
        closeQuote();
        out += " +";
        newLine(2);
        pieceChars = 0;
      }
      std::size_t n = Utf8SequenceLength(s, i);
      if (n == 0)
        fail(obj, path,
             fmt::format("byte #${:02X} at offset {} is not UTF-8 text",
                         static_cast<unsigned char>(s[i]), i));
      std::uint32_t cp = DecodeUtf8(s, i, n);
      if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) {
        closeQuote();
        out += fmt::format("#{}", cp);
      } else {
        openQuote();
        if (cp == '\'') out += '\'';
        out.append(s.substr(i, n));
      }
      i += n;
      ++pieceChars;
    }
    closeQuote();
  }

  void writeLines(const TObject& obj, const std::string& path,
                  const std::vector<std::string>& lines) {
    out += '(';
    indent += 2;
    for (const std::string& line : lines) {
      newLine(0);
      writeString(obj, path, line);
    }
    indent -= 2;
    out += ')';
  }

  void writeBinary(const std::vector<std::uint8_t>& bytes) {
    out += '{';
    bool multiLine = bytes.size() > kBinaryLine;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      if (multiLine && i % kBinaryLine == 0) newLine(2);
      out += fmt::format("{:02X}", bytes[i]);
    }
    out += '}';
  }

  std::string componentName(const TObject& obj, const std::string& path,
                            const TComponent* c) const {
    if (c == root) {
      if (root->Name().empty()) fail(obj, path, "the form's root has no name");
      return root->Name();
    }
    if (c->Owner() != root)
      fail(obj, path, fmt::format("component \"{}\" does not belong to the form", c->Name()));
    if (c->Name().empty()) fail(obj, path, "the referenced component has no name");
    return c->Name();
  }

  std::string methodName(const TObject& obj, const std::string& path, const MethodRef& ref) const {
    for (const TClassInfo* cls = &root->ClassType(); cls != nullptr; cls = cls->parent)
      for (const MethodInfo& m : cls->methods)
        if (m.code == ref.code) return m.name;
    fail(obj, path, fmt::format("the handler is no published method of {}", root->ClassName()));
  }
};

TWriter::TWriter() : impl_(std::make_unique<Impl>(*this)) {}

TWriter::~TWriter() = default;

const std::string& TWriter::Text() const {
  return impl_->out;
}

void TWriter::WriteRootComponent(TComponent* root) {
  TComponent* outer = impl_->root;
  impl_->root = root;
  try {
    impl_->writeComponent(root);
  } catch (...) {
    impl_->root = outer;
    throw;
  }
  impl_->root = outer;
}

void TWriter::WriteData(TComponent* component) {
  if (impl_->root == nullptr) {
    // Called on its own: the component is the root of what follows.
    impl_->root = component;
    try {
      impl_->writeBody(component);
    } catch (...) {
      impl_->root = nullptr;
      throw;
    }
    impl_->root = nullptr;
    return;
  }
  impl_->writeBody(component);
}

std::string WriteComponentToText(TComponent* root) {
  TWriter writer;
  writer.WriteRootComponent(root);
  return writer.Text();
}

} // namespace keltk
