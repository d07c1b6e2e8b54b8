// The plug-in base class as far as the manager needs it: construction from
// stored form data, finalizing and logging through its manager.
#include "FrameworkTestSupport.h"

#include <array>
#include <gtest/gtest.h>
#include <keltk/Resources.h>
#include <keltk/Strings.h>

namespace kelvarin::test {
namespace {

class TkelFormless : public TulmKel {
public:
  using TulmKel::TulmKel;
  static const keltk::TClassInfo& StaticClass() {
    static keltk::TClassInfo info("TkelFormless", &TulmKel::StaticClass());
    return info;
  }
  const keltk::TClassInfo& ClassType() const override { return StaticClass(); }
};

class TkelStored : public TulmKel {
public:
  using TulmKel::TulmKel;
  static const keltk::TClassInfo& StaticClass() {
    static keltk::TClassInfo info("TkelStored", &TulmKel::StaticClass());
    return info;
  }
  const keltk::TClassInfo& ClassType() const override { return StaticClass(); }
};

constexpr std::string_view kStoredForm = "object kelStored: TkelStored\n"
                                         "  About = 'Stored about'\n"
                                         "  DeepName = 'Stored Plugin'\n"
                                         "  Description.Strings = (\n"
                                         "    'First line.'\n"
                                         "    'Second line.')\n"
                                         "  MaxInstances = 3\n"
                                         "  PropsToMonitor = [pmItemsToLog]\n"
                                         "  Version = '2.5'\n"
                                         "end\n";

TEST(PluginObject, ClassWithoutStoredFormCannotBeCreated) {
  try {
    keltk::CreateObject<TkelFormless>(nullptr);
    FAIL() << "created";
  } catch (const EulmKelCreationError& e) {
    EXPECT_EQ(e.Message(), "Error $E019:  Plugin class TkelFormless not found.");
    EXPECT_EQ(e.ErrorCode(), 0xE019);
  }
}

TEST(PluginObject, ReadsItsStoredForm) {
  keltk::RegisterFormResource(kStoredForm, &kStoredForm);
  keltk::ObjectPtr<TkelStored> plugin(keltk::CreateObject<TkelStored>(nullptr));
  keltk::UnregisterFormResource(kStoredForm);
  EXPECT_EQ(plugin->Name(), "kelStored");
  EXPECT_EQ(plugin->DeepName(), "Stored Plugin");
  EXPECT_EQ(plugin->MaxInstances(), 3);
  EXPECT_EQ(plugin->Version(), "2.5");
  EXPECT_EQ(plugin->PropsToMonitor(), TPropsToMonitorSet{pmItemsToLog});
  EXPECT_EQ(plugin->About(), "Ulmara Kelvarin v1.0.01.428");
  EXPECT_FALSE(plugin->Initialized());
  EXPECT_EQ(plugin->InstanceCount(), 0);
  EXPECT_EQ(plugin->OwnApplication(), keltk::Application());
  EXPECT_EQ(plugin->Description()->Text(), "First line.\r\nSecond line.\r\n");

  keltk::TStringList other;
  other.Add("Replaced.");
  plugin->SetDescription(&other);
  EXPECT_EQ(plugin->Description()->Text(), "Replaced.\r\n");
  EXPECT_NE(plugin->Description(), &other);
  plugin->SetDescription(nullptr);
  EXPECT_EQ(plugin->Description()->Text(), "Replaced.\r\n");
}

TEST(PluginObject, FinalizesOnceAfterInitialize) {
  TempDir dir;
  auto manager = makeManager(dir);
  manager->Log()->SetDumpOn(doNever);
  keltk::ObjectPtr<TulmKel> plugin(keltk::CreateObject<TulmKel>(nullptr));
  FrameworkAccess::handOver(*plugin, *manager, nullptr, "/p/late.kel", 0);
  plugin->SetDeepName("Late");

  TKelMethodResult r = plugin->Finalize();
  EXPECT_EQ(r.ErrorMsg, "Error $E008:  Plugin \"late.kel\" not initialized yet.");
  EXPECT_STREQ(r.ErrorClass->name, "EulmKelFinalizationError");
  EXPECT_EQ(plugin->Initialize({}), smrOk);
  EXPECT_EQ(plugin->Finalize(), smrOk);
  EXPECT_TRUE(plugin->Finalized());
  r = plugin->Finalize();
  EXPECT_EQ(r.ErrorMsg, "Error $E00A:  Plugin \"late.kel\" already finalized.");
  const std::vector<std::string> lines = linesAfterStamp(*manager->Log());
  EXPECT_EQ(lines.back(),
            "  Late                 E  Error $E00A:  Plugin \"late.kel\" already finalized.");
  EXPECT_EQ(lines[1],
            "  MANAGER              E  Error $E008:  Plugin \"late.kel\" not initialized yet.");
}

TEST(PluginObject, LogsNothingWithoutAManager) {
  keltk::ObjectPtr<TulmKel> plugin(keltk::CreateObject<TulmKel>(nullptr));
  EXPECT_EQ(plugin->LogIt("nobody listens", lkAction), smrUnexpectedError);
}

} // namespace
} // namespace kelvarin::test

