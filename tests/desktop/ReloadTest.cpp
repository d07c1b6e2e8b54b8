// A plug-in rebuilt under the running host: its file replaced as a linker does
// (written beside it, renamed over it), the manager reloads it at an idle step.
#include "LifecycleSupport.h"
#include "WaitUntil.h"

#include <QTimer>
#include <filesystem>
#include <fstream>
#include <functional>

namespace kelvarin::test {
namespace {

namespace fs = std::filesystem;

constexpr int kSettle = 100;

bool runLoopUntil(const std::function<bool()>& done, int ms = 5000) {
  return testsupport::waitUntil(done, ms);
}

bool mapsMention(const std::string& text) {
  return readFile("/proc/self/maps").find(text) != std::string::npos;
}

class ReloadTest : public LifecycleTest {
protected:
  void SetUp() override {
    LifecycleTest::SetUp();
    fs::copy_file(fixture("ReloadableA"), file);
    manager->SetPluginFolder(folder.path());
    manager->SetReloadSettleDelay(kSettle);
    ASSERT_TRUE(manager->SetReloadOnChange(true));
    const std::string one = "one", two = "two";
    const std::vector<keltk::TVarRec> args{keltk::VarStr(one), keltk::VarStr(two)};
    ASSERT_TRUE(manager->LoadPlugin(false, "Reloadable", args).Success);
  }

  void replaceWith(const std::string& bytes) {
    const std::string beside = folder.file("Reloadable.kel.tmp");
    std::ofstream(beside, std::ios::binary) << bytes;
    fs::rename(beside, file);
  }
  // The position of the first line from `from` on that holds `text`, or -1.
  long at(const std::string& text, std::size_t from = 0) const {
    const auto all = lines();
    for (std::size_t i = from; i < all.size(); ++i)
      if (all[i].find(text) != std::string::npos) return static_cast<long>(i);
    return -1;
  }
  bool loadedBuild(const char* build) const {
    return manager->PluginCount() == 1 &&
           at(std::string("build ") + build + " loaded with one two") >= 0;
  }

