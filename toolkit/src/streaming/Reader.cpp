#include "keltk/Reader.h"

#include "FormLexer.h"
#include "keltk/Collection.h"
#include "keltk/Exception.h"
#include "keltk/PropInfo.h"
#include "keltk/StrUtils.h"

#include <algorithm>
#include <exception>
#include <fmt/format.h>
#include <mutex>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace keltk {

namespace {

// Deep enough for any designed form, shallow enough for the stack.
constexpr int kMaxNesting = 256;

bool isOrInherits(const TClassInfo& cls, std::string_view className) {
  for (const TClassInfo* c = &cls; c != nullptr; c = c->parent)
    if (SameText(c->name, className)) return true;
  return false;
}

const char* kindText(PropKind kind) {
  switch (kind) {
  case PropKind::Integer:
    return "an integer";
  case PropKind::Boolean:
    return "True or False";
  case PropKind::Enum:
    return "an identifier";
  case PropKind::Set:
    return "a set [...]";
  case PropKind::String:
    return "a string";
  case PropKind::Object:
    return "a collection <...>";
  case PropKind::Component:
    return "a component name";
  case PropKind::Method:
    return "a method name";
  case PropKind::Binary:
    return "binary data {...}";
  case PropKind::Strings:
    return "a list of strings (...)";
  }
  return "a value";
}

// Property lookups by the name as written: most forms spell a name the same way
// every time, so an exact match on a short list per class beats folding case.
class PropCache {
public:
  const PropInfo* find(const TClassInfo& cls, std::string_view name) {
    if (&cls != lastClass_) {
      lastClass_ = &cls;
      lastList_ = &byClass_[&cls];
    }
    for (const auto& [written, prop] : *lastList_)
      if (written == name) return prop;
    const PropInfo* prop = cls.findProperty(name);
    if (prop != nullptr) lastList_->emplace_back(std::string(name), prop);
    return prop;
  }

private:
  using List = std::vector<std::pair<std::string, const PropInfo*>>;
  std::unordered_map<const TClassInfo*, List> byClass_;
  const TClassInfo* lastClass_ = nullptr;
  List* lastList_ = nullptr;
};

// A component reference, set once every component of the load exists.
struct Fixup {
  TObject* target = nullptr;
  const PropInfo* prop = nullptr;
  std::string name; // empty: nil
  SourcePos pos;
  const FormLexer* lexer = nullptr;
  std::vector<TCollection*> within; // collections whose items hold `target`
};

// What one load (one form, or a chain of inherited forms) has touched.
struct LoadSession {
  explicit LoadSession(TComponent* r) : root(r) {}

  TComponent* root;
  std::vector<TComponent*> loaded; // in reading order, the root first
  std::unordered_set<TComponent*> loadedSet;
  std::vector<TComponent*> created;
  std::vector<Fixup> fixups;
  PropCache props;

  void noteLoading(TComponent* c) {
    c->IncludeState(csLoading);
    if (loadedSet.insert(c).second) loaded.push_back(c);
  }

  // Items of `coll` are about to be freed: their pending references go with them.
  void dropFixupsWithin(const TCollection* coll) {
    std::erase_if(fixups, [&](const Fixup& f) {
      return std::find(f.within.begin(), f.within.end(), coll) != f.within.end();
    });
  }

  void resolveFixups() {
    for (const Fixup& f : fixups) {
      TComponent* value = nullptr;
      if (!f.name.empty()) {
        value = SameText(f.name, root->Name()) ? root : root->FindComponent(f.name);
        if (value == nullptr)
          throw EReadError(f.lexer->message(
              f.pos, fmt::format("unknown component \"{}\" (property \"{}\" of {})", f.name,
                                 f.prop->name, f.target->ClassName())));
        if (f.prop->refClass != nullptr && !value->InheritsFrom(f.prop->refClass().name))
          throw EReadError(f.lexer->message(
              f.pos, fmt::format("component \"{}\" is a {}; property \"{}\" of {} takes a {}",
                                 f.name, value->ClassName(), f.prop->name, f.target->ClassName(),
                                 f.prop->refClass().name)));
      }
      try {
        f.prop->setObject(*f.target, value);
      } catch (Exception& e) {
        e.SetMessage(f.lexer->message(f.pos, e.Message()));
        throw;
      }
    }
    fixups.clear();
  }

