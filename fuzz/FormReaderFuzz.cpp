// Feeds arbitrary bytes to the form reader. Bad data must end in an exception of
// the toolkit's family, never in a crash, a leak or undefined behaviour; good data
// must survive writing and reading again unchanged.
#include "keltk/Collection.h"
#include "keltk/Component.h"
#include "keltk/Exception.h"
#include "keltk/PropInfo.h"
#include "keltk/Reader.h"
#include "keltk/Writer.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

using namespace keltk;

namespace {

using TFzNotify = Event<void(TObject* Sender)>;

const EnumInfo& modeInfo() {
  static const EnumInfo info = EnumInfo::sequence("TFzMode", {"fmOne", "fmTwo", "fmThree"});
  return info;
}

const EnumInfo& colorInfo() {
  static const EnumInfo info{"TFzColor", {{"clNone", -1}, {"clRed", 255}}};
  return info;
}

class TFzLines : public TPersistent {
public:
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }
  std::vector<std::string> lines;
  const std::vector<std::string>& Lines() const { return lines; }
  void SetLines(const std::vector<std::string>& v) { lines = v; }
};

const TClassInfo& TFzLines::StaticClass() {
  static TClassInfo info("TFzLines", &TPersistent::StaticClass(), [](TClassInfo& i) {
    ClassBuilder<TFzLines>(i).lines("Strings", &TFzLines::Lines, &TFzLines::SetLines);
  });
  return info;
}

class TFzNode;

class TFzKid : public TCollectionItem {
public:
  using TCollectionItem::TCollectionItem;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }
  std::string text;
  std::int16_t small = 0;
};

const TClassInfo& TFzKid::StaticClass() {
  static TClassInfo info("TFzKid", &TCollectionItem::StaticClass(), [](TClassInfo& i) {
    ClassBuilder<TFzKid> b(i);
    b.itemFactory();
    b.string("Text", &TFzKid::text);
    b.integer("Small", &TFzKid::small).defaultValue(0);
  });
  return info;
}

class TFzItem : public TCollectionItem {
public:
  explicit TFzItem(TCollection* c) : TCollectionItem(c), kids(TFzKid::StaticClass()) {}
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }
  std::string name;
  bool on = true;
  std::vector<std::uint8_t> data;
  TCollection kids;
  TFzNode* node = nullptr;
  TFzNotify onRun;
  TCollection* Kids() { return &kids; }
  const std::vector<std::uint8_t>& Data() const { return data; }
  void SetData(std::span<const std::uint8_t> v) { data.assign(v.begin(), v.end()); }
};

class TFzSettings : public TPersistent {
public:
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }
  std::uint8_t mode = 0;
  std::uint32_t flags = 0;
  TFzLines notes;
  TFzNode* ref = nullptr;
  TFzLines* Notes() { return &notes; }
};

const TClassInfo& TFzSettings::StaticClass() {
  static TClassInfo info("TFzSettings", &TPersistent::StaticClass(), [](TClassInfo& i) {
    ClassBuilder<TFzSettings> b(i);
    b.enumeration("Mode", modeInfo(), &TFzSettings::mode);
    b.set("Flags", modeInfo(), &TFzSettings::flags);
    b.object("Notes", &TFzSettings::Notes);
    b.component("Ref", &TFzSettings::ref);
  });
  return info;
}

// A nested component with a parent, which frees its children with itself.
class TFzNode : public TComponent {
public:
  using TComponent::TComponent;
  ~TFzNode() override {
    while (!children.empty())
      FreeObject(children.back());
    SetParentComponent(nullptr);
  }
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }

  std::string caption;
  std::int64_t color = 0;
  TFzNode* buddy = nullptr;
  TFzNotify onClick;
  TFzNode* parent = nullptr;
  std::vector<TFzNode*> children;

  bool HasParent() const override { return parent != nullptr; }
  TComponent* GetParentComponent() const override { return parent; }
  void SetParentComponent(TComponent* p) override {
    auto* node = ObjectAs<TFzNode>(p);
    for (TFzNode* up = node; up != nullptr; up = up->parent)
      if (up == this) return; // never below itself
    if (parent != nullptr) std::erase(parent->children, this);
    parent = node;
    if (node != nullptr) node->children.push_back(this);
  }
  void GetChildren(const std::function<void(TComponent*)>& proc, TComponent*) const override {
    for (TFzNode* c : children)
      proc(c);
  }

protected:
  void Notification(TComponent* c, TOperation op) override {
    TComponent::Notification(c, op);
    if (op == TOperation::opRemove && c == buddy) buddy = nullptr;
  }
};

