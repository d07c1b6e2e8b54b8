// A plain Qt Widgets program as a host: its own QMainWindow and menus, the
// fixture plug-ins merging into them through QtHost.
#include "FrameworkTestSupport.h"
#include "LifecycleSupport.h"
#include "QtEnvironment.h"
#include "WaitUntil.h"

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QTest>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <functional>
#include <keltk/Application.h>
#include <keltk/Forms.h>
#include <keltk/Menus.h>
#include <keltk/QtBackend.h>
#include <kelvarin/EndingSignals.h>
#include <kelvarin/QtHost.h>
#include <memory>
#include <thread>

namespace kelvarin::test {
namespace {

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new testsupport::QtEnvironment("qthost_tests", {}, {}));

// What a menu shows, entry by entry: the objects themselves, their texts and
// keys, and the same for each drop-down.
struct Shown {
  std::vector<QAction*> actions;
  std::vector<std::string> texts;
  std::vector<Shown> below;
  bool operator==(const Shown&) const = default;
};

Shown shown(const QWidget& container) {
  Shown out;
  for (QAction* a : container.actions()) {
    out.actions.push_back(a);
    out.texts.push_back(a->text().toStdString() + "|" + a->shortcut().toString().toStdString());
    if (a->menu() != nullptr) out.below.push_back(shown(*a->menu()));
  }
  return out;
}

std::vector<std::string> captions(const QWidget& container) {
  std::vector<std::string> out;
  for (const QAction* a : container.actions())
    out.push_back(a->text().toStdString());
  return out;
}

class QtHostTest : public ::testing::Test {
protected:
  void SetUp() override {
    for (const char* title : {"&File", "&Edit", "&Help"})
      menus.push_back(window.menuBar()->addMenu(title));
    menus[0]->addAction("&New");
    menus[0]->addSeparator();
    menus[0]->addAction("E&xit")->setShortcut(QKeySequence("Ctrl+Q"));
    menus[1]->addAction("&Undo")->setShortcut(QKeySequence("Ctrl+Z"));
    about = menus[2]->addAction("&About");
    QObject::connect(about, &QAction::triggered, [this] { ++aboutChosen; });
    before = shown(*window.menuBar());
    host = std::make_unique<QtHost>(&window);
    Manager()->Log()->SetDumpOn(doNever);
    Manager()->SetPluginFolder(fixtureDir());
  }
  void TearDown() override { host.reset(); }

  TulmKelMan* Manager() const { return host->Manager(); }
  std::ptrdiff_t logged(const std::string& text) const {
    const auto all = linesAfterStamp(*Manager()->Log());
    return std::count(all.begin(), all.end(), text);
  }
  // A line the Menus plug-in logged, of kind `kind`.
  static std::string line(char kind, const std::string& text) {
    struct Lines : LifecycleTest {
      using LifecycleTest::line;
    };
    return Lines::line("Menus", kind, text);
  }
  static std::string user(const std::string& text) { return line('U', text); }
  // The entry with the text `caption`, anywhere in the window.
  QAction* entryOf(const std::string& caption) const {
    for (QAction* a : window.findChildren<QAction*>())
      if (a->text().toStdString() == caption && !a->isSeparator()) return a;
    return nullptr;
  }

