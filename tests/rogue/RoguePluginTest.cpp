// Plug-ins written the way real ones are: ordinary C++ exceptions from every
// handler and entry point, unloads requested from code the framework never sees
// (clicks delivered by the window system), handlers that load and unload during
// broadcasts, and plug-ins that keep loading while everything is unloaded. None
// of it may bring the host down or leave a module mapped.
#include "LifecycleSupport.h"
#include "PluginCallScope.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <keltk/Forms.h>
#include <keltk/QtBackend.h>
#include <keltk/StdCtrls.h>

namespace kelvarin::test {
namespace {

class RogueTest : public LifecycleTest {
protected:
  TulmKel* loadRogue(std::initializer_list<std::string> words) {
    std::vector<keltk::TVarRec> params;
    for (const std::string& w : words)
      params.push_back(keltk::VarStr(w));
    TulmKel* plugin = nullptr;
    last = manager->LoadPlugin(false, "Rogue", params, &plugin);
    return plugin;
  }
  static std::string rogue(char kind, const std::string& text) { return line("Rogue", kind, text); }
  std::size_t count(const std::string& text) const {
    const std::vector<std::string> all = lines();
    return static_cast<std::size_t>(std::count(all.begin(), all.end(), text));
  }

  TKelMethodResult last;
};

TEST_F(RogueTest, ForeignExceptionsFromHandlersAreReportedAndTheOperationGoesOn) {
  // From the initialize handler: the load fails as for any raising handler.
  std::size_t before = logged();
  EXPECT_EQ(loadRogue({"A", "throw-init"}), nullptr);
  EXPECT_EQ(last.ErrorMsg, "Error $E006:  Plugin \"Rogue.kel\" could not be initialized.");
  std::vector<std::string> log = linesFrom(before);
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(log[2], rogue('E', "EXCEPTION [ulmKELrp.bpl] ulmKELru.TulmKel.Initialize.15: "
                               "[std::runtime_error] init failed"));
  EXPECT_EQ(log[3], rogue('E', "Event OnInitialize() on plugin \"Rogue.kel\" raised an exception:  "
                               "init failed"));
  EXPECT_FALSE(isMapped(fixture("Rogue")));

  TulmKel* plugin = loadRogue({"B", "throw-finalize", "throw-before-unload", "throw-log"});
  ASSERT_NE(plugin, nullptr) << last.ErrorMsg;

  before = logged();
  EXPECT_EQ(manager->LogIt("throw now", lkUser), smrOk);
  EXPECT_EQ(linesFrom(before),
            (std::vector<std::string>{
                line("MANAGER", 'U', "throw now"),
                error("EXCEPTION [ulmKELrp.bpl] ulmKELru.TLog.LogIt.10: [std::logic_error] log "
                      "handler failed"),
                error("Event OnLogChanged() on plugin \"Rogue.kel\" raised an exception:  log "
                      "handler failed"),
            }));

  before = logged();
  const TKelMethodResult r = manager->ExecuteCommand(plugin, "Boom");
  EXPECT_FALSE(r.Success);
  log = linesFrom(before);
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[1], error("EXCEPTION [ulmKELrp.bpl] ulmKELru.TulmKelMan.ExecuteCommand.82: "
                          "[std::out_of_range] command failed"));
  EXPECT_EQ(log[2], error("Event OnCommand(\"Boom\") on plugin \"Rogue.kel\" raised an "
                          "exception:  command failed"));