  TempDir folder;
  const std::string file = folder.file("Reloadable.kel");
  const std::string changed = action("Plugin File Changed: \"" + file + "\".");
};

TEST_F(ReloadTest, ANewBuildIsLoadedWithTheSameArgumentsAndTheOldOneUnmapped) {
  const std::size_t from = lines().size();
  replaceWith(readFile(fixture("ReloadableB")));
  ASSERT_TRUE(runLoopUntil([&] { return loadedBuild("B"); })) << ::testing::PrintToString(lines());
  EXPECT_TRUE(manager->ExecuteCommand(manager->Plugins(0), "Answer").Success);
  EXPECT_GE(at("answer B", from), 0);
  const long change = at(changed, from);
  ASSERT_GE(change, 0);
  EXPECT_EQ(lines()[static_cast<std::size_t>(change) + 1],
            action("Unloading Plugin: \"Reloadable\" (\"" + file + "\")..."));
  EXPECT_GT(at(action("Loading Plugin: \"" + file + "\"..."), from), change);
  EXPECT_FALSE(mapsMention(file + " (deleted)"));
  // Run from a private copy beside the file, itself gone from the folder.
  EXPECT_TRUE(mapsMention(folder.file(".Reloadable.kel.")));
  EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 1);
}

// What build tools and people do: the new build copied over the loaded file,
// written into the same file in place, and a host that refuses the new build.
TEST_F(ReloadTest, ACopyInPlaceReloadsAndARefusedBuildLeavesTheLoadedOne) {
  std::ofstream(file, std::ios::binary | std::ios::trunc) << readFile(fixture("ReloadableB"));
  ASSERT_TRUE(runLoopUntil([&] { return loadedBuild("B"); })) << ::testing::PrintToString(lines());

  struct Host : keltk::TObject {
    void BeforeLoad(const std::string&, bool& AllowLoad) { AllowLoad = false; }
  } host;
  manager->SetOnBeforeLoad(TEventOnBeforeLoad::bind<&Host::BeforeLoad>(&host));
  const std::size_t from = lines().size();
  replaceWith(readFile(fixture("ReloadableA")));
  const std::string kept =
      action("Plugin Reload Refused: \"Reloadable\" (\"" + file + "\"): the loaded build stays.");
  ASSERT_TRUE(runLoopUntil([&] { return at(kept, from) >= 0; }));
  EXPECT_EQ(lines()[static_cast<std::size_t>(at(kept, from)) - 1],
            error("Error $E002:  Plugin \"Reloadable.kel\" not allowed to be loaded."));
  EXPECT_TRUE(manager->ExecuteCommand(manager->Plugins(0), "Answer").Success);
  EXPECT_GE(at("answer B", from), 0);
}

// A plug-in loaded by a name relative to the working folder is reloaded from the
// file it was loaded from, wherever the working folder has gone since.
TEST_F(ReloadTest, AReloadReadsTheFileFoundAtTheFirstLoad) {
  ASSERT_TRUE(manager->UnloadAllPlugins(false).Success);
  const fs::path before = fs::current_path();
  fs::current_path(folder.path());
  manager->SetPluginFolder("");
  ASSERT_TRUE(manager->LoadPlugin("Reloadable").Success);
  fs::create_directory("other");
  fs::copy_file(fixture("ReloadableA"), "other/Reloadable.kel");
  fs::current_path("other");
  replaceWith(readFile(fixture("ReloadableB")));
  const bool reloaded = runLoopUntil([&] { return at("build B loaded") >= 0; });
  fs::current_path(before);
  ASSERT_TRUE(reloaded) << ::testing::PrintToString(lines());
  EXPECT_EQ(manager->Plugins(0)->FileName(), file);
}

TEST_F(ReloadTest, AChangeWhileACommandRunsReloadsOnceTheCommandHasReturned) {
  const std::size_t from = lines().size();
  replaceWith(readFile(fixture("ReloadableB")));
  // The command runs the event loop past the settle delay: the change is seen
  // inside it, the unload waits for it.
  EXPECT_TRUE(
      manager->ExecuteCommand(manager->Plugins(0), "Pump", {keltk::VarInt(kSettle * 4)}).Success);
  const long change = at(changed, from);
  const long pumped = at("pumped", from);
  ASSERT_GE(change, 0);
  EXPECT_LT(change, pumped);
  EXPECT_EQ(at("Unloading Plugin", from), -1);
  ASSERT_TRUE(runLoopUntil([&] { return loadedBuild("B"); }));
  EXPECT_GT(at("Unloading Plugin", from), pumped);
  EXPECT_FALSE(mapsMention(file + " (deleted)"));
}

TEST_F(ReloadTest, APlugInTheHostUnloadsWhileItsReloadWaitsStaysUnloaded) {
  const std::size_t from = lines().size();
  replaceWith(readFile(fixture("ReloadableB")));
  EXPECT_TRUE(
      manager->ExecuteCommand(manager->Plugins(0), "Pump", {keltk::VarInt(kSettle * 4)}).Success);
  ASSERT_GE(at(changed, from), 0);
  EXPECT_TRUE(manager->UnloadPlugin(manager->Plugins(0)).Success);
  runLoopUntil([] { return false; }, kSettle * 3);
  EXPECT_EQ(manager->PluginCount(), 0);
  EXPECT_EQ(at("Loading Plugin", from), -1);
}

TEST_F(ReloadTest, ABadBuildFailsAsAnyLoadAndTheNextGoodOneIsPickedUp) {
  const std::size_t from = lines().size();
  replaceWith("no module, a linker's half-written output\n");
  ASSERT_TRUE(runLoopUntil([&] { return at(error(""), from) >= 0; }));
  EXPECT_EQ(manager->PluginCount(), 0);
  EXPECT_GE(at(changed, from), 0);
  replaceWith(readFile(fixture("ReloadableB")));
  ASSERT_TRUE(runLoopUntil([&] { return loadedBuild("B"); }));
  EXPECT_TRUE(manager->ExecuteCommand(manager->Plugins(0), "Answer").Success);
  EXPECT_GE(at("answer B", from), 0);
}

TEST_F(ReloadTest, ABurstOfChangesReloadsOnceWhenTheFileHasSettled) {
  const std::size_t from = lines().size();
  replaceWith("the linker's first step\n");
  replaceWith(readFile(fixture("ReloadableB")).substr(0, 100));
  replaceWith(readFile(fixture("ReloadableB")));
  ASSERT_TRUE(runLoopUntil([&] { return loadedBuild("B"); }));
  runLoopUntil([] { return false; }, kSettle * 2);
  const auto all = lines();
  EXPECT_EQ(std::count(all.begin() + static_cast<std::ptrdiff_t>(from), all.end(), changed), 1);
  EXPECT_EQ(at(error(""), from), -1);
}

} // namespace
} // namespace kelvarin::test
