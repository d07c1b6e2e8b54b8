// The monitored manager properties: the writers' checks and the broadcast of a
// change to the host's and the plug-ins' OnPropertyModified handlers.
#include "FrameworkTestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <stdexcept>

namespace kelvarin::test {
namespace {

// Records what each handler was told: "name: property old -> new".
struct Watcher : keltk::TObject {
  std::string name;
  std::vector<std::string>* calls = nullptr;
  bool raise = false;

  void Modified(TPropToMonitor property, const void* oldValue, const void* newValue) {
    std::string text = name + ": " + std::to_string(static_cast<int>(property)) + " ";
    if (property == pmLoadOptions)
      text += std::to_string(static_cast<const TLoadOptionsSet*>(oldValue)->bits()) + " -> " +
              std::to_string(static_cast<const TLoadOptionsSet*>(newValue)->bits());
    else
      text += "'" + *static_cast<const std::string*>(oldValue) + "' -> '" +
              *static_cast<const std::string*>(newValue) + "'";
    calls->push_back(text);
    if (raise) throw keltk::Exception(name + " failed");
  }
};

// Re-enters the setter with a refused value, which stops at a later step of its
// own, then raises what only a report line names.
struct Reenterer : keltk::TObject {
  TulmKelMan* manager = nullptr;

  void Modified(TPropToMonitor, const void*, const void*) {
    manager->SetPluginExtension("k el");
    throw std::runtime_error("after re-entry");
  }
};

class PropertiesTest : public ::testing::Test {
protected:
  void SetUp() override {
    manager = makeManager(dir);
    manager->Log()->SetDumpOn(doNever);
    for (Watcher* w : {&host, &older, &newer})
      w->calls = &calls;
    host.name = "host";
    older.name = "older";
    newer.name = "newer";
  }
  TulmKel* plugin(Watcher& watcher, const std::string& deepName, TPropsToMonitorSet props) {
    TulmKel* p = addPlugin(*manager, deepName, "/p/" + deepName + ".kel");
    p->SetPropsToMonitor(props);
    p->SetOnPropertyModified(TEventOnPropertyModified::bind<&Watcher::Modified>(&watcher));
    return p;
  }
  void watchOnHost(TPropsToMonitorSet props) {
    manager->SetPropsToMonitor(props);
    manager->SetOnPropertyModified(TEventOnPropertyModified::bind<&Watcher::Modified>(&host));
  }
  std::string lastLine() const { return linesAfterStamp(*manager->Log()).back(); }
  std::size_t logged() const { return manager->Log()->Entries().Count(); }