  // Every component leaves the loading state, even when one Loaded fails; the
  // first failure is raised afterwards.
  void callLoaded() {
    std::exception_ptr first;
    for (TComponent* c : loaded) {
      try {
        c->Loaded();
      } catch (...) {
        c->ExcludeState(csLoading);
        if (!first) first = std::current_exception();
      }
    }
    if (first) std::rethrow_exception(first);
  }

  // Reading failed: free what was created (newest first) and take the others
  // out of the loading state.
  void abandon() noexcept {
    fixups.clear();
    std::unordered_set<TComponent*> createdSet(created.begin(), created.end());
    for (auto it = created.rbegin(); it != created.rend(); ++it) {
      // A component freed on the way (a parent that takes its children along)
      // has already left its owner.
      if (!ownedByRoot(*it)) continue;
      try {
        FreeObject(*it);
      } catch (...) {
      }
    }
    for (TComponent* c : loaded)
      if (createdSet.count(c) == 0)
        c->ExcludeState(static_cast<TComponentStateFlag>(csLoading | csReading));
  }

  bool ownedByRoot(const TComponent* c) const {
    for (int i = 0; i < root->ComponentCount(); ++i)
      if (root->Components(i) == c) return true;
    return false;
  }
};

struct FormHeader {
  bool inherited = false;
  std::string_view name;
  std::string_view className;
  SourcePos pos;
  SourcePos classPos;
};

// Reads `object Name: TClass` (or `inherited ...`, or `object TClass`) and stops
// on the class name when `advance` is false.
FormHeader parseHeader(FormLexer& lex, bool advance) {
  FormHeader h;
  const Token& t = lex.token();
  h.pos = t.pos;
  if (!lex.atKeyword("object") && !lex.atKeyword("inherited") && !lex.atKeyword("inline"))
    lex.fail(t.pos, fmt::format("\"object\" expected, found {}", lex.describe(t)));
  h.inherited = lex.atKeyword("inherited");
  lex.next();
  auto expectName = [&](const char* what) {
    if (t.kind != TokenKind::Ident || t.text.find('.') != std::string_view::npos)
      lex.fail(t.pos, fmt::format("{} expected, found {}", what, lex.describe(t)));
    return t.text;
  };
  h.classPos = t.pos;
  h.className = expectName("a component name");
  lex.next();
  if (lex.atSymbol(':')) {
    lex.next();
    h.name = h.className;
    h.classPos = t.pos;
    h.className = expectName("a class name");
    if (advance) lex.next();
  }
  return h;
}

// Runs `body` as one load session rooted at `root`, published in `current` while
// it runs: fixups are resolved and Loaded called after it; a failure abandons
// what was read and passes on.
template <class Body> void runLoadSession(TComponent* root, LoadSession*& current, Body body) {
  LoadSession session(root);
  current = &session;
  try {
    body(session);
    session.resolveFixups();
  } catch (...) {
    session.abandon();
    current = nullptr;
    throw;
  }
  current = nullptr;
  session.callLoaded();
}

} // namespace

// The property assignment under way on this thread (see CurrentReadPosition).
struct Assigning {
  const FormLexer* lexer = nullptr;
  SourcePos pos;
};
// Aligned beyond 16 bytes, as every thread-local of a library that may be loaded
// late: GCC 12's leak checker reads a dynamic TLS block that starts 16 bytes
// past a page boundary as an old glibc's block header, and crashes at exit
// scanning the range it makes of it. An aligned block never starts there.
alignas(64) thread_local Assigning currentAssignment;

class AssigningScope {
public:
  AssigningScope(const FormLexer& lexer, const SourcePos& pos) : saved_(currentAssignment) {
    currentAssignment = {&lexer, pos};
  }
  ~AssigningScope() { currentAssignment = saved_; }
  AssigningScope(const AssigningScope&) = delete;
  AssigningScope& operator=(const AssigningScope&) = delete;

private:
  Assigning saved_;
};

struct TReader::Impl {
  Impl(TReader& owner, std::string_view text, std::string sourceName)
      : self(owner), lex(text, std::move(sourceName)) {}

  TReader& self;
  FormLexer lex;
  LoadSession* session = nullptr;
  int depth = 0;
  std::vector<TComponent*> enclosing; // components whose bodies are being read
  std::vector<TCollection*> openCollections;
  std::string value;              // a string being joined from pieces
  std::vector<std::string> lines; // a string list being read

  template <class F> void guarded(const SourcePos& pos, F&& f) {
    try {
      f();
    } catch (Exception& e) {
      e.SetMessage(lex.message(pos, e.Message()));
      throw;
    }
  }