  QMainWindow window;
  std::vector<QMenu*> menus;
  QAction* about = nullptr;
  int aboutChosen = 0;
  Shown before;
  std::unique_ptr<QtHost> host;
};

TEST_F(QtHostTest, EveryMergeTypePutsRealEntriesIntoTheProgramsMenusAndTakesThemAway) {
  struct Case {
    TMenuMergeType type;
    TTargetMenu target;
    std::string value;
    std::vector<std::string> bar;
    int menu; // whose entries `entries` lists (-1: none)
    std::vector<std::string> entries;
  };
  const std::vector<Case> cases = {
      {mtCreateNewItemBellow,
       tmSearchByCaption,
       "Edit",
       {"&File", "&Edit", "&Tools", "&Help"},
       -1,
       {}},
      {mtCreateNewItemAbove,
       tmSearchByCaption,
       "edit",
       {"&File", "&Tools", "&Edit", "&Help"},
       -1,
       {}},
      {mtCreateNewItemBellow,
       tmSearchByIndex,
       "%RightMostItem%",
       {"&File", "&Edit", "&Help", "&Tools"},
       -1,
       {}},
      {mtCreateChildItem,
       tmSearchByCaption,
       "File",
       {"&File", "&Edit", "&Help"},
       0,
       {"&New", "", "E&xit", "&Tools"}},
      {mtOverwriteItem, tmSearchByCaption, "Help", {"&File", "&Edit", "&Tools"}, -1, {}},
      {mtCreateChildItem,
       tmPluginsTopLevelMenu,
       "",
       {"&File", "&Edit", "&Help"},
       2,
       {"&About", "&Tools"}},
  };
  host->SetPluginsMenu(menus[2]);
  std::ptrdiff_t runs = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value + " " + std::to_string(c.type));
    TulmKel* plugin = nullptr;
    ASSERT_TRUE(Manager()->LoadPlugin("Menus", &plugin).Success);
    plugin->MenuMerging()->SetMergeType(c.type);
    plugin->MenuMerging()->SetTargetMenu(c.target);
    plugin->MenuMerging()->SetValueToSearch(c.value);
    ASSERT_TRUE(plugin->MergeMenu().Success)
        << ::testing::PrintToString(linesAfterStamp(*Manager()->Log()));
    EXPECT_EQ(captions(*window.menuBar()), c.bar);
    if (c.menu >= 0) {
      EXPECT_EQ(captions(*menus[static_cast<std::size_t>(c.menu)]), c.entries);
    }
    // Chosen through the event loop, the copy runs the plug-in's handler.
    QAction* run = entryOf("&Run");
    ASSERT_NE(run, nullptr);
    QTimer::singleShot(0, run, &QAction::trigger);
    ++runs;
    EXPECT_TRUE(testsupport::waitUntil(
        [&] { return logged(user("Run chosen in the host")) == runs; }, 5000));
    ASSERT_TRUE(Manager()->UnloadAllPlugins(false).Success);
    EXPECT_EQ(shown(*window.menuBar()), before);
  }
  // The overwritten entry came back with its connections.
  about->trigger();
  EXPECT_EQ(aboutChosen, 1);
}

// The program goes on changing its menus after the host is made: the host
// follows, and merged entries never outlive the program's menus they were in.
TEST_F(QtHostTest, TheHostFollowsMenusTheProgramChangesLater) {
  TulmKel* plugin = nullptr;
  ASSERT_TRUE(Manager()->LoadPlugin("Menus", &plugin).Success);
  auto mergeInto = [&](const std::string& caption) {
    plugin->MenuMerging()->SetMergeType(mtCreateChildItem);
    plugin->MenuMerging()->SetTargetMenu(tmSearchByCaption);
    plugin->MenuMerging()->SetValueToSearch(caption);
    return plugin->MergeMenu().Success;
  };
  menus[2]->setTitle("&Info");
  ASSERT_TRUE(mergeInto("info"));
  EXPECT_EQ(captions(*menus[2]), (std::vector<std::string>{"&About", "&Tools"}));
  QMenu* view = window.menuBar()->insertMenu(menus[2]->menuAction(), new QMenu("&View"))->menu();
  QAction* zoom = view->addAction("&Zoom");
  ASSERT_TRUE(mergeInto("View"));
  EXPECT_EQ(captions(*view), (std::vector<std::string>{"&Zoom", "&Tools"}));
  // A deleted entry, and a deleted menu that still holds merged entries.
  delete zoom;
  delete view;
  EXPECT_FALSE(mergeInto("View"));
  ASSERT_TRUE(Manager()->UnloadAllPlugins(false).Success);
  EXPECT_EQ(captions(*window.menuBar()), (std::vector<std::string>{"&File", "&Edit", "&Info"}));
  EXPECT_EQ(captions(*menus[2]), std::vector<std::string>{"&About"});
}

TEST_F(QtHostTest, APlugInThatUnloadsItselfFromItsEntryIsGoneAfterTheNextPassOfTheLoop) {
  ASSERT_TRUE(Manager()->LoadPlugin("Menus").Success);
  QTimer::singleShot(0, entryOf("&Stop"), &QAction::trigger);
  EXPECT_TRUE(testsupport::waitUntil([&] { return Manager()->PluginCount() == 0; }, 5000));
  EXPECT_EQ(logged(user("Stop: unload ok, queued: yes")), 1);
  EXPECT_EQ(shown(*window.menuBar()), before);
}

