// The manager component: initial state, guards, streaming, unloading and the idle hook.
#include "FrameworkTestSupport.h"

#include <gtest/gtest.h>
#include <keltk/Menus.h>
#include <keltk/Reader.h>
#include <keltk/Writer.h>

namespace kelvarin::test {
namespace {

// Records handler calls in one shared list.
struct Recorder : keltk::TObject {
  std::vector<std::string> calls;
  bool raise = false;
  keltk::TApplication* idleFrom = nullptr;

  void Idle(keltk::TObject*, bool& Done) {
    calls.push_back(std::string("idle:") + (Done ? "true" : "false"));
    Done = false;
  }
  void BeforeUnload(TulmKel* plugin) {
    calls.push_back("before:" + plugin->DeepName());
    if (raise) throw keltk::Exception("no way");
  }
  void AfterUnload(TulmKel*, const std::string& fileName) { calls.push_back("after:" + fileName); }
  TKelMethodResult Finalize() {
    calls.push_back("finalize");
    throw keltk::Exception("finalize failed");
  }
};

class ManagerTest : public ::testing::Test {
protected:
  void SetUp() override {
    manager = makeManager(dir);
    manager->Log()->SetDumpOn(doNever);
  }
  std::vector<std::string> lines() { return linesAfterStamp(*manager->Log()); }
  std::string lastLine() { return lines().back(); }
  // A second manager; both hook the application's idle event, this one first.
  keltk::ObjectPtr<TulmKelMan> hookTwoManagers() {
    keltk::Application()->SetOnIdle({});
    auto other = makeManager(dir, "other.log");
    other->Log()->SetDumpOn(doNever);
    manager->HookApplicationIdle();
    other->HookApplicationIdle();
    return other;
  }