  void enterNesting(const SourcePos& pos) {
    if (++depth > kMaxNesting)
      lex.fail(pos, fmt::format("nesting deeper than {} levels", kMaxNesting));
  }

  void readForm(TComponent* root) {
    FormHeader h = parseHeader(lex, true);
    if (!isOrInherits(root->ClassType(), h.className))
      lex.fail(h.classPos, fmt::format("a form of class {} cannot be read into a {}",
                                       excerpt(h.className), root->ClassName()));
    if (!h.name.empty()) setRootName(root, h.name, h.pos);
    session->noteLoading(root);
    root->ReadState(self);
    if (lex.token().kind != TokenKind::EndOfText)
      lex.fail(lex.token().pos,
               fmt::format("text after the end of the form: {}", lex.describe(lex.token())));
  }

  void setRootName(TComponent* root, std::string_view name, const SourcePos& pos) {
    if (root->Name() == name) return;
    std::string candidate(name);
    // Another form of the same class under the same owner takes a numbered name.
    if (TComponent* owner = root->Owner())
      for (int n = 1;; ++n) {
        TComponent* other = owner->FindComponent(candidate);
        if (other == nullptr || other == root) break;
        candidate = fmt::format("{}_{}", name, n);
      }
    guarded(pos, [&] { root->SetName(candidate); });
  }

  void readBody(TComponent* component) {
    enterNesting(lex.token().pos);
    component->IncludeState(csReading);
    enclosing.push_back(component);
    for (;;) {
      const Token& t = lex.token();
      if (t.kind == TokenKind::Ident) {
        if (lex.atKeyword("end")) {
          lex.next();
          break;
        }
        if (lex.atKeyword("object") || lex.atKeyword("inherited") || lex.atKeyword("inline")) {
          readChild(component);
          continue;
        }
        readProperty(component);
        continue;
      }
      if (t.kind == TokenKind::EndOfText)
        lex.fail(t.pos, "unexpected end of text, \"end\" expected");
      lex.fail(t.pos, fmt::format("property name or \"end\" expected, found {}", lex.describe(t)));
    }
    enclosing.pop_back();
    component->ExcludeState(csReading);
    --depth;
  }

  void readChild(TComponent* parent) {
    FormHeader h = parseHeader(lex, true);
    if (depth >= kMaxNesting) // refused before anything is created
      lex.fail(h.pos, fmt::format("nesting deeper than {} levels", kMaxNesting));
    TComponent* root = session->root;
    TComponent* child = nullptr;
    if (h.inherited) {
      child = h.name.empty() ? nullptr : root->FindComponent(h.name);
      if (child == nullptr)
        lex.fail(h.pos, fmt::format("no inherited component named \"{}\" in {}", excerpt(h.name),
                                    root->ClassName()));
      if (std::find(enclosing.begin(), enclosing.end(), child) != enclosing.end())
        lex.fail(h.pos, fmt::format("component \"{}\" cannot be nested in itself", child->Name()));
      if (!isOrInherits(child->ClassType(), h.className))
        lex.fail(h.classPos, fmt::format("component \"{}\" is a {}, not a {}", child->Name(),
                                         child->ClassName(), excerpt(h.className)));
    } else {
      const TClassInfo* cls = FindClass(h.className);
      if (cls == nullptr)
        throw EClassNotFound(
            lex.message(h.classPos, fmt::format("class \"{}\" not found", excerpt(h.className))));
      if (cls->factoryKind != ClassFactoryKind::Component || cls->createComponent == nullptr)
        throw EClassNotFound(lex.message(
            h.classPos, fmt::format("class \"{}\" is not a component class", cls->name)));
      guarded(h.pos, [&] { child = cls->createComponent(root); });
      session->created.push_back(child);
      if (!h.name.empty()) guarded(h.pos, [&] { child->SetName(std::string(h.name)); });
    }
    session->noteLoading(child);
    guarded(h.pos, [&] { child->SetParentComponent(parent); });
    child->ReadState(self);
  }