TEST_F(QtHostTest, AMergedEntryLeavesTheProgramsShortcutToItsOwnEntry) {
  TulmKel* plugin = nullptr;
  ASSERT_TRUE(Manager()->LoadPlugin("Menus", &plugin).Success);
  auto* run = keltk::ObjectAs<keltk::TMenuItem>(plugin->FindComponent("Run1"));
  ASSERT_NE(run, nullptr);
  run->SetShortCut(0x4000 | 'Q'); // Ctrl+Q, which the program's Exit has
  ASSERT_TRUE(plugin->MergeMenu().Success);
  EXPECT_EQ(logged(line('A', "Shortcut \"Ctrl+Q\" of \"Run\" stays with \"Exit\".")), 1);
  EXPECT_TRUE(entryOf("&Run\tCtrl+Q")->shortcut().isEmpty());
  EXPECT_EQ(entryOf("E&xit")->shortcut(), QKeySequence("Ctrl+Q"));
}

TEST_F(QtHostTest, AnExceptionFromAMergedEntryIsReportedAndTheProgramGoesOn) {
  MessageBoxCapture boxes;
  TulmKel* plugin = nullptr;
  ASSERT_TRUE(Manager()->LoadPlugin("Menus", &plugin).Success);
  auto* run = keltk::ObjectAs<keltk::TMenuItem>(plugin->FindComponent("Run1"));
  auto* copy = reinterpret_cast<keltk::TMenuItem*>(run->Tag());
  copy->SetOnClick(keltk::TNotifyEvent(
      plugin, [](keltk::TObject*, keltk::TObject*) { throw keltk::Exception("Run failed"); }));
  QTimer::singleShot(0, entryOf("&Run"), &QAction::trigger);
  EXPECT_TRUE(testsupport::waitUntil([&] { return !boxes.shown.empty(); }, 5000));
  EXPECT_EQ(boxes.shown, std::vector<std::string>{"Run failed"});
  QTimer::singleShot(0, entryOf("&Stop"), &QAction::trigger);
  EXPECT_TRUE(testsupport::waitUntil([&] { return Manager()->PluginCount() == 0; }, 5000));
}

TEST_F(QtHostTest, ThePlugInsSeeAHostAndClosingTheWindowUnloadsThemAll) {
  keltk::TForm* mainForm = keltk::Application()->MainForm();
  ASSERT_NE(mainForm, nullptr);
  EXPECT_NE(mainForm->Menu(), nullptr);
  // By its user, and through the main form plug-ins see (as an ending signal does).
  const std::vector<std::function<void()>> closes = {[&] { window.close(); },
                                                     [&] { mainForm->Close(); }};
  for (const auto& close : closes) {
    ASSERT_TRUE(Manager()->LoadPlugin("Menus").Success);
    window.show();
    close();
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(Manager()->PluginCount(), 0);
    EXPECT_EQ(shown(*window.menuBar()), before);
  }
}

TEST_F(QtHostTest, AHideAfterAnIgnoredCloseLeavesThePlugInsLoaded) {
  struct IgnoreClose : QObject {
    bool eventFilter(QObject*, QEvent* event) override {
      if (event->type() != QEvent::Close) return false;
      event->ignore();
      return true;
    }
  } ignore;
  // Installed before the host's filter, which therefore sees the close first.
  host.reset();
  window.installEventFilter(&ignore);
  host = std::make_unique<QtHost>(&window);
  Manager()->Log()->SetDumpOn(doNever);
  Manager()->SetPluginFolder(fixtureDir());
  ASSERT_TRUE(Manager()->LoadPlugin("Menus").Success);
  window.show();
  window.close();
  testsupport::waitUntil([] { return false; }, 20);
  window.hide();
  EXPECT_EQ(Manager()->PluginCount(), 1);
}

TEST(QtHostLifetime, TheProgramsQuitPolicyStaysAndTheBackendGoesWithTheHost) {
  for (const bool policy : {true, false}) {
    QApplication::setQuitOnLastWindowClosed(policy);
    {
      QMainWindow window;
      const QtHost host(&window);
      EXPECT_TRUE(keltk::QtBackendInstalled());
      EXPECT_EQ(QApplication::quitOnLastWindowClosed(), policy);
    }
    EXPECT_FALSE(keltk::QtBackendInstalled());
    EXPECT_EQ(keltk::Application()->MainForm(), nullptr);
    EXPECT_EQ(QApplication::quitOnLastWindowClosed(), policy);
  }
}

