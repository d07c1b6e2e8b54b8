// The suite embeds data/ResourceBase.kfm and data/ResourceChild.kfm with
// kelvarin_add_forms(), so their forms belong to this executable's module.
#include "keltk/Resources.h"

#include "keltk/Component.h"
#include "keltk/Exception.h"
#include "keltk/PropInfo.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace keltk;

namespace {

std::vector<std::string> resLog;

class TFmResPart : public TComponent {
public:
  using TComponent::TComponent;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }
  std::string caption;
  void Loaded() override {
    resLog.push_back("Loaded " + Name());
    TComponent::Loaded();
  }
};

const TClassInfo& TFmResPart::StaticClass() {
  static TClassInfo info("TFmResPart", &TComponent::StaticClass(), [](TClassInfo& i) {
    ClassBuilder<TFmResPart> b(i);
    b.componentFactory();
    b.string("Caption", &TFmResPart::caption);
  });
  return info;
}

// Reads its stored forms when it is created, as a designed container does.
class TFmResBase : public TComponent {
public:
  using TComponent::TComponent;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }
  void AfterConstruction() override {
    RegisterClass(TFmResPart::StaticClass());
    found = InitInheritedComponent(this, TComponent::StaticClass());
  }
  void Loaded() override {
    resLog.push_back("Loaded " + Name());
    TComponent::Loaded();
  }
  bool found = false;
  std::string caption;
  int count = 0;
};

const TClassInfo& TFmResBase::StaticClass() {
  static TClassInfo info("TFmResBase", &TComponent::StaticClass(), [](TClassInfo& i) {
    ClassBuilder<TFmResBase> b(i);
    b.string("Caption", &TFmResBase::caption);
    b.integer("Count", &TFmResBase::count);
  });
  return info;
}

class TFmResChild : public TFmResBase {
public:
  using TFmResBase::TFmResBase;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }
  std::string extra;
};

const TClassInfo& TFmResChild::StaticClass() {
  static TClassInfo info("TFmResChild", &TFmResBase::StaticClass(), [](TClassInfo& i) {
    ClassBuilder<TFmResChild>(i).string("Extra", &TFmResChild::extra);
  });
  return info;
}

// A class of this module without a form of its own.
class TFmResNone : public TComponent {
public:
  using TComponent::TComponent;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }
};

const TClassInfo& TFmResNone::StaticClass() {
  static TClassInfo info("TFmResNone", &TComponent::StaticClass());
  return info;
}

const char anchor = 0; // an address inside this executable

TEST(FormResources, AnEmbeddedFormIsFoundForItsClass) {
  std::optional<std::string_view> base = FindFormResource(TFmResBase::StaticClass());
  ASSERT_TRUE(base.has_value());
  EXPECT_EQ(base->substr(0, 27), "object ResBase: TFmResBase\n");
  EXPECT_EQ(base->back(), '\n'); // the whole file, nothing more
  EXPECT_TRUE(FindFormResource(TFmResChild::StaticClass()).has_value());
  EXPECT_FALSE(FindFormResource(TFmResNone::StaticClass()).has_value());
}

TEST(FormResources, OnlyTheModuleThatImplementsAClassCanSupplyItsForm) {
  // TComponent lives in the toolkit's runtime module, not in this executable.
  ASSERT_NE(TComponent::StaticClass().moduleBase(), TFmResNone::StaticClass().moduleBase());
  const std::string text = "object Intruder: TComponent\nend\n";
  RegisterFormResource(text, &anchor);
  EXPECT_FALSE(FindFormResource(TComponent::StaticClass()).has_value());
  UnregisterFormResource(text);
}

TEST(FormResources, UnregisteringRemovesTheForm) {
  const std::string text = "object None: TFmResNone\nend\n";
  RegisterFormResource(text, &anchor);
  ASSERT_EQ(FindFormResource(TFmResNone::StaticClass()), std::string_view(text));
  UnregisterFormResource(text);
  EXPECT_FALSE(FindFormResource(TFmResNone::StaticClass()).has_value());
  RegisterFormResource("no header here", &anchor); // ignored, never found
  EXPECT_FALSE(FindFormResource(TFmResNone::StaticClass()).has_value());
}

TEST(FormResources, CreatingAnObjectReadsItsClassesFormsBaseFirst) {
  resLog.clear();
  ObjectPtr<TFmResChild> child(CreateObject<TFmResChild>(nullptr));
  EXPECT_TRUE(child->found);
  EXPECT_EQ(child->Name(), "ResChild");
  EXPECT_EQ(child->caption, "from the base form");
  EXPECT_EQ(child->count, 2);
  EXPECT_EQ(child->extra, "child");
  ASSERT_EQ(child->ComponentCount(), 1);
  auto* part = ObjectAs<TFmResPart>(child->Components(0));
  ASSERT_NE(part, nullptr);
  EXPECT_EQ(part->caption, "part of the child");
  EXPECT_EQ(resLog, (std::vector<std::string>{"Loaded ResChild", "Loaded Part"}));

  ObjectPtr<TFmResBase> base(CreateObject<TFmResBase>(nullptr));
  EXPECT_EQ(base->Name(), "ResBase");
  EXPECT_EQ(base->count, 1);
  EXPECT_EQ(ObjectAs<TFmResPart>(base->Components(0))->caption, "part");
}

TEST(FormResources, AClassWithoutFormsReportsNothingFound) {
  TFmResNone none(nullptr);
  EXPECT_FALSE(InitInheritedComponent(&none, TComponent::StaticClass()));
  EXPECT_EQ(none.ComponentCount(), 0);
}

TEST(FormResources, BadStoredDataNamesTheClassWhoseFormItIs) {
  const std::string text = "object None: TFmResNone\n  Colour = 1\nend\n";
  RegisterFormResource(text, &anchor);
  TFmResNone none(nullptr);
  try {
    InitInheritedComponent(&none, TComponent::StaticClass());
    ADD_FAILURE() << "no exception";
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message(),
              "form of TFmResNone: line 2, column 3: unknown property \"Colour\" of TFmResNone");
  }
  UnregisterFormResource(text);
}

} // namespace