  TempDir dir;
  std::vector<std::string> calls;
  Watcher host, older, newer;
  keltk::ObjectPtr<TulmKelMan> manager;
};

TEST_F(PropertiesTest, HostFirstThenPluginsNewestFirst) {
  watchOnHost({pmLoadOptions});
  plugin(older, "Older", {pmLoadOptions});
  plugin(newer, "Newer", {pmLoadOptions});
  newer.raise = true; // the one in the middle fails; the last is still told
  manager->SetLoadOptions({loBreakLoopOnError});
  EXPECT_EQ(manager->LoadOptions(), TLoadOptionsSet{loBreakLoopOnError});
  EXPECT_EQ(calls,
            (std::vector<std::string>{"host: 0 0 -> 1", "newer: 0 0 -> 1", "older: 0 0 -> 1"}));
  EXPECT_EQ(lastLine(), "  MANAGER              E  Event OnPropertyModified() on plugin "
                        "\"Newer.kel\" raised an exception:  newer failed");

  // The same value again is no change.
  calls.clear();
  manager->SetLoadOptions({loBreakLoopOnError});
  EXPECT_TRUE(calls.empty());
}

TEST_F(PropertiesTest, OnlyThoseWhoAskAreTold) {
  plugin(older, "Older", {pmPluginFolder});
  TulmKel* silent = plugin(newer, "Newer", {pmPluginFolder});
  silent->SetOnPropertyModified({}); // asks, but has no handler
  manager->SetOnPropertyModified(TEventOnPropertyModified::bind<&Watcher::Modified>(&host));
  // The host's handler is assigned, but its set does not name the folder.
  manager->SetPluginFolder(dir.path());
  EXPECT_EQ(calls, std::vector<std::string>{"older: 2 '' -> '" + dir.path() + "'"});

  calls.clear();
  manager->SetPluginsTopLevelMenu(nullptr);
  manager->SetPluginExtension("dll"); // nobody monitors the extension
  EXPECT_TRUE(calls.empty());
}

TEST_F(PropertiesTest, PluginFolder) {
  watchOnHost({pmPluginFolder});
  host.raise = true;
  const std::string trailing = dir.path() + "/";
  manager->SetPluginFolder(trailing);
  EXPECT_EQ(manager->PluginFolder(), trailing); // stored as given
  EXPECT_EQ(calls, std::vector<std::string>{"host: 2 '' -> '" + trailing + "'"});
  EXPECT_EQ(lastLine(), "  MANAGER              E  Event OnPropertyModified() on host raised an "
                        "exception:  host failed");
  host.raise = false;

  calls.clear();
  const std::string missing = dir.file("missing");
  manager->SetPluginFolder(missing);
  EXPECT_EQ(manager->PluginFolder(), trailing);
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(lastLine(), "  MANAGER              E  Error $E017:  Manager PluginFolder does not "
                        "exist: \"" +
                            missing + "\".");

  manager->SetPluginFolder("  ");
  EXPECT_EQ(manager->PluginFolder(), "  ");
  manager->SetPluginFolder("");
  EXPECT_EQ(manager->PluginFolder(), "");
  EXPECT_EQ(calls,
            (std::vector<std::string>{"host: 2 '" + trailing + "' -> '  '", "host: 2 '  ' -> ''"}));
  // A file is no folder.
  writeFile(dir.file("file"), "x");
  manager->SetPluginFolder(dir.file("file"));
  EXPECT_EQ(manager->PluginFolder(), "");
}

TEST_F(PropertiesTest, PluginExtension) {
  watchOnHost({pmPluginExtension});
  manager->SetPluginExtension("kel");
  EXPECT_TRUE(calls.empty());
  manager->SetPluginExtension("DLL");
  EXPECT_EQ(manager->PluginExtension(), "DLL");
  EXPECT_EQ(calls, std::vector<std::string>{"host: 1 'kel' -> 'DLL'"});
  for (const std::string bad : {".kel", "k el", "k*", "*"}) {
    const std::size_t before = logged();
    manager->SetPluginExtension(bad);
    EXPECT_EQ(manager->PluginExtension(), "DLL");
    EXPECT_EQ(logged(), before + 1);
    EXPECT_EQ(lastLine(),
              "  MANAGER              E  Error $E02E:  Invalid plugin extension: " + bad);
  }
  manager->SetPluginExtension("");
  EXPECT_EQ(manager->PluginExtension(), "");
  EXPECT_EQ(calls.size(), 2u);
}

TEST_F(PropertiesTest, ReentryKeepsTheOuterCallsStep) {
  Reenterer reenterer;
  reenterer.manager = manager.get();
  manager->SetPropsToMonitor({pmPluginExtension});
  manager->SetOnPropertyModified(TEventOnPropertyModified::bind<&Reenterer::Modified>(&reenterer));
  manager->SetPluginExtension("so");
  const std::vector<std::string> lines = linesAfterStamp(*manager->Log());
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[lines.size() - 3],
            "  MANAGER              E  Error $E02E:  Invalid plugin extension: k el");
  EXPECT_EQ(lines[lines.size() - 2], "  MANAGER              E  EXCEPTION [ulmKELrp.bpl] "
                                     "ulmKELru.TulmKelMan.SetPluginExtension.3: "
                                     "[std::runtime_error] after re-entry");
}

TEST_F(PropertiesTest, RefusalsRaiseWhileDesigning) {
  manager->SetDesigning(true);
  try {
    manager->SetPluginFolder(dir.file("missing"));
    FAIL() << "accepted";
  } catch (const EulmKelPropertyError& e) {
    EXPECT_EQ(e.ErrorCode(), 0xE017);
  }
  EXPECT_THROW(manager->SetPluginExtension("a.b"), EulmKelPropertyError);
  EXPECT_EQ(manager->PluginExtension(), "kel");
  manager->SetPluginExtension("so"); // accepted values raise nothing
  EXPECT_EQ(manager->PluginExtension(), "so");
}

TEST_F(PropertiesTest, ItemsToLogAreBroadcastToo) {
  plugin(older, "Older", {pmItemsToLog});
  std::vector<std::string> seen;
  struct Sets : keltk::TObject {
    std::vector<std::string>* seen;
    void Modified(TPropToMonitor property, const void* oldValue, const void* newValue) {
      seen->push_back(std::to_string(static_cast<int>(property)) + " " +
                      std::to_string(static_cast<const TLogKindSet*>(oldValue)->bits()) + " -> " +
                      std::to_string(static_cast<const TLogKindSet*>(newValue)->bits()));
    }
  } sets;
  sets.seen = &seen;
  manager->GetPlugins(0)->SetOnPropertyModified(
      TEventOnPropertyModified::bind<&Sets::Modified>(&sets));
  manager->Log()->SetItemsToLog({lkError});
  EXPECT_EQ(seen, std::vector<std::string>{"3 62 -> 4"});
}

// A set has a bit for eight members only: a ninth must not stand in for the first.
TEST(SetTest, AnOrdinalBeyondTheByteIsNoMember) {
  enum Nine : std::uint8_t { n0, n1, n2, n3, n4, n5, n6, n7, n8 };
  volatile std::uint8_t eight = n8; // a run-time value: a constant would not compile
  TSet<Nine> set{static_cast<Nine>(eight)};
  EXPECT_TRUE(set.empty());
  EXPECT_FALSE(set.include(n7).contains(static_cast<Nine>(eight)));
  EXPECT_EQ(set.exclude(static_cast<Nine>(eight)).bits(), 0x80);
}

} // namespace
} // namespace kelvarin::test