  before = logged();
  EXPECT_EQ(manager->UnloadPlugin(plugin), smrOk);
  log = linesFrom(before);
  EXPECT_NE(std::find(log.begin(), log.end(),
                      error("Event OnAnyPluginBeforeUnload() on plugin \"Rogue.kel\" raised an "
                            "exception:  before unload failed")),
            log.end());
  EXPECT_NE(std::find(log.begin(), log.end(),
                      rogue('E', "Event OnFinalize() on plugin \"Rogue.kel\" raised an "
                                 "exception:  int")),
            log.end());
  EXPECT_EQ(log.back(), action("Plugin Unloaded: \"Rogue\" (\"" + fixture("Rogue") + "\")."));
  EXPECT_EQ(manager->PluginCount(), 0);
  EXPECT_FALSE(isMapped(fixture("Rogue")));
}

TEST_F(RogueTest, ForeignExceptionsFromEntryPointsFailTheLoad) {
  struct Case {
    std::string name, report, entry, message;
  };
  for (const auto& [name, report, entry, message] : {
           Case{"ForeignInfo", ".11: [std::runtime_error] no info today", "GetPluginInfo",
                "no info today"},
           Case{"ForeignRegister", ".15: [std::bad_alloc] std::bad_alloc", "RegisterKelvarin",
                "std::bad_alloc"},
       }) {
    const std::size_t before = logged();
    const TKelMethodResult r = manager->LoadPlugin(name);
    EXPECT_EQ(r, smrUnexpectedError) << name;
    const std::vector<std::string> log = linesFrom(before);
    ASSERT_EQ(log.size(), 4u) << name;
    EXPECT_EQ(log[1], error("EXCEPTION [ulmKELrp.bpl] ulmKELru.TulmKelMan.LoadPlugin" + report));
    EXPECT_EQ(log[2], error("Method " + entry + " on plugin \"" + name +
                            ".kel\" raised an exception:  " + message));
    EXPECT_EQ(log[3], action("Canceling Loading Of Plugin: \"" + fixture(name) + "\"."));
    EXPECT_FALSE(isMapped(fixture(name))) << name;
  }
}

// A host that takes a plug-in back when it sees its loaded line.
struct LoadTaker : keltk::TObject {
  TulmKelMan* manager = nullptr;
  void AfterLoad(TulmKel*) {}
  void LogChanged(keltk::TComponent*, const std::string& line) {
    if (line.find("Plugin Loaded") != std::string::npos)
      (void)manager->UnloadPlugin(false, manager->GetPluginCount() - 1);
  }
};

// The log's texts as a host's handler sees them, without their time stamps.
struct LogListener : keltk::TObject {
  std::vector<std::string> texts;
  void LogChanged(keltk::TComponent*, const std::string& line) { texts.push_back(line.substr(24)); }
};

// Success always names a live plug-in: a handler that takes the new plug-in
// away, at whatever step, makes the load fail with E00E naming that handler.
TEST_F(RogueTest, ALoadThatAHandlerTakesBackFailsNamingThatHandler) {
  LoadTaker host;
  host.manager = manager.get();
  const struct {
    std::string word;
    bool hostUnloadsWhenLoaded, idleAfterLoadHandler;
    std::string culprit;
  } cases[] = {
      {"unload-in-init", false, false, "kelRogue.OnInitialize"},
      {"unload-in-init", false, true, "kelRogue.OnInitialize"},
      {"unload-when-loaded", false, false, "kelRogue.OnLogChanged"},
      {"", true, false, "ulmKelMan1.OnLogChanged"},
  };
  for (const auto& c : cases) {
    manager->SetOnLogChanged(c.hostUnloadsWhenLoaded
                                 ? TEventOnLogChanged::bind<&LoadTaker::LogChanged>(&host)
                                 : TEventOnLogChanged());
    manager->SetOnAfterLoad(c.idleAfterLoadHandler
                                ? TEventOnAfterLoad::bind<&LoadTaker::AfterLoad>(&host)
                                : TEventOnAfterLoad());
    EXPECT_EQ(loadRogue({"A", c.word}), nullptr) << c.culprit;
    EXPECT_EQ(last.ErrorMsg,
              "Error $E00E:  Plugin has been unloaded by \"" + c.culprit + "\" event handler.");
    EXPECT_EQ(manager->PluginCount(), 0);
    EXPECT_EQ(manager->PendingUnloadCount(), 0);
    EXPECT_FALSE(isMapped(fixture("Rogue"))) << c.culprit;
  }
  manager->SetOnLogChanged({}); // the handler's object goes with this test
}

// Closing leaves nothing mapped: a queued plug-in goes with the others, and one
// whose code is running when its manager goes is freed once that code returns.
TEST_F(RogueTest, NothingStaysMappedAfterTheManagerCloses) {
  LogListener listener;
  const std::string unloaded = action("Plugin Unloaded: \"Rogue\" (\"" + fixture("Rogue") + "\").");

  manager->UnloadPluginLater(loadRogue({"A"}));
  EXPECT_EQ(manager->UnloadAllPlugins(false), smrOk);
  EXPECT_EQ(count(unloaded), 1u);
  EXPECT_EQ(manager->PendingUnloadCount(), 0);
  EXPECT_FALSE(isMapped(fixture("Rogue")));

  manager->SetOnLogChanged(TEventOnLogChanged::bind<&LogListener::LogChanged>(&listener));
  manager->UnloadPluginLater(loadRogue({"B"}));
  TulmKel* running = loadRogue({"C"});
  {
    PluginCallScope scope(running);
    manager.reset();
    EXPECT_TRUE(isMapped(fixture("Rogue"))); // C's code is still on its way back
  }
  EXPECT_EQ(std::count(listener.texts.begin(), listener.texts.end(), unloaded), 2);
  EXPECT_EQ(listener.texts.back(), action("Manager Closed Normally."));
  keltk::Application()->Idle();
  EXPECT_FALSE(isMapped(fixture("Rogue")));
}

// One property change reaches each plug-in once, newest first, even when a
// handler unloads an older plug-in on the way.
TEST_F(RogueTest, ABroadcastTellsEachPluginOnce) {
  load("Minimal"); // another module: its unload need not wait for C's code
  loadRogue({"B"});
  loadRogue({"C", "unload-elder"});
  ASSERT_EQ(manager->PluginCount(), 3);
  const std::size_t before = logged();
  manager->SetPluginFolder(dir.path());
  std::vector<std::string> seen;
  for (const std::string& text : linesFrom(before))
    if (text.find("property seen by") != std::string::npos) seen.push_back(text.substr(26));
  EXPECT_EQ(seen, (std::vector<std::string>{"property seen by C", "property seen by B"}));
  EXPECT_EQ(manager->PluginCount(), 2);
}

// Unloading everything ends with nothing loaded, also when handlers load more
// on the way; one that never stops is stopped, and the manager's end unloads the rest.
TEST_F(RogueTest, UnloadingAllOutlastsHandlersThatLoad) {
  ASSERT_NE(load("LoaderOnUnload"), nullptr);
  EXPECT_EQ(manager->UnloadAllPlugins(false), smrOk);
  EXPECT_EQ(manager->PluginCount(), 0);
  EXPECT_FALSE(isMapped(fixture("Minimal")));

  ASSERT_NE(loadRogue({"R", "load-on-unload"}), nullptr);
  EXPECT_EQ(manager->UnloadAllPlugins(false), smrOk);
  EXPECT_EQ(manager->PluginCount(), 1);
  EXPECT_EQ(count(error("Unloading Plugins gave up after 16 rounds: event handlers keep loading "
                        "plugins (1 still loaded).")),
            1u);
  EXPECT_EQ(count(action("Plugin Unloaded: \"Rogue\" (\"" + fixture("Rogue") + "\").")), 16u);

  manager->Log()->SetDumpOn(doClosingManager);
  manager.reset();
  const std::string dump = readFile(dir.file("run.kel.log"));
  EXPECT_FALSE(isMapped(fixture("Rogue"))) << dump;
  EXPECT_NE(dump.find("Error $E002:  Plugin \"Rogue.kel\" not allowed to be loaded."),
            std::string::npos);
  EXPECT_NE(dump.find("Manager Closed Normally."), std::string::npos);
}

// Only addresses are compared: a stale or foreign pointer finds nothing.
TEST_F(RogueTest, FindOwnPluginKnowsTheListAndThePluginsInHand) {
  struct Host : keltk::TObject {
    void BeforeUnload(TulmKel* plugin) { foundWhileUnloading = manager->FindOwnPlugin(plugin); }
    TulmKelMan* manager = nullptr;
    TulmKel* foundWhileUnloading = nullptr;
  } host;
  host.manager = manager.get();
  manager->SetOnBeforeUnload(TEventOnBeforeUnload::bind<&Host::BeforeUnload>(&host));
  TulmKel* plugin = load("Minimal");
  EXPECT_EQ(manager->FindOwnPlugin(plugin), plugin);
  EXPECT_EQ(manager->FindOwnPlugin(&host), nullptr);
  EXPECT_EQ(manager->FindOwnPlugin(nullptr), nullptr);
  EXPECT_EQ(manager->UnloadPlugin(plugin), smrOk);
  EXPECT_EQ(host.foundWhileUnloading, plugin);
  EXPECT_EQ(manager->FindOwnPlugin(plugin), nullptr);
}

TEST_F(RogueTest, ANameWithANulInItNamesNoFile) {
  const std::string name = fixture("Minimal") + std::string(1, '\0') + "../Rogue.kel";
  const TKelMethodResult r = manager->LoadPlugin(name);
  EXPECT_EQ(r.ErrorMsg,
            "Error $E016:  Plugin not found: \"" + fixture("Minimal") + "\\0../Rogue.kel\"");
  EXPECT_EQ(manager->PluginCount(), 0);
}

// ---- clicks that the window system delivers into a plug-in's own window

class ClickTest : public RogueTest {
protected:
  void SetUp() override {
    RogueTest::SetUp();
    keltk::InstallQtBackend(argc, argv);
  }
  void TearDown() override {
    RogueTest::TearDown();
    keltk::UninstallQtBackend();
  }
  // Runs the event loop (idle steps included) until `done` or five seconds.
  static bool runUntil(const std::function<bool()>& done) {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (done()) loop.quit();
    });
    poll.start(10);
    QElapsedTimer clock;
    clock.start();
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
  }
  static keltk::TControl* control(TulmKel* plugin, const std::string& name) {
    auto* form = keltk::ObjectAs<keltk::TForm>(plugin->FindComponent("ClickerForm"));
    return form != nullptr ? keltk::ObjectAs<keltk::TControl>(form->FindComponent(name)) : nullptr;
  }

  int argc = 1;
  char name[16] = "rogue_tests";
  char* argv[2] = {name, nullptr};
};