  void readProperty(TObject* obj) {
    const Token nameTok = lex.token();
    std::string_view path = nameTok.text;
    TObject* target = obj;
    const PropInfo* prop = nullptr;
    for (std::size_t start = 0;;) {
      std::size_t dot = path.find('.', start);
      std::string_view part = path.substr(start, dot == std::string_view::npos ? dot : dot - start);
      SourcePos partPos = nameTok.pos;
      partPos.offset += start;
      prop = session->props.find(target->ClassType(), part);
      if (prop == nullptr)
        lex.fail(partPos,
                 fmt::format("unknown property \"{}\" of {}", excerpt(part), target->ClassName()));
      if (dot == std::string_view::npos) break;
      if (prop->kind != PropKind::Object)
        lex.fail(partPos, fmt::format("property \"{}\" of {} has no properties of its own",
                                      prop->name, target->ClassName()));
      TObject* sub = prop->getObject(*target);
      if (sub == nullptr)
        lex.fail(partPos,
                 fmt::format("property \"{}\" of {} is not set", prop->name, target->ClassName()));
      target = sub;
      start = dot + 1;
    }
    lex.next();
    if (!lex.atSymbol('='))
      lex.fail(lex.token().pos, fmt::format("\"=\" expected after \"{}\", found {}", excerpt(path),
                                            lex.describe(lex.token())));
    lex.next();
    if (prop->kind != PropKind::Object && prop->readOnly())
      lex.fail(nameTok.pos,
               fmt::format("property \"{}\" of {} is read-only", prop->name, target->ClassName()));
    AssigningScope assigning(lex, nameTok.pos);
    readValue(target, prop);
  }

  [[noreturn]] void wrongKind(const TObject* obj, const PropInfo* prop, const Token& v) {
    lex.fail(v.pos, fmt::format("property \"{}\" of {} takes {}, not {}", prop->name,
                                obj->ClassName(), kindText(prop->kind), lex.describe(v)));
  }

  bool atPlainIdent() const {
    const Token& t = lex.token();
    return t.kind == TokenKind::Ident && t.text.find('.') == std::string_view::npos;
  }

  void setOrdinal(TObject* obj, const PropInfo* prop, std::int64_t n, const Token& v) {
    if (n < prop->minOrdinal || n > prop->maxOrdinal)
      lex.fail(v.pos, fmt::format("value {} out of range for property \"{}\" of {}",
                                  lex.describe(v), prop->name, obj->ClassName()));
    guarded(v.pos, [&] { prop->setOrdinal(*obj, n); });
  }

  std::int64_t enumValue(const TObject* obj, const PropInfo* prop, const Token& v) {
    if (prop->enumInfo == nullptr)
      lex.fail(v.pos, fmt::format("property \"{}\" of {} declares no identifiers, not {}",
                                  prop->name, obj->ClassName(), lex.describe(v)));
    std::optional<std::int64_t> n = prop->enumInfo->valueOf(v.text);
    if (!n)
      lex.fail(v.pos,
               fmt::format("{} is not a value of {} (property \"{}\" of {})", lex.describe(v),
                           prop->enumInfo->typeName, prop->name, obj->ClassName()));
    return *n;
  }

  void readValue(TObject* obj, const PropInfo* prop) {
    const Token v = lex.token();
    switch (prop->kind) {
    case PropKind::Integer:
      if (v.kind == TokenKind::Integer)
        setOrdinal(obj, prop, v.integer, v);
      else if (v.kind == TokenKind::Ident && prop->enumInfo != nullptr)
        setOrdinal(obj, prop, enumValue(obj, prop, v), v);
      else
        wrongKind(obj, prop, v);
      lex.next();
      return;
    case PropKind::Boolean:
      if (lex.atKeyword("True"))
        setOrdinal(obj, prop, 1, v);
      else if (lex.atKeyword("False"))
        setOrdinal(obj, prop, 0, v);
      else
        wrongKind(obj, prop, v);
      lex.next();
      return;
    case PropKind::Enum:
      if (v.kind != TokenKind::Ident) wrongKind(obj, prop, v);
      setOrdinal(obj, prop, enumValue(obj, prop, v), v);
      lex.next();
      return;
    case PropKind::Set:
      readSet(obj, prop);
      return;
    case PropKind::String:
      if (v.kind != TokenKind::String) wrongKind(obj, prop, v);
      readJoinedString();
      guarded(v.pos, [&] { prop->setString(*obj, value); });
      return;
    case PropKind::Strings:
      readStrings(obj, prop);
      return;
    case PropKind::Binary:
      if (v.kind != TokenKind::Binary) wrongKind(obj, prop, v);
      guarded(v.pos, [&] { prop->setBytes(*obj, lex.binaryValue()); });
      lex.next();
      return;
    case PropKind::Object:
      if (!lex.atSymbol('<'))
        lex.fail(v.pos, fmt::format("property \"{}\" of {} takes no value of its own; set its "
                                    "properties as {}.Name = ...",
                                    prop->name, obj->ClassName(), prop->name));
      readCollection(obj, prop);
      return;
    case PropKind::Component:
      if (!atPlainIdent()) wrongKind(obj, prop, v);
      session->fixups.push_back(Fixup{obj, prop,
                                      lex.atKeyword("nil") ? std::string() : std::string(v.text),
                                      v.pos, &lex, openCollections});
      lex.next();
      return;
    case PropKind::Method:
      if (!atPlainIdent()) wrongKind(obj, prop, v);
      bindMethod(obj, prop, v);
      lex.next();
      return;
    }
  }

