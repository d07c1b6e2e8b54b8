// A plug-in rebuilt under the running host: its file replaced as a linker does
// (written beside it, renamed over it), the manager reloads it at an idle step.
#include "LifecycleSupport.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <filesystem>
#include <functional>

namespace kelvarin::test {
namespace {

namespace fs = std::filesystem;

constexpr int kSettle = 100;

bool runLoopUntil(const std::function<bool()>& done, int ms = 5000) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > ms) return false;
    QEventLoop loop;
    QTimer::singleShot(5, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return true;
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
  EXPECT_TRUE(isMapped(file));
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