namespace kelvarin::test {
namespace {

struct InitHandler : keltk::TObject {
  std::vector<std::string> calls;
  bool canLoad = true;
  bool raise = false;
  TKelMethodResult answer = smrOk;
  TKelMethodResult Initialize(keltk::TVarRecs Params, bool& CanLoad) {
    calls.push_back("initialize " + std::to_string(Params.size()));
    CanLoad = canLoad;
    if (raise) throw keltk::Exception("no start");
    return answer;
  }
};

class PluginInitializeTest : public ::testing::Test {
protected:
  void SetUp() override {
    manager = makeManager(dir);
    manager->Log()->SetDumpOn(doNever);
    plugin.reset(keltk::CreateObject<TulmKel>(nullptr));
    FrameworkAccess::handOver(*plugin, *manager, nullptr, "init.kel", 0);
    plugin->SetDeepName("Init");
    plugin->SetOnInitialize(TEventOnInitialize::bind<&InitHandler::Initialize>(&handler));
  }
  std::vector<std::string> lines() const { return linesAfterStamp(*manager->Log()); }

  TempDir dir;
  InitHandler handler;
  keltk::ObjectPtr<TulmKelMan> manager;
  keltk::ObjectPtr<TulmKel> plugin;
};

TEST_F(PluginInitializeTest, OnceOnlyAndTheHandlersAnswerIsNotConsulted) {
  handler.answer = smrUnexpectedError;
  const std::array<keltk::TVarRec, 1> params{keltk::VarInt(1)};
  EXPECT_EQ(plugin->Initialize(params), smrOk);
  EXPECT_TRUE(plugin->Initialized());
  // Same toolkit copy as the host: nothing to take over, nothing logged.
  EXPECT_EQ(lines(), std::vector<std::string>{"  MANAGER              A  Manager Ready."});

  const TKelMethodResult again = plugin->Initialize({});
  EXPECT_EQ(again.ErrorMsg, "Error $E009:  Plugin \"init.kel\" already initialized.");
  EXPECT_STREQ(again.ErrorClass->name, "EulmKelInitializationError");
  EXPECT_EQ(handler.calls, std::vector<std::string>{"initialize 1"});
}

TEST_F(PluginInitializeTest, WithoutHandlerItAgrees) {
  plugin->SetOnInitialize({});
  EXPECT_EQ(plugin->Initialize({}), smrOk);
  EXPECT_TRUE(plugin->Initialized());
}

TEST_F(PluginInitializeTest, ARefusalIsAFailureEvenWhenTheHandlerAnsweredOk) {
  handler.canLoad = false;
  const TKelMethodResult r = plugin->Initialize({});
  EXPECT_FALSE(r.Success);
  EXPECT_EQ(r.ErrorMsg, "Error $E003:  Plugin \"init.kel\" refused to be loaded.");
  EXPECT_TRUE(plugin->Initialized());
  EXPECT_EQ(lines().back(),
            "  Init                 E  Error $E003:  Plugin \"init.kel\" refused to be loaded.");
  EXPECT_EQ(plugin->Finalize(), smrOk); // a refused plug-in is still finalized
}

TEST_F(PluginInitializeTest, ARaisingHandler) {
  handler.raise = true;
  const TKelMethodResult r = plugin->Initialize({});
  EXPECT_EQ(r.ErrorMsg, "Error $E006:  Plugin \"init.kel\" could not be initialized.");
  EXPECT_TRUE(plugin->Initialized());
  const std::vector<std::string> log = lines();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[1], "  Init                 E  Event OnInitialize() on plugin \"init.kel\" raised "
                    "an exception:  no start");
  EXPECT_EQ(
      log[2],
      "  Init                 E  Error $E006:  Plugin \"init.kel\" could not be initialized.");
}

TEST_F(PluginInitializeTest, TakesTheHostsObjectsOverWhenTheyDiffer) {
  keltk::ObjectPtr<keltk::TApplication> host(keltk::CreateObject<keltk::TApplication>(nullptr));
  FrameworkAccess::setHostApplication(*plugin, host.get());
  EXPECT_EQ(plugin->Initialize({}), smrOk);
  EXPECT_EQ(keltk::Application(), host.get());
  EXPECT_EQ(keltk::Screen(), plugin->OwnScreen());
  EXPECT_EQ(lines().back(),
            "  Init                 A  Context assumed from host application (was distinct).");
  plugin.reset(); // the destructor puts this copy's own objects back
  EXPECT_EQ(keltk::Application(), keltk::OwnApplicationObject());
}

} // namespace
} // namespace kelvarin::test