  void readJoinedString() {
    value.assign(lex.stringValue());
    lex.next();
    while (lex.atSymbol('+')) {
      lex.next();
      if (lex.token().kind != TokenKind::String)
        lex.fail(lex.token().pos,
                 fmt::format("a string expected after \"+\", found {}", lex.describe(lex.token())));
      value += lex.stringValue();
      lex.next();
    }
  }

  void readSet(TObject* obj, const PropInfo* prop) {
    const Token open = lex.token();
    if (!lex.atSymbol('[')) wrongKind(obj, prop, open);
    lex.next();
    std::uint64_t mask = 0;
    while (!lex.atSymbol(']')) {
      const Token e = lex.token();
      if (e.kind != TokenKind::Ident) {
        if (e.kind == TokenKind::EndOfText) lex.fail(e.pos, "unexpected end of text in a set");
        lex.fail(e.pos, fmt::format("a set element expected, found {}", lex.describe(e)));
      }
      std::int64_t bit = enumValue(obj, prop, e);
      if (bit < 0 || bit > 63)
        lex.fail(e.pos, fmt::format("{} cannot be a set element", lex.describe(e)));
      mask |= std::uint64_t{1} << bit;
      lex.next();
      if (lex.atSymbol(',')) {
        lex.next();
        if (lex.atSymbol(']'))
          lex.fail(lex.token().pos, "a set element expected after \",\", found \"]\"");
      } else if (!lex.atSymbol(']')) {
        lex.fail(lex.token().pos, fmt::format("\",\" or \"]\" expected in a set, found {}",
                                              lex.describe(lex.token())));
      }
    }
    setOrdinal(obj, prop, static_cast<std::int64_t>(mask), open);
    lex.next();
  }

  void readStrings(TObject* obj, const PropInfo* prop) {
    const Token open = lex.token();
    if (!lex.atSymbol('(')) wrongKind(obj, prop, open);
    lex.next();
    lines.clear();
    while (!lex.atSymbol(')')) {
      const Token& t = lex.token();
      if (t.kind == TokenKind::EndOfText) lex.fail(t.pos, "unexpected end of text in a list");
      if (t.kind != TokenKind::String)
        lex.fail(t.pos, fmt::format("a string or \")\" expected, found {}", lex.describe(t)));
      readJoinedString();
      lines.push_back(value);
    }
    lex.next();
    guarded(open.pos, [&] { prop->setLines(*obj, lines); });
  }

  void bindMethod(TObject* obj, const PropInfo* prop, const Token& v) {
    if (lex.atKeyword("nil")) {
      guarded(v.pos, [&] { prop->setMethod(*obj, MethodRef{}); });
      return;
    }
    TComponent* root = session->root;
    const MethodInfo* m = root->ClassType().findMethod(v.text);
    if (m == nullptr)
      lex.fail(v.pos, fmt::format("method {} not found in {} (event \"{}\" of {})", lex.describe(v),
                                  root->ClassName(), prop->name, obj->ClassName()));
    if (m->signature == nullptr || prop->signature == nullptr || *m->signature != *prop->signature)
      lex.fail(v.pos,
               fmt::format("method {} of {} does not fit event \"{}\" of {}", lex.describe(v),
                           root->ClassName(), prop->name, obj->ClassName()));
    guarded(v.pos, [&] { prop->setMethod(*obj, MethodRef{root, m->code}); });
  }

  void readCollection(TObject* obj, const PropInfo* prop) {
    const Token open = lex.token();
    auto* coll = ObjectAs<TCollection>(prop->getObject(*obj));
    if (coll == nullptr)
      lex.fail(open.pos, fmt::format("property \"{}\" of {} is not a collection", prop->name,
                                     obj->ClassName()));
    if (std::find(openCollections.begin(), openCollections.end(), coll) != openCollections.end())
      lex.fail(open.pos, fmt::format("collection \"{}\" of {} is already being read", prop->name,
                                     obj->ClassName()));
    enterNesting(open.pos);
    lex.next();
    session->dropFixupsWithin(coll);
    coll->BeginUpdate();
    openCollections.push_back(coll);
    try {
      coll->Clear();
      readItems(coll);
    } catch (...) {
      openCollections.pop_back();
      try {
        coll->EndUpdate();
      } catch (...) {
      }
      throw;
    }
    openCollections.pop_back();
    coll->EndUpdate();
    --depth;
  }