TEST(QtHostLifetime, AWindowDeletedOnCloseGoesBeforeTheHostWithoutHarm) {
  auto* window = new QMainWindow;
  window->setAttribute(Qt::WA_DeleteOnClose);
  window->menuBar()->addMenu("&Edit")->addAction("&Undo");
  QPointer<QMainWindow> alive(window);
  QtHost host(window);
  host.Manager()->Log()->SetDumpOn(doNever);
  host.Manager()->SetPluginFolder(fixtureDir());
  ASSERT_TRUE(host.Manager()->LoadPlugin("Menus").Success);
  window->show();
  window->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(alive.isNull());
  EXPECT_EQ(host.Manager()->PluginCount(), 0);
  ASSERT_TRUE(host.Manager()->LoadPlugin("Menus").Success);
}

// A Qt program's whole life under its own QApplication::exec(): keys choose merged
// entries, a plug-in unloads itself from its entry, a worker thread hands a call
// over to the main thread, the first ending signal
// closes the window, and the program ends because its last window closed.
// Returns what went wrong, or nothing.
std::string lifeOfAProgram() {
  QMainWindow window;
  window.menuBar()->addMenu("&Edit")->addAction("&Undo");
  QtHost host(&window);
  TulmKelMan* manager = host.Manager();
  manager->Log()->SetDumpOn(doNever);
  manager->SetPluginFolder(fixtureDir());
  HandleEndingSignals();
  TulmKel* plugin = nullptr;
  if (!manager->LoadPlugin("Menus", &plugin).Success) return "Menus did not load";
  auto copyOf = [&](const char* name) {
    auto* own = keltk::ObjectAs<keltk::TMenuItem>(plugin->FindComponent(name));
    return reinterpret_cast<keltk::TMenuItem*>(own->Tag());
  };
  copyOf("Run1")->SetShortCut(0x4000 | 'R'); // Ctrl+R
  copyOf("Stop1")->SetShortCut(0x4000 | 'T');
  auto press = [&](char key) {
    if (testsupport::underWindowManager()) {
      (void)std::system(("xdotool key ctrl+" + std::string(1, key)).c_str());
      return;
    }
    QTest::keyClick(&window, static_cast<Qt::Key>(Qt::Key_A + (key - 'a')), Qt::ControlModifier);
  };
  auto logged = [&](const std::string& text) {
    const auto all = linesAfterStamp(*manager->Log());
    return std::find(all.begin(), all.end(), text) != all.end();
  };
  struct Lines : LifecycleTest {
    using LifecycleTest::line;
  };
  const std::thread::id mainThread = std::this_thread::get_id();
  std::atomic<bool> handedOver = false;
  std::thread worker([&] {
    keltk::RunOnMainThread([&] { handedOver = std::this_thread::get_id() == mainThread; });
  });
  int stage = 0;
  QTimer poll;
  poll.callOnTimeout([&] {
    if (stage == 0 && window.isActiveWindow()) {
      press('r');
      ++stage;
    } else if (stage == 1 && logged(Lines::line("Menus", 'U', "Run chosen in the host"))) {
      press('t');
      ++stage;
    } else if (stage == 2 && manager->PluginCount() == 0 && handedOver) {
      if (!manager->LoadPlugin("Menus").Success) QCoreApplication::exit(2);
      ++stage;
      std::raise(SIGTERM);
    }
  });
  poll.start(20);
  QTimer::singleShot(20000, [] { QCoreApplication::exit(3); });
  window.show();
  window.activateWindow();
  const int code = QApplication::exec();
  worker.join();
  if (code != 0 || stage != 3)
    return "the loop ended with " + std::to_string(code) + " at stage " + std::to_string(stage);
  if (!logged(Lines::line("Menus", 'U', "Stop: unload ok, queued: yes")))
    return "Stop was not chosen";
  if (manager->PluginCount() != 0 || window.isVisible())
    return "the signal did not close the window";
  return {};
}

TEST(QtHostProgram, LivesUnderItsOwnLoopUntilItsWindowCloses) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        const std::string wrong = lifeOfAProgram();
        std::fprintf(stderr, "%s\n", wrong.c_str());
        std::exit(wrong.empty() ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

} // namespace
} // namespace kelvarin::test
