#include "keltk/Component.h"

#include "keltk/Event.h"
#include "keltk/Exception.h"
#include "keltk/PropInfo.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

using namespace keltk;

namespace {

using TPingEvent = Event<void(TObject* Sender)>;

const EnumInfo& shadeInfo() {
  static const EnumInfo info = EnumInfo::sequence("TShade", {"shLight", "shDark"});
  return info;
}

std::vector<std::string>* destroyLog = nullptr;

class TSample : public TComponent {
public:
  using TComponent::TComponent;
  ~TSample() override {
    if (destroyLog != nullptr) destroyLog->push_back(Name());
  }
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }

  std::string caption;
  int shade = 0;
  int count = 3;
  TPingEvent onPing;
  TComponent* buddy = nullptr;
  int pings = 0;

  void Ping(TObject*) { ++pings; }
  void Pong(TObject*) { pings += 10; }

protected:
  void Notification(TComponent* component, TOperation operation) override {
    TComponent::Notification(component, operation);
    if (operation == TOperation::opRemove && component == buddy) buddy = nullptr;
  }
};

const TClassInfo& TSample::StaticClass() {
  static TClassInfo info("TSample", &TComponent::StaticClass(), [](TClassInfo& i) {
    ClassBuilder<TSample> b(i);
    b.componentFactory();
    b.string("Caption", &TSample::caption);
    b.enumeration("Shade", shadeInfo(), &TSample::shade).defaultValue(0);
    b.integer("Count", &TSample::count).defaultValue(3);
    b.event("OnPing", &TSample::onPing);
    b.component("Buddy", &TSample::buddy);
    b.method<&TSample::Ping>("Ping");
    b.method<&TSample::Pong>("Pong");
  });
  return info;
}

TEST(ClassInfo, PropertiesAreFoundWithoutRegardToCaseAndInherited) {
  const TClassInfo& cls = TSample::StaticClass();
  ASSERT_NE(cls.findProperty("caption"), nullptr);
  EXPECT_EQ(cls.findProperty("CAPTION")->kind, PropKind::String);
  EXPECT_NE(cls.findProperty("Tag"), nullptr); // from TComponent
  EXPECT_EQ(cls.findProperty("Missing"), nullptr);
  EXPECT_TRUE(cls.inheritsFrom("TComponent"));
  EXPECT_TRUE(cls.inheritsFrom("TPersistent"));
  EXPECT_FALSE(cls.inheritsFrom("TCollection"));

  std::vector<std::string> names;
  for (const PropInfo* p : cls.allProperties())
    names.push_back(p->name);
  EXPECT_EQ(names, (std::vector<std::string>{"Name", "Tag", "Caption", "Shade", "Count", "OnPing",
                                             "Buddy"}));
}

TEST(ClassInfo, AccessorsReadAndWriteThroughTheObject) {
  TSample s(nullptr);
  const TClassInfo& cls = TSample::StaticClass();
  cls.findProperty("Caption")->setString(s, "Hello");
  cls.findProperty("Shade")->setOrdinal(s, 1);
  EXPECT_EQ(s.caption, "Hello");
  EXPECT_EQ(s.shade, 1);
  EXPECT_EQ(cls.findProperty("Count")->getOrdinal(s), 3);
  EXPECT_FALSE(cls.findProperty("Count")->isStored(s)); // equals its default
  EXPECT_TRUE(cls.findProperty("Shade")->isStored(s));
  EXPECT_FALSE(cls.findProperty("Name")->isStored(s));
}

TEST(Events, PublishedMethodsBindByNameAndCompareByCodeAlone) {
  TSample a(nullptr), b(nullptr);
  const MethodInfo* ping = TSample::StaticClass().findMethod("Ping");
  ASSERT_NE(ping, nullptr);
  EXPECT_EQ(*ping->signature, signatureOf<void(TObject*)>());
  TSample::StaticClass().findProperty("OnPing")->setMethod(a, MethodRef{&a, ping->code});
  ASSERT_TRUE(a.onPing);
  a.onPing(nullptr);
  EXPECT_EQ(a.pings, 1);

  auto onA = TPingEvent::bind<&TSample::Ping>(&a);
  auto onB = TPingEvent::bind<&TSample::Ping>(&b);
  auto pongA = TPingEvent::bind<&TSample::Pong>(&a);
  EXPECT_TRUE(onA.sameCode(onB));
  EXPECT_FALSE(onA == onB);
  EXPECT_FALSE(onA.sameCode(pongA));
  EXPECT_TRUE(onA.sameCode(a.onPing));
  EXPECT_FALSE(TPingEvent());
}

TEST(Components, OwnerFreesOwnedComponentsNewestFirst) {
  std::vector<std::string> log;
  destroyLog = &log;
  {
    TSample owner(nullptr);
    owner.SetName("Owner");
    auto* first = new TSample(&owner);
    first->SetName("First");
    auto* second = new TSample(&owner);
    second->SetName("Second");
    EXPECT_EQ(owner.ComponentCount(), 2);
    EXPECT_EQ(second->ComponentIndex(), 1);
    EXPECT_EQ(owner.FindComponent("FIRST"), first);
  }
  destroyLog = nullptr;
  EXPECT_EQ(log, (std::vector<std::string>{"Owner", "Second", "First"}));
}

TEST(Components, FreeingAnOwnedComponentDetachesItAndNotifiesWatchers) {
  TSample owner(nullptr);
  auto* a = new TSample(&owner);
  TSample outsider(nullptr);
  auto* watched = new TSample(&owner);
  a->buddy = watched;
  outsider.buddy = watched;
  watched->FreeNotification(&outsider);
  delete watched;
  EXPECT_EQ(owner.ComponentCount(), 1);
  EXPECT_EQ(a->buddy, nullptr);       // told through its owner
  EXPECT_EQ(outsider.buddy, nullptr); // told because it asked
}

TEST(Components, NamesAreValidatedAndUniqueWithinTheOwner) {
  TSample owner(nullptr);
  auto* a = new TSample(&owner);
  a->SetName("Button1");
  auto* b = new TSample(&owner);
  EXPECT_THROW(b->SetName("BUTTON1"), EComponentError);
  EXPECT_THROW(b->SetName("1abc"), EComponentError);
  EXPECT_THROW(b->SetName("a b"), EComponentError);
  b->SetName("Button2");
  a->SetName("BUTTON1"); // renaming itself in another case is fine
  EXPECT_EQ(a->Name(), "BUTTON1");
}

TEST(Components, DesignFlagReachesOwnedComponents) {
  TSample owner(nullptr);
  auto* child = new TSample(&owner);
  owner.SetDesigning(true);
  EXPECT_TRUE(child->HasState(csDesigning));
  owner.SetDesigning(false);
  EXPECT_FALSE(child->ComponentState() & csDesigning);
}

TEST(Components, TwoPhaseCreationDestroysTheObjectWhenAfterConstructionThrows) {
  struct TFails : TSample {
    using TSample::TSample;
    void AfterConstruction() override { throw EReadError("bad"); }
  };
  std::vector<std::string> log;
  destroyLog = &log;
  TSample owner(nullptr);
  EXPECT_THROW(CreateObject<TFails>(&owner), EReadError);
  EXPECT_EQ(owner.ComponentCount(), 0);
  destroyLog = nullptr;
  EXPECT_EQ(log.size(), 1u);
}

} // namespace