  void readItems(TCollection* coll) {
    while (!lex.atSymbol('>')) {
      const Token& t = lex.token();
      if (!lex.atKeyword("item")) {
        if (t.kind == TokenKind::EndOfText)
          lex.fail(t.pos, "unexpected end of text in a collection");
        lex.fail(t.pos, fmt::format("\"item\" or \">\" expected, found {}", lex.describe(t)));
      }
      SourcePos itemPos = t.pos;
      lex.next();
      TCollectionItem* item = nullptr;
      guarded(itemPos, [&] { item = coll->Add(); });
      while (!lex.atKeyword("end")) {
        const Token& p = lex.token();
        if (p.kind == TokenKind::EndOfText)
          lex.fail(p.pos, "unexpected end of text, \"end\" expected");
        if (p.kind != TokenKind::Ident)
          lex.fail(p.pos,
                   fmt::format("property name or \"end\" expected, found {}", lex.describe(p)));
        readProperty(item);
      }
      lex.next();
    }
    lex.next();
  }
};

TReader::TReader(std::string_view text, std::string sourceName)
    : impl_(std::make_unique<Impl>(*this, text, std::move(sourceName))) {}

TReader::~TReader() = default;

TComponent* TReader::Root() const {
  return impl_->session == nullptr ? nullptr : impl_->session->root;
}

void TReader::ReadRootComponent(TComponent* root) {
  std::lock_guard lock(GlobalNameSpace());
  runLoadSession(root, impl_->session, [&](LoadSession&) { impl_->readForm(root); });
}

void TReader::ReadData(TComponent* component) {
  if (impl_->session != nullptr) {
    impl_->readBody(component);
    return;
  }
  // Called on its own: the component is the root of what follows.
  runLoadSession(component, impl_->session, [&](LoadSession& session) {
    session.noteLoading(component);
    impl_->readBody(component);
  });
}

void ReadComponentFromText(std::string_view text, TComponent* root, std::string sourceName) {
  TReader reader(text, std::move(sourceName));
  reader.ReadRootComponent(root);
}

void ReadInheritedForms(std::span<const std::string_view> texts, TComponent* root,
                        std::span<const std::string> sourceNames) {
  std::lock_guard lock(GlobalNameSpace());
  LoadSession session(root);
  std::vector<std::unique_ptr<TReader>> readers; // their texts name the pending references
  try {
    for (std::size_t i = 0; i < texts.size(); ++i) {
      readers.push_back(std::make_unique<TReader>(
          texts[i], i < sourceNames.size() ? sourceNames[i] : std::string()));
      readers.back()->impl_->session = &session;
      readers.back()->impl_->readForm(root);
    }
    session.resolveFixups();
  } catch (...) {
    session.abandon();
    throw;
  }
  session.callLoaded();
}

TComponent* CreateComponentFromText(std::string_view text, TComponent* owner,
                                    std::string sourceName) {
  std::lock_guard lock(GlobalNameSpace());
  FormLexer lex(text, sourceName);
  FormHeader h = parseHeader(lex, false);
  const TClassInfo* cls = FindClass(h.className);
  if (cls == nullptr)
    throw EClassNotFound(
        lex.message(h.classPos, fmt::format("class \"{}\" not found", excerpt(h.className))));
  if (cls->factoryKind != ClassFactoryKind::Component || cls->createComponent == nullptr)
    throw EClassNotFound(
        lex.message(h.classPos, fmt::format("class \"{}\" is not a component class", cls->name)));
  ObjectPtr<TComponent> made(cls->createComponent(owner));
  ReadComponentFromText(text, made.get(), std::move(sourceName));
  return made.release();
}

std::optional<ReadPosition> CurrentReadPosition() {
  const Assigning& a = currentAssignment;
  if (a.lexer == nullptr) return std::nullopt;
  return ReadPosition{a.lexer->sourceName(), a.pos.line, a.lexer->column(a.pos)};
}

std::string FormClassName(std::string_view text) {
  try {
    FormLexer lex(text, {});
    return std::string(parseHeader(lex, false).className);
  } catch (const Exception&) {
    return {};
  }
}

} // namespace keltk