TEST_F(ClickTest, APluginThatUnloadsItselfFromItsOwnWindowGoesOnceTheEventIsOver) {
  const std::string path = fixture("Clicker");
  const std::vector<std::pair<std::string, std::function<void(TulmKel*)>>> roads = {
      {"button",
       [](TulmKel* p) {
         qobject_cast<QPushButton*>(keltk::PeerWidget(*control(p, "UnloadButton")))->click();
       }},
      {"close",
       [](TulmKel* p) {
         keltk::PeerWidget(*keltk::ObjectAs<keltk::TForm>(p->FindComponent("ClickerForm")))
             ->close();
       }},
  };
  for (const auto& [road, deliver] : roads) {
    TulmKel* plugin = load("Clicker");
    ASSERT_NE(plugin, nullptr);
    ASSERT_TRUE(runUntil([&] { return keltk::PeerWidget(*control(plugin, "UnloadButton")); }));
    const std::size_t before = logged();
    QTimer::singleShot(0, [&, deliver = deliver] { deliver(plugin); });
    EXPECT_TRUE(runUntil([&] { return manager->PluginCount() == 0; })) << road;
    const std::vector<std::string> log = linesFrom(before);
    ASSERT_GE(log.size(), 3u) << road;
    EXPECT_EQ(log[0], action("Plugin Unload Queued: \"Clicker\" (\"" + path + "\")."));
    EXPECT_EQ(log[1], line("Clicker", 'U', road + ": unload ok, queued: yes"));
    EXPECT_EQ(log[2], action("Unloading Plugin: \"Clicker\" (\"" + path + "\")..."));
    // Calls the module may have queued are delivered first.
    EXPECT_TRUE(runUntil([&] { return !isMapped(path); })) << road;
  }
}

TEST_F(ClickTest, AnExceptionFromAPluginsClickHandlerIsReportedAndTheHostGoesOn) {
  TulmKel* plugin = load("Clicker");
  ASSERT_NE(plugin, nullptr);
  ASSERT_TRUE(runUntil([&] { return keltk::PeerWidget(*control(plugin, "ThrowButton")); }));
  QTimer::singleShot(0, [&] {
    qobject_cast<QPushButton*>(keltk::PeerWidget(*control(plugin, "ThrowButton")))->click();
  });
  EXPECT_TRUE(runUntil([&] { return !boxes.shown.empty(); }));
  EXPECT_EQ(boxes.shown, std::vector<std::string>{"clicked into a wall"});
  EXPECT_EQ(manager->UnloadPlugin(plugin), smrOk);
  EXPECT_TRUE(runUntil([&] { return !isMapped(fixture("Clicker")); }));
}

} // namespace
} // namespace kelvarin::test