  TempDir dir;
  Recorder recorder, second;
  MessageBoxCapture boxes;
  keltk::ObjectPtr<TulmKelMan> manager;
};

TEST_F(ManagerTest, NewManager) {
  EXPECT_EQ(manager->GetPluginCount(), 0);
  EXPECT_EQ(manager->About(), "Ulmara Kelvarin v1.0.01.428");
  EXPECT_EQ(manager->PluginExtension(), "kel");
  EXPECT_EQ(manager->PluginFolder(), "");
  EXPECT_TRUE(manager->LoadOptions().empty());
  EXPECT_TRUE(manager->PropsToMonitor().empty());
  EXPECT_EQ(manager->PluginsTopLevelMenu(), nullptr);
  EXPECT_EQ(manager->Log()->Manager(), manager.get());
  EXPECT_EQ(manager->ToolkitModuleHandle(), nullptr);
  EXPECT_FALSE(manager->UsesToolkitModule()); // this program carries the toolkit inside
  EXPECT_FALSE(manager->OwnIdleHandler().sameCode(keltk::Application()->OnIdle()));
  EXPECT_EQ(lines(), std::vector<std::string>{"  MANAGER              A  Manager Ready."});
  manager->SetAbout("Something else");
  EXPECT_EQ(manager->About(), "Ulmara Kelvarin v1.0.01.428");
}

TEST_F(ManagerTest, GetPluginsNeverFailsForBadIndexes) {
  EXPECT_EQ(manager->GetPlugins(0), nullptr);
  EXPECT_EQ(manager->GetPlugins(-1), nullptr);
  TulmKel* a = addPlugin(*manager, "A", "/p/a.kel");
  EXPECT_EQ(manager->GetPlugins(0), a);
  EXPECT_EQ(manager->Plugins(0), a);
  EXPECT_EQ(manager->GetPlugins(1), nullptr);
  EXPECT_EQ(manager->GetPlugins(-1), nullptr);
  EXPECT_EQ(manager->PluginCount(), 1);
}

TEST_F(ManagerTest, GuardsFillTheCallersResultAndLog) {
  const TErrorClass unload = &EulmKelUnloadError::StaticClass();
  TKelMethodResult r = smrUnexpectedError;
  EXPECT_FALSE(manager->CheckIf_NoPluginsLoaded(r, unload));
  EXPECT_EQ(r.ErrorCode, 0xE01A);
  EXPECT_EQ(r.ErrorClass, unload);
  EXPECT_EQ(r.ErrorMsg, "Error $E01A:  No plugins loaded yet.");
  EXPECT_EQ(lastLine(), "  MANAGER              E  Error $E01A:  No plugins loaded yet.");

  TKelMethodResult ok = smrOk;
  EXPECT_FALSE(manager->CheckIf_InvalidPluginIndex(ok, unload, 0));
  EXPECT_TRUE(ok.Success); // a guard never touches Success
  EXPECT_EQ(ok.ErrorMsg, "Error $E01D:  Invalid plugin index: 0.");

  addPlugin(*manager, "A", "/p/a.kel");
  const std::size_t logged = manager->Log()->Entries().Count();
  TKelMethodResult untouched = smrUnexpectedError;
  EXPECT_TRUE(manager->CheckIf_NoPluginsLoaded(untouched, unload));
  EXPECT_TRUE(manager->CheckIf_InvalidPluginIndex(untouched, unload, 0));
  EXPECT_EQ(untouched, smrUnexpectedError);
  EXPECT_EQ(manager->Log()->Entries().Count(), logged); // passing checks log nothing

  r = smrUnexpectedError;
  EXPECT_FALSE(manager->CheckIf_InvalidPluginIndex(r, unload, 1));
  EXPECT_EQ(r.ErrorMsg, "Error $E01D:  Invalid plugin index: 1.");
  EXPECT_FALSE(manager->CheckIf_InvalidPluginIndex(r, unload, -1));
  EXPECT_EQ(r.ErrorMsg, "Error $E01D:  Invalid plugin index: -1.");
}

TEST_F(ManagerTest, PluginGuards) {
  const TErrorClass finalization = &EulmKelFinalizationError::StaticClass();
  auto* fresh = keltk::CreateObject<TulmKel>(nullptr);
  FrameworkAccess::handOver(*fresh, *manager, nullptr, "/some/folder/Fresh.kel", 0);
  TKelMethodResult r = smrUnexpectedError;
  EXPECT_FALSE(manager->CheckIf_PluginNotInitializedYet(r, finalization, fresh));
  EXPECT_EQ(r.ErrorMsg, "Error $E008:  Plugin \"Fresh.kel\" not initialized yet.");
  EXPECT_EQ(r.ErrorClass, finalization);
  EXPECT_FALSE(manager->CheckIf_PluginNotInitializedYet(r, finalization, nullptr));
  EXPECT_EQ(r.ErrorCode, 0xE008);
  EXPECT_EQ(fresh->Initialize({}), smrOk);
  TKelMethodResult untouched = smrUnexpectedError;
  EXPECT_TRUE(manager->CheckIf_PluginNotInitializedYet(untouched, finalization, fresh));

  TulmKel* plugin = fresh;
  EXPECT_TRUE(manager->CheckIf_PluginCouldNotBeAccessed(untouched, finalization, -1, plugin));
  EXPECT_EQ(plugin, fresh); // index -1 checks the given object without the list
  EXPECT_EQ(untouched, smrUnexpectedError);
  plugin = fresh;
  EXPECT_FALSE(manager->CheckIf_PluginCouldNotBeAccessed(r, finalization, 5, plugin));
  EXPECT_EQ(plugin, nullptr);
  EXPECT_EQ(r.ErrorMsg, "Error $E01F:  Plugin object (index 5) could not be accessed.");
  plugin = nullptr;
  EXPECT_FALSE(manager->CheckIf_PluginCouldNotBeAccessed(r, finalization, -1, plugin));
  EXPECT_EQ(r.ErrorMsg, "Error $E01F:  Plugin object (index -1) could not be accessed.");
  keltk::FreeObject(fresh);
}

TEST_F(ManagerTest, UnloadAllUnloadsNewestFirst) {
  addPlugin(*manager, "A", "/p/a.kel");
  addPlugin(*manager, "B", "/p/b.kel");
  addPlugin(*manager, "C", "/p/c.kel");
  EXPECT_TRUE(manager->UnloadAllPlugins(false).Success);
  EXPECT_EQ(manager->GetPluginCount(), 0);
  EXPECT_EQ(lines(), (std::vector<std::string>{
                         "  MANAGER              A  Manager Ready.",
                         "  MANAGER              A  Unloading Plugins...",
                         "  MANAGER              A  Unloading Plugin: \"C\" (\"/p/c.kel\")...",
                         "  MANAGER              A  Plugin Unloaded: \"C\" (\"/p/c.kel\").",
                         "  MANAGER              A  Unloading Plugin: \"B\" (\"/p/b.kel\")...",
                         "  MANAGER              A  Plugin Unloaded: \"B\" (\"/p/b.kel\").",
                         "  MANAGER              A  Unloading Plugin: \"A\" (\"/p/a.kel\")...",
                         "  MANAGER              A  Plugin Unloaded: \"A\" (\"/p/a.kel\").",
                     }));
}

TEST_F(ManagerTest, UnloadAllWithNothingLoaded) {
  TKelMethodResult r = manager->UnloadAllPlugins(true);
  EXPECT_EQ(r.ErrorCode, 0xE01A);
  EXPECT_STREQ(r.ErrorClass->name, "EulmKelUnloadError");
  EXPECT_EQ(lastLine(), "  MANAGER              E  Error $E01A:  No plugins loaded yet.");
  EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(ManagerTest, UnloadByBadIndexShowsTheMessage) {
  addPlugin(*manager, "A", "/p/a.kel");
  addPlugin(*manager, "B", "/p/b.kel");
  TKelMethodResult r = manager->UnloadPlugin(true, 5);
  EXPECT_FALSE(r.Success);
  EXPECT_EQ(r.ErrorMsg, "Error $E01D:  Invalid plugin index: 5.");
  EXPECT_EQ(boxes.shown, std::vector<std::string>{r.ErrorMsg});
  EXPECT_EQ(manager->GetPluginCount(), 2);
}

TEST_F(ManagerTest, UnloadRecountsInstancesAndTellsEveryone) {
  TulmKel* a = addPlugin(*manager, "Same", "/p/one.kel");
  TulmKel* b = addPlugin(*manager, "Same", "/p/two.kel");
  TulmKel* c = addPlugin(*manager, "Same", "/p/three.kel");
  for (TulmKel* p : {a, b, c})
    FrameworkAccess::setInstanceCount(*p, 3);
  manager->SetOnBeforeUnload(TEventOnBeforeUnload::bind<&Recorder::BeforeUnload>(&recorder));
  manager->SetOnAfterUnload(TEventOnAfterUnload::bind<&Recorder::AfterUnload>(&recorder));
  b->SetOnAnyPluginBeforeUnload(
      TEventOnAnyPluginBeforeUnload::bind<&Recorder::BeforeUnload>(&second));
  b->SetOnAnyPluginAfterUnload(TEventOnAnyPluginAfterUnload::bind<&Recorder::AfterUnload>(&second));
  a->SetOnAnyPluginAfterUnload(TEventOnAnyPluginAfterUnload::bind<&Recorder::AfterUnload>(&second));
  recorder.raise = true; // the host's before-unload handler fails; the unload goes on

  EXPECT_TRUE(manager->UnloadPlugin(false, 1).Success);
  EXPECT_EQ(manager->GetPluginCount(), 2);
  EXPECT_EQ(a->InstanceCount(), 2);
  EXPECT_EQ(c->InstanceCount(), 2);
  EXPECT_EQ(recorder.calls, (std::vector<std::string>{"before:Same", "after:/p/two.kel"}));
  // Its own before-unload handler runs; its after-unload handler is gone with it.
  EXPECT_EQ(second.calls, (std::vector<std::string>{"before:Same", "after:/p/two.kel"}));
  const std::vector<std::string> log = lines();
  EXPECT_NE(std::find(log.begin(), log.end(),
                      "  MANAGER              E  Event OnBeforeUnload() on host raised an "
                      "exception:  no way"),
            log.end());
}

TEST_F(ManagerTest, RaisingFinalizeHandlerStillUnloads) {
  TulmKel* a = addPlugin(*manager, "A", "/p/a.kel");
  a->SetOnFinalize(TEventOnFinalize::bind<&Recorder::Finalize>(&recorder));
  EXPECT_TRUE(manager->UnloadPlugin(a).Success);
  EXPECT_EQ(manager->GetPluginCount(), 0);
  EXPECT_EQ(recorder.calls, std::vector<std::string>{"finalize"});
  const std::vector<std::string> log = lines();
  EXPECT_EQ(log[2], "  A                    E  Event OnFinalize() on plugin \"a.kel\" raised an "
                    "exception:  finalize failed");
  for (const std::string& line : log)
    EXPECT_EQ(line.find("returned an error"), std::string::npos);
}

TEST_F(ManagerTest, UnloadingAnObjectThatIsNotLoaded) {
  addPlugin(*manager, "A", "/p/a.kel");
  auto* stranger = keltk::CreateObject<TulmKel>(nullptr);
  const std::size_t logged = manager->Log()->Entries().Count();
  EXPECT_EQ(manager->UnloadPlugin(true, stranger), smrUnexpectedError);
  EXPECT_EQ(manager->Log()->Entries().Count(), logged);
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_EQ(manager->UnloadPlugin(nullptr).ErrorMsg,
            "Error $E01F:  Plugin object (index -1) could not be accessed.");
  keltk::FreeObject(stranger);
}

TEST_F(ManagerTest, DestroyingUnloadsBeforeTheClosingLine) {
  manager->Log()->SetDumpOn(doClosingManager);
  addPlugin(*manager, "A", "/p/a.kel");
  addPlugin(*manager, "B", "/p/b.kel");
  manager.reset();
  std::vector<std::string> file = crlfLines(readFile(dir.file("run.kel.log")));
  std::vector<std::string> bodies;
  for (std::size_t i = 7; i < 14; ++i)
    bodies.push_back(file[i].substr(50));
  EXPECT_EQ(bodies, (std::vector<std::string>{"Manager Ready.", "Unloading Plugins...",
                                              "Unloading Plugin: \"B\" (\"/p/b.kel\")...",
                                              "Plugin Unloaded: \"B\" (\"/p/b.kel\").",
                                              "Unloading Plugin: \"A\" (\"/p/a.kel\")...",
                                              "Plugin Unloaded: \"A\" (\"/p/a.kel\").",
                                              "Manager Closed Normally."}));
}

TEST_F(ManagerTest, IdleDrainsTheQueueThenChains) {
  keltk::TApplication* app = keltk::Application();
  const keltk::TIdleEvent before = app->OnIdle();
  app->SetOnIdle(keltk::TIdleEvent::bind<&Recorder::Idle>(&second));
  TulmKel* a = addPlugin(*manager, "A", "/p/a.kel");
  TulmKel* b = addPlugin(*manager, "B", "/p/b.kel");
  addPlugin(*manager, "C", "/p/c.kel");
  manager->HookApplicationIdle();
  EXPECT_EQ(app->OnIdle(), manager->OwnIdleHandler());
  EXPECT_TRUE(manager->SavedOnIdle().sameCode(keltk::TIdleEvent::bind<&Recorder::Idle>(&second)));

  manager->UnloadPluginLater(a);
  manager->UnloadPluginLater(b);
  EXPECT_FALSE(app->Idle()); // the previous handler saw Done True and cleared it
  EXPECT_EQ(second.calls, std::vector<std::string>{"idle:true"});
  EXPECT_EQ(manager->GetPluginCount(), 1);
  EXPECT_EQ(manager->PendingUnloadCount(), 0);
  std::vector<std::string> log = lines();
  EXPECT_EQ(log[1], "  MANAGER              A  Unloading Plugin: \"B\" (\"/p/b.kel\")...");
  EXPECT_EQ(log[3], "  MANAGER              A  Unloading Plugin: \"A\" (\"/p/a.kel\")...");
  EXPECT_TRUE(boxes.shown.empty());

  // Gone managers are never reached through the idle event.
  manager.reset();
  EXPECT_TRUE(app->OnIdle().sameCode(keltk::TIdleEvent::bind<&Recorder::Idle>(&second)));
  EXPECT_EQ(app->OnIdle().data(), &second);
  app->SetOnIdle(before);
}

TEST_F(ManagerTest, OnlyTheFirstManagerHooksIdle) {
  keltk::TApplication* app = keltk::Application();
  const keltk::TIdleEvent before = app->OnIdle();
  auto other = hookTwoManagers();
  EXPECT_EQ(app->OnIdle(), manager->OwnIdleHandler());
  other.reset(); // not its hook: left alone
  EXPECT_EQ(app->OnIdle(), manager->OwnIdleHandler());
  // A handler installed over the manager's is not undone either.
  app->SetOnIdle(keltk::TIdleEvent::bind<&Recorder::Idle>(&second));
  manager.reset();
  EXPECT_EQ(app->OnIdle().data(), &second);
  app->SetOnIdle(before);
}

// Every manager's queue is drained at idle time, whichever installed the hook,
// and a host handler that chained to the hook reaches nothing freed.
TEST_F(ManagerTest, IdleServesEveryManagerAndOutlivesThem) {
  keltk::TApplication* app = keltk::Application();
  const keltk::TIdleEvent before = app->OnIdle();
  auto other = hookTwoManagers();
  // The host chains its own handler to the one it found.
  struct Chainer : keltk::TObject {
    void Idle(keltk::TObject* sender, bool& done) {
      ++calls;
      if (saved) saved(sender, done);
    }
    keltk::TIdleEvent saved;
    int calls = 0;
  } host;
  host.saved = app->OnIdle();
  app->SetOnIdle(keltk::TIdleEvent::bind<&Chainer::Idle>(&host));

  other->UnloadPluginLater(addPlugin(*other, "B", "/p/b.kel"));
  app->Idle();
  EXPECT_EQ(other->GetPluginCount(), 0);

  manager.reset(); // the one that installed the hook
  other->UnloadPluginLater(addPlugin(*other, "C", "/p/c.kel"));
  app->Idle();
  EXPECT_EQ(other->GetPluginCount(), 0);
  other.reset();
  app->Idle(); // into the hook of managers that are all gone: nothing happens
  EXPECT_EQ(host.calls, 3);
  app->SetOnIdle(before);
}

TEST_F(ManagerTest, IsStreamedFromStoredFormData) {
  ASSERT_NE(keltk::FindClass("TulmKelMan"), nullptr);
  const std::string text = "object ulmKelMan1: TulmKelMan\n"
                           "  About = 'Stored About'\n"
                           "  LoadOptions = [loBreakLoopOnError]\n"
                           "  Log.DumpFile = 'stored.log'\n"
                           "  Log.DumpOn = doNever\n"
                           "  Log.DumpStats = False\n"
                           "  Log.ItemsToLog = [lkTotal, lkError]\n"
                           "  PluginExtension = 'dll'\n"
                           "  PropsToMonitor = [pmItemsToLog, pmPluginFolder]\n"
                           "end\n";
  keltk::ObjectPtr<keltk::TComponent> read(keltk::CreateComponentFromText(text, nullptr));
  auto* stored = keltk::ObjectAs<TulmKelMan>(read.get());
  ASSERT_NE(stored, nullptr);
  EXPECT_EQ(stored->Name(), "ulmKelMan1");
  EXPECT_EQ(stored->About(), "Ulmara Kelvarin v1.0.01.428");
  EXPECT_EQ(stored->LoadOptions(), TLoadOptionsSet{loBreakLoopOnError});
  EXPECT_EQ(stored->Log()->DumpFile(), "stored.log");
  EXPECT_EQ(stored->Log()->DumpOn(), doNever);
  EXPECT_FALSE(stored->Log()->DumpStats());
  EXPECT_EQ(stored->Log()->ItemsToLog(), TLogKindSet{lkError});
  EXPECT_EQ(stored->PluginExtension(), "dll");
  EXPECT_EQ(stored->PropsToMonitor(), (TPropsToMonitorSet{pmItemsToLog, pmPluginFolder}));
}

TEST_F(ManagerTest, WritesItsPublishedProperties) {
  manager->SetName("ulmKelMan1");
  manager->Log()->SetDumpFile("x.log");
  const std::string text = keltk::WriteComponentToText(manager.get());
  EXPECT_NE(text.find("About = 'Ulmara Kelvarin v1.0.01.428'"), std::string::npos) << text;
  EXPECT_NE(text.find("LoadOptions = []"), std::string::npos) << text;
  EXPECT_NE(text.find("Log.DumpFile = 'x.log'"), std::string::npos) << text;
  EXPECT_NE(text.find("Log.DumpOn = doNever"), std::string::npos) << text;
  EXPECT_EQ(text.find("Log.DumpStats"), std::string::npos) << text; // the default
  EXPECT_EQ(text.find("Log.ItemsToLog"), std::string::npos) << text;
  EXPECT_NE(text.find("PluginExtension = 'kel'"), std::string::npos) << text;
  EXPECT_NE(text.find("PropsToMonitor = []"), std::string::npos) << text;
}

TEST_F(ManagerTest, BadStoredDataIsReportedAndPassedOn) {
  const std::string text = "object ulmKelMan1: TulmKelMan\n  NoSuchProperty = 1\nend\n";
  EXPECT_THROW(keltk::ReadComponentFromText(text, manager.get()), keltk::EReadError);
  const std::string last = lastLine();
  EXPECT_EQ(last.rfind("  MANAGER              E  EXCEPTION [ulmKELrp.bpl] "
                       "ulmKELru.TulmKelMan.ReadState.1: [EReadError] ",
                       0),
            0u)
      << last;
}

TEST_F(ManagerTest, ForgetsAFreedTopLevelMenu) {
  auto* menu = keltk::CreateObject<keltk::TMenuItem>(nullptr);
  manager->SetPluginsTopLevelMenu(menu);
  EXPECT_EQ(manager->PluginsTopLevelMenu(), menu);
  keltk::FreeObject(menu);
  EXPECT_EQ(manager->PluginsTopLevelMenu(), nullptr);
}

} // namespace
} // namespace kelvarin::test
