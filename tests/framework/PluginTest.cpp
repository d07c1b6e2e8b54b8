// The plug-in base class as far as the manager needs it: construction from
// stored form data, finalizing and logging through its manager.
#include "FrameworkTestSupport.h"

#include <gtest/gtest.h>
#include <keltk/Resources.h>

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
}

TEST(PluginObject, FinalizesOnceAfterInitialize) {
  TempDir dir;
  auto manager = makeManager(dir);
  manager->Log()->SetDumpOn(doNever);
  keltk::ObjectPtr<TestPlugin> plugin(keltk::CreateObject<TestPlugin>(nullptr));
  plugin->SetManager(manager.get());
  plugin->SetFileName("/p/late.kel");
  plugin->SetShortFileName("late.kel");
  plugin->SetDeepName("Late");

  TKelMethodResult r = plugin->Finalize();
  EXPECT_EQ(r.ErrorMsg, "Error $E008:  Plugin \"late.kel\" not initialized yet.");
  EXPECT_STREQ(r.ErrorClass->name, "EulmKelFinalizationError");
  plugin->MarkInitialized();
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
  keltk::ObjectPtr<TestPlugin> plugin(keltk::CreateObject<TestPlugin>(nullptr));
  EXPECT_EQ(plugin->LogIt("nobody listens", lkAction), smrUnexpectedError);
}

} // namespace
} // namespace kelvarin::test
