#include "keltk/DataModule.h"

#include "keltk/Application.h"
#include "keltk/Dialogs.h"
#include "keltk/Exception.h"
#include "keltk/PropInfo.h"
#include "keltk/Resources.h"
#include "keltk/Strings.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace keltk;

namespace {

std::vector<std::string> moduleLog;

class TPart : public TComponent {
public:
  using TComponent::TComponent;
  static const TClassInfo& StaticClass() {
    static TClassInfo info("TDmTestPart", &TComponent::StaticClass(),
                           [](TClassInfo& i) { ClassBuilder<TPart>(i).componentFactory(); });
    return info;
  }
  const TClassInfo& ClassType() const override { return StaticClass(); }
};

class TSampleModule : public TDataModule {
public:
  using TDataModule::TDataModule;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }

  TStringList* Description() const { return description_.get(); }
  void ModuleCreate(TObject*) {
    moduleLog.push_back("OnCreate parts=" + std::to_string(ComponentCount()) +
                        " lines=" + std::to_string(description_->Count()));
  }
  void ModuleDestroy(TObject*) { moduleLog.push_back("OnDestroy"); }

protected:
  void ReadStoredForm() override {
    moduleLog.push_back("read");
    TDataModule::ReadStoredForm();
  }

private:
  std::unique_ptr<TStringList> description_ = std::make_unique<TStringList>();
};

const TClassInfo& TSampleModule::StaticClass() {
  static TClassInfo info("TSampleModule", &TDataModule::StaticClass(), [](TClassInfo& i) {
    ClassBuilder<TSampleModule> b(i);
    b.object("Description", &TSampleModule::Description);
    b.method<&TSampleModule::ModuleCreate>("ModuleCreate");
    b.method<&TSampleModule::ModuleDestroy>("ModuleDestroy");
  });
  return info;
}

constexpr const char* kModule = R"(object SampleModule: TSampleModule
  OldCreateOrder = False
  OnCreate = ModuleCreate
  OnDestroy = ModuleDestroy
  Left = 192
  Top = 107
  Height = 150
  Width = 215
  Description.Strings = (
    'Provides a Splash Screen for Applications.')
  object Part1: TDmTestPart
  end
end
)";

class TOldOrderModule : public TSampleModule {
public:
  using TSampleModule::TSampleModule;
  static const TClassInfo& StaticClass() {
    static TClassInfo info("TOldOrderModule", &TSampleModule::StaticClass());
    return info;
  }
  const TClassInfo& ClassType() const override { return StaticClass(); }
  void AfterConstruction() override {
    TSampleModule::AfterConstruction();
    moduleLog.push_back("constructed");
  }
};

constexpr const char* kOldOrder = R"(inherited SampleModule: TOldOrderModule
  OldCreateOrder = True
end
)";

class DataModuleTest : public ::testing::Test {
protected:
  void SetUp() override {
    moduleLog.clear();
    RegisterClass(TPart::StaticClass());
    RegisterFormResource(kModule, &TSampleModule::StaticClass());
    RegisterFormResource(kOldOrder, &TSampleModule::StaticClass());
  }
  void TearDown() override {
    UnregisterFormResource(kModule);
    UnregisterFormResource(kOldOrder);
  }
};

} // namespace

TEST_F(DataModuleTest, ReadsItsStoredFormThenFiresOnCreate) {
  TSampleModule* m = CreateObject<TSampleModule>(nullptr);
  EXPECT_EQ(m->Name(), "SampleModule");
  EXPECT_EQ(m->Description()->Text(), "Provides a Splash Screen for Applications.\r\n");
  EXPECT_EQ(m->DesignLeft(), 192);
  EXPECT_EQ(m->DesignWidth(), 215);
  EXPECT_EQ(moduleLog, (std::vector<std::string>{"read", "OnCreate parts=1 lines=1"}));
  FreeObject(m);
  EXPECT_EQ(moduleLog.back(), "OnDestroy");
}

TEST_F(DataModuleTest, OldCreateOrderFiresRightAfterReading) {
  TOldOrderModule* m = CreateObject<TOldOrderModule>(nullptr);
  EXPECT_TRUE(m->OldCreateOrder());
  EXPECT_EQ(moduleLog,
            (std::vector<std::string>{"read", "OnCreate parts=1 lines=1", "constructed"}));
  FreeObject(m);
}

TEST_F(DataModuleTest, MissingStoredFormRaisesAndPlainOrBareModulesReadNothing) {
  class TNoForm : public TDataModule {
  public:
    using TDataModule::TDataModule;
    static const TClassInfo& StaticClass() {
      static TClassInfo info("TNoFormModule", &TDataModule::StaticClass());
      return info;
    }
    const TClassInfo& ClassType() const override { return StaticClass(); }
  };
  try {
    CreateObject<TNoForm>(nullptr);
    FAIL();
  } catch (const EResNotFound& e) {
    EXPECT_EQ(e.Message(), "Resource TNoFormModule not found");
  }
  ObjectPtr<TDataModule> plain(CreateObject<TDataModule>(nullptr));
  ObjectPtr<TSampleModule> bare(CreateObject<TSampleModule>(nullptr, CreateNew));
  EXPECT_EQ(bare->ComponentCount(), 0);
  EXPECT_TRUE(moduleLog.empty());
}

TEST_F(DataModuleTest, DesignedModulesAreNotRead) {
  class TDesigned : public TSampleModule {
  public:
    explicit TDesigned(TComponent* owner) : TSampleModule(owner) { IncludeState(csDesigning); }
  };
  ObjectPtr<TDesigned> m(CreateObject<TDesigned>(nullptr));
  EXPECT_EQ(m->ComponentCount(), 0);
  EXPECT_TRUE(moduleLog.empty());
}

TEST_F(DataModuleTest, ExceptionFromOnCreateGoesToTheApplication) {
  struct TThrower : TObject {
    void Create(TObject*) { throw EConvertError("bad start"); }
  } thrower;
  std::vector<std::string> shown;
  MessageBoxHandler previous =
      SetMessageBoxHandler([&](const std::string& t) { shown.push_back(t); });
  class TEventful : public TDataModule {
  public:
    TEventful(TComponent* owner, TNotifyEvent onCreate) : TDataModule(owner, CreateNew) {
      SetOnCreate(onCreate);
    }
  };
  ObjectPtr<TEventful> m(
      CreateObject<TEventful>(nullptr, TNotifyEvent::bind<&TThrower::Create>(&thrower)));
  SetMessageBoxHandler(previous);
  EXPECT_EQ(shown, std::vector<std::string>{"bad start"});
}

TEST_F(DataModuleTest, PublishesTheDesignPlaceUnderTheStoredNames) {
  const TClassInfo& cls = TDataModule::StaticClass();
  for (const char* name :
       {"OldCreateOrder", "OnCreate", "OnDestroy", "Left", "Top", "Height", "Width"})
    EXPECT_NE(cls.findProperty(name), nullptr) << name;
}