const TClassInfo& TFzNode::StaticClass() {
  static TClassInfo info("TFzNode", &TComponent::StaticClass(), [](TClassInfo& i) {
    ClassBuilder<TFzNode> b(i);
    b.componentFactory();
    b.string("Caption", &TFzNode::caption);
    b.integer("Color", &TFzNode::color, nullptr, &colorInfo()).defaultValue(0);
    b.component("Buddy", &TFzNode::buddy);
    b.event("OnClick", &TFzNode::onClick);
  });
  return info;
}

const TClassInfo& TFzItem::StaticClass() {
  static TClassInfo info("TFzItem", &TCollectionItem::StaticClass(), [](TClassInfo& i) {
    ClassBuilder<TFzItem> b(i);
    b.itemFactory();
    b.string("Name", &TFzItem::name);
    b.boolean("On", &TFzItem::on);
    b.binary("Data", &TFzItem::Data, &TFzItem::SetData);
    b.object("Kids", &TFzItem::Kids);
    b.component("Node", &TFzItem::node);
    b.event("OnRun", &TFzItem::onRun);
  });
  return info;
}

class TFzRoot : public TComponent {
public:
  TFzRoot() : TComponent(nullptr), items(TFzItem::StaticClass()) {}
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }

  std::string caption;
  std::int32_t count = 0;
  bool flag = false;
  std::uint8_t mode = 0;
  std::uint8_t opts = 0;
  std::vector<std::uint8_t> data;
  TFzLines lines;
  TFzSettings settings;
  TCollection items;
  TFzNode* ref = nullptr;
  TFzNotify onEvent;

  TFzLines* Lines() { return &lines; }
  TFzSettings* Settings() { return &settings; }
  TCollection* Items() { return &items; }
  const std::vector<std::uint8_t>& Data() const { return data; }
  void SetData(std::span<const std::uint8_t> v) { data.assign(v.begin(), v.end()); }
  void Handle(TObject*) {}
  void Other(TObject*) {}
  int Wrong(int v) { return v; }

protected:
  void Notification(TComponent* c, TOperation op) override {
    TComponent::Notification(c, op);
    if (op != TOperation::opRemove) return;
    if (c == ref) ref = nullptr;
    if (c == settings.ref) settings.ref = nullptr;
    for (int i = 0; i < items.Count(); ++i) {
      auto* item = static_cast<TFzItem*>(items.Items(i));
      if (item->node == c) item->node = nullptr;
    }
  }
};

const TClassInfo& TFzRoot::StaticClass() {
  static TClassInfo info("TFzRoot", &TComponent::StaticClass(), [](TClassInfo& i) {
    ClassBuilder<TFzRoot> b(i);
    b.string("Caption", &TFzRoot::caption);
    b.integer("Count", &TFzRoot::count).defaultValue(0);
    b.boolean("Flag", &TFzRoot::flag).defaultValue(0);
    b.enumeration("Mode", modeInfo(), &TFzRoot::mode).defaultValue(0);
    b.set("Opts", modeInfo(), &TFzRoot::opts);
    b.binary("Data", &TFzRoot::Data, &TFzRoot::SetData);
    b.object("Lines", &TFzRoot::Lines);
    b.object("Settings", &TFzRoot::Settings);
    b.object("Items", &TFzRoot::Items);
    b.component("Ref", &TFzRoot::ref);
    b.event("OnEvent", &TFzRoot::onEvent);
    b.method<&TFzRoot::Handle>("Handle");
    b.method<&TFzRoot::Other>("Other");
    b.method<&TFzRoot::Wrong>("Wrong");
  });
  return info;
}

std::string writeOrTrap(TFzRoot& root) {
  try {
    return WriteComponentToText(&root);
  } catch (const Exception& e) {
    std::fprintf(stderr, "a form that was read cannot be written: %s\n", e.Message().c_str());
    __builtin_trap();
  }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  RegisterClass(TFzNode::StaticClass());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(bytes), size);
  TFzRoot root;
  try {
    ReadComponentFromText(text, &root);
  } catch (const Exception& e) {
    if (e.Message().rfind("line ", 0) != 0) {
      std::fprintf(stderr, "error without a position: %s\n", e.Message().c_str());
      __builtin_trap();
    }
    return 0;
  }
  // What was read must come back the same after a write and a read.
  std::string first = writeOrTrap(root);
  TFzRoot again;
  try {
    ReadComponentFromText(first, &again);
  } catch (const Exception& e) {
    std::fprintf(stderr, "written form does not read back: %s\n%s\n", e.Message().c_str(),
                 first.c_str());
    __builtin_trap();
  }
  if (writeOrTrap(again) != first) {
    std::fprintf(stderr, "round trip changed the form:\n%s\n", first.c_str());
    __builtin_trap();
  }
  return 0;
}
