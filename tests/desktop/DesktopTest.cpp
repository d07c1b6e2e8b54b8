// A host as a desktop user meets it: a shown main form whose menu bar plug-ins
// merge into, the splash on the screen, message boxes and the window manager.
// Offscreen only the menu bar can be checked; the rest needs an X server (and a
// window manager), and skips without one.
#include "LifecycleSupport.h"
#include "QtEnvironment.h"
#include "WaitUntil.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <cstdio>
#include <cstdlib>
#include <fmt/format.h>
#include <fstream>
#include <functional>
#include <keltk/Forms.h>
#include <keltk/Menus.h>
#include <keltk/QtBackend.h>
#include <map>
#include <optional>

namespace kelvarin::test {
namespace {

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new testsupport::QtEnvironment(
        "desktop_tests",
        [] {
          int argc = 0;
          keltk::InstallQtBackend(argc, nullptr);
        },
        [] { keltk::UninstallQtBackend(); }));

using testsupport::onX11;
using testsupport::underWindowManager;

// Runs the event loop (idle steps included) until `done` holds or `ms` pass.
bool waitUntil(const std::function<bool()>& done, int ms = 5000) {
  return testsupport::waitUntil(done, ms);
}

void settle(int ms) {
  (void)waitUntil([] { return false; }, ms);
}

std::vector<std::string> texts(const QWidget* w) {
  std::vector<std::string> out;
  for (const QAction* a : w->actions())
    out.push_back(a->text().toStdString());
  return out;
}

// What the X server shows at a point of the screen.
QColor onScreen(int x, int y) {
  return QGuiApplication::primaryScreen()->grabWindow(0, x, y, 1, 1).toImage().pixelColor(0, 0);
}

std::string rgb(const QColor& c) {
  return fmt::format("({},{},{})", c.red(), c.green(), c.blue());
}

// The X windows from bottom to top, as the window manager stacks them.
std::vector<WId> stacking() {
  std::vector<WId> ids;
  const std::string text =
      testsupport::runCommand("xprop -root -notype _NET_CLIENT_LIST_STACKING").output;
  for (std::size_t at = text.find("0x"); at != std::string::npos; at = text.find("0x", at + 2))
    ids.push_back(static_cast<WId>(std::stoul(text.substr(at), nullptr, 16)));
  return ids;
}

class DesktopHost : public LifecycleTest {
protected:
  void SetUp() override {
    LifecycleTest::SetUp();
    previousMainForm = keltk::Application()->MainForm();
    form.reset(keltk::CreateObject<keltk::TForm>(nullptr, keltk::CreateNew));
    form->SetCaption("Desktop Host");
    form->SetColor(keltk::clWhite);
    form->SetBounds(200, 200, 880, 624); // over the middle of the screen, below the splash
    auto* menu = keltk::CreateObject<keltk::TMainMenu>(form.get());
    form->SetMenu(menu);
    for (const char* caption : {"&File", "&Edit", "&Help"}) {
      auto* item = keltk::CreateObject<keltk::TMenuItem>(form.get());
      item->SetCaption(caption);
      menu->Items()->Add(item);
    }
    keltk::Application()->SetMainForm(form.get());
    form->Show();
    window = keltk::PeerWidget(*form);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(waitUntil([this] { return window->windowHandle()->isExposed(); }));
  }
  void TearDown() override {
    manager.reset();
    form.reset();
    keltk::Application()->SetMainForm(previousMainForm);
    LifecycleTest::TearDown();
  }

  QMenuBar* bar() const { return window->findChild<QMenuBar*>(); }
  bool logged(const std::string& text) const {
    const auto all = lines();
    return std::find(all.begin(), all.end(), text) != all.end();
  }
  // The plug-in's own item and the copy of it on the host's menu bar.
  static keltk::TMenuItem* copyOf(TulmKel* plugin, const std::string& name) {
    auto* own = keltk::ObjectAs<keltk::TMenuItem>(plugin->FindComponent(name));
    return own != nullptr ? reinterpret_cast<keltk::TMenuItem*>(own->Tag()) : nullptr;
  }

  keltk::TForm* previousMainForm = nullptr;
  keltk::ObjectPtr<keltk::TForm> form;
  QWidget* window = nullptr;
};

TEST_F(DesktopHost, AMergedMenuIsOnTheBarAndItsEntriesRunThePlugIn) {
  TulmKel* plugin = load("Menus");
  ASSERT_NE(plugin, nullptr);
  EXPECT_EQ(texts(bar()), (std::vector<std::string>{"&File", "&Edit", "&Tools", "&Help"}));
  QMenu* tools = bar()->actions().at(2)->menu();
  ASSERT_NE(tools, nullptr);
  EXPECT_EQ(texts(tools), (std::vector<std::string>{"&Run", "&Stop"}));

  // The plug-in changes its entry later on: the bar follows.
  keltk::TMenuItem* run = copyOf(plugin, "Run1");
  ASSERT_NE(run, nullptr);
  run->SetEnabled(false);
  run->SetCaption("&Run Now");
  EXPECT_FALSE(tools->actions().at(0)->isEnabled());
  EXPECT_EQ(tools->actions().at(0)->text().toStdString(), "&Run Now");
  run->SetEnabled(true);

  // Chosen as a user chooses: from the event loop. Stop unloads its own plug-in,
  // which waits until the handler is done.
  QTimer::singleShot(0, tools->actions().at(0), &QAction::trigger);
  EXPECT_TRUE(waitUntil([&] { return logged(line("Menus", 'U', "Run chosen in the host")); }));
  QTimer::singleShot(0, tools->actions().at(1), &QAction::trigger);
  EXPECT_TRUE(waitUntil([&] { return manager->PluginCount() == 0; }));
  EXPECT_TRUE(logged(line("Menus", 'U', "Stop: unload ok, queued: yes")));
  EXPECT_EQ(texts(bar()), (std::vector<std::string>{"&File", "&Edit", "&Help"}));
  // Released at an idle step once no thread holds its code: a thread that is slow
  // to answer (a loaded machine, a sanitizer build) holds it a little longer.
  EXPECT_TRUE(waitUntil([] { return !isMapped(fixture("Menus")); }));
}

TEST_F(DesktopHost, KeysChooseMergedEntries) {
  if (!underWindowManager()) GTEST_SKIP() << "needs an X server with a window manager";
  TulmKel* plugin = load("Menus");
  ASSERT_NE(plugin, nullptr);
  copyOf(plugin, "Run1")->SetShortCut(0x4000 | 'R'); // Ctrl+R
  window->activateWindow();
  ASSERT_TRUE(waitUntil([&] { return window->isActiveWindow(); }));

  ASSERT_EQ(std::system("xdotool key ctrl+r"), 0);
  EXPECT_TRUE(waitUntil([&] { return logged(line("Menus", 'U', "Run chosen in the host")); }));
  // Alt+T opens Tools by its mnemonic, S chooses Stop.
  ASSERT_EQ(std::system("xdotool key alt+t"), 0);
  QMenu* tools = bar()->actions().at(2)->menu();
  ASSERT_TRUE(waitUntil([&] { return tools->isVisible(); }));
  ASSERT_EQ(std::system("xdotool key s"), 0);
  EXPECT_TRUE(waitUntil([&] { return manager->PluginCount() == 0; }));
  EXPECT_EQ(texts(bar()), (std::vector<std::string>{"&File", "&Edit", "&Help"}));
}

// Two entries with one key: Qt would take it from both. The host's own File > Exit
// had it first and keeps it while the plug-in's Run, given the key too, is merged;
// Run takes it once Exit is gone. Keys are pressed through Qt's shortcut map.
TEST_F(DesktopHost, AKeyStaysWithTheEntryThatHadItFirst) {
  constexpr keltk::TShortCut ctrlQ = 0x4000 | 'Q';
  static int exits = 0;
  exits = 0;
  auto* exit = keltk::CreateObject<keltk::TMenuItem>(form.get());
  exit->SetCaption("E&xit");
  exit->SetShortCut(ctrlQ);
  exit->SetOnClick(
      keltk::TNotifyEvent(form.get(), [](keltk::TObject*, keltk::TObject*) { ++exits; }));
  form->Menu()->Items()->Items(0)->Add(exit);
  TulmKel* plugin = load("Menus");
  ASSERT_NE(plugin, nullptr);
  keltk::ObjectAs<keltk::TMenuItem>(plugin->FindComponent("Run1"))->SetShortCut(ctrlQ);
  ASSERT_EQ(plugin->MergeMenu(), smrOk);
  EXPECT_EQ(lines().back(),
            line("Menus", 'A', "Shortcut \"Ctrl+Q\" of \"Run\" stays with \"Exit\"."));
  QAction* run = bar()->actions().at(2)->menu()->actions().at(0);
  EXPECT_EQ(run->text().toStdString(), "&Run\tCtrl+Q");
  EXPECT_TRUE(run->shortcut().isEmpty());

  window->activateWindow();
  ASSERT_TRUE(waitUntil([&] { return window->isActiveWindow(); }));
  const std::string runChosen = line("Menus", 'U', "Run chosen in the host");
  QTest::keyClick(window, Qt::Key_Q, Qt::ControlModifier);
  EXPECT_TRUE(waitUntil([&] { return exits == 1; }));
  EXPECT_FALSE(logged(runChosen));

  keltk::FreeObject(exit);
  EXPECT_EQ(run->text().toStdString(), "&Run");
  QTest::keyClick(window, Qt::Key_Q, Qt::ControlModifier);
  EXPECT_TRUE(waitUntil([&] { return logged(runChosen); }));
  EXPECT_EQ(exits, 1);
}

// The Notes example: its merged entry opens its window, what the user types is
// kept as a draft by its timer, and the window goes with the plug-in. Where the
// draft cannot be written the user is told, and the text still ends up on disk.
class DesktopNotes : public DesktopHost {
protected:
  // The draft folder and the temporary folder are the test's own while it runs.
  void TearDown() override {
    for (const auto& [name, value] : saved)
      value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
    DesktopHost::TearDown();
  }
  void set(const char* name, const std::string& value) {
    if (saved.count(name) == 0) {
      const char* was = std::getenv(name);
      saved[name] = was != nullptr ? std::optional<std::string>(was) : std::nullopt;
    }
    ::setenv(name, value.c_str(), 1);
  }
  std::map<const char*, std::optional<std::string>> saved;
};

TEST_F(DesktopNotes, KeepsTheUsersTextAndItsWindowGoesWithIt) {
  struct Case {
    bool writable;
    const char* logged; // the error line of the draft folder, "" for none
  };
  for (const Case& c : {Case{true, ""}, Case{false, "Draft not saved: cannot create"}}) {
    SCOPED_TRACE(c.writable);
    const std::string data = dir.file(c.writable ? "data" : "file");
    if (!c.writable) std::ofstream(data) << "a file where the folder should be";
    set("XDG_DATA_HOME", data);
    set("TMPDIR", dir.path()); // where an unwritable folder's draft goes
    auto* plugins = keltk::CreateObject<keltk::TMenuItem>(form.get());
    plugins->SetCaption("&Plugins");
    form->Menu()->Items()->Add(plugins);
    manager->SetPluginsTopLevelMenu(plugins);
    manager->SetPluginFolder(std::filesystem::path(KELVARIN_NOTES).parent_path().string());
    TulmKel* notes = load("Notes");
    ASSERT_NE(notes, nullptr);
    ASSERT_EQ(plugins->Count(), 1);
    EXPECT_EQ(plugins->Items(0)->Caption(), "&Notes");

    plugins->Items(0)->Click();
    QPointer<QWidget> window;
    for (QWidget* top : QApplication::topLevelWidgets())
      if (top->isVisible() && top->windowTitle() == "Notes") window = top;
    ASSERT_FALSE(window.isNull());
    auto* memo = window->findChild<QPlainTextEdit*>();
    ASSERT_NE(memo, nullptr);
    QTest::keyClicks(memo, "milk, eggs");
    const std::string draft = data + "/kelvarin-notes/draft.txt";
    const auto has = [](const std::string& file, const std::string& text) {
      return readFile(file) == text;
    };
    if (c.writable) {
      EXPECT_TRUE(waitUntil([&] { return has(draft, "milk, eggs"); }));
    } else {
      EXPECT_TRUE(waitUntil([&] {
        const auto all = lines();
        return std::any_of(all.begin(), all.end(), [&](const std::string& l) {
          return l.find(line("Notes", 'E', c.logged)) == 0;
        });
      }));
    }

    EXPECT_TRUE(manager->UnloadPlugin(notes).Success);
    EXPECT_TRUE(window.isNull());
    const std::string fallback = dir.file("kelvarin-notes/draft.txt");
    EXPECT_TRUE(has(c.writable ? draft : fallback, "milk, eggs"));
    EXPECT_EQ(boxes.shown.size(), c.writable ? 0u : 1u);
    keltk::FreeObject(plugins);
  }
}

class DesktopSplash : public DesktopHost {
protected:
  void SetUp() override {
    DesktopHost::SetUp();
    if (!onX11()) GTEST_SKIP() << "needs an X server";
    manager->SetPluginFolder(std::filesystem::path(KELVARIN_SPLASH).parent_path().string());
    splash = load("Splash");
    ASSERT_NE(splash, nullptr);
  }
  TKelMethodResult exec(const std::string& command, std::vector<keltk::TVarRec> args = {}) {
    return manager->ExecuteCommand(splash, command, args);
  }
  // The splash's client area on the screen.
  QRect splashArea() const {
    for (QWidget* top : QApplication::topLevelWidgets())
      if (top->isVisible() && top->windowFlags().testFlag(Qt::WindowStaysOnTopHint))
        return QRect(top->mapToGlobal(QPoint(0, 0)), top->size());
    return {};
  }

  TulmKel* splash = nullptr;
};

TEST_F(DesktopSplash, OnTheScreenWhileTheHostIsBusyAndGoneWhenHidden) {
  const QColor face = window->palette().color(QPalette::Button);
  // No event is handled between the commands and the looks: the host is busy.
  ASSERT_EQ(exec("Startup_Gauge", {keltk::VarInt(0), keltk::VarInt(10)}), smrOk);
  const QRect area = splashArea();
  ASSERT_FALSE(area.isEmpty());
  const QPoint gauge = area.topLeft() + QPoint(20, 28);
  EXPECT_EQ(rgb(onScreen(area.left() + 5, area.top() + 5)), rgb(face)) << "the splash face";
  EXPECT_EQ(rgb(onScreen(gauge.x() + 10, gauge.y() + 8)), "(192,192,192)") << "an empty gauge";

  const std::string message = "Working";
  ASSERT_EQ(exec("Increment_Gauge", {keltk::VarStr(message)}), smrOk);
  EXPECT_EQ(rgb(onScreen(gauge.x() + 10, gauge.y() + 8)), "(91,0,91)") << "a tenth of the bar";

  ASSERT_EQ(exec("Hide_Splash"), smrOk);
  EXPECT_EQ(rgb(onScreen(gauge.x() + 10, gauge.y() + 8)), "(255,255,255)") << "the host below";
}

TEST_F(DesktopSplash, AMessageBoxComesUpAboveTheSplash) {
  if (!underWindowManager()) GTEST_SKIP() << "needs a window manager";
  ASSERT_EQ(exec("Startup_Gauge", {keltk::VarInt(0), keltk::VarInt(10)}), smrOk);
  const WId splashId = QApplication::topLevelAt(splashArea().center())->winId();
  std::vector<WId> order;
  WId boxId = 0;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    QWidget* box = QApplication::activeModalWidget();
    if (box == nullptr || !box->windowHandle()->isExposed()) return;
    poll.stop();
    settle(300); // the window manager restacks in its own time
    boxId = box->winId();
    order = stacking();
    box->close();
  });
  poll.start(10);
  keltk::SetMessageBoxHandler({});
  keltk::ShowMessage("Above the splash");
  const auto at = [&](WId id) { return std::find(order.begin(), order.end(), id) - order.begin(); };
  ASSERT_NE(boxId, 0u);
  EXPECT_GT(at(boxId), at(splashId)) << "stacked below the splash";
}

// A splash is no task of its own: the window manager is told it is a splash,
// it takes no focus, and the host's window stays the active one.
TEST_F(DesktopSplash, TakesNoFocusAndIsNoTaskOfItsOwn) {
  if (!underWindowManager()) GTEST_SKIP() << "needs a window manager";
  window->activateWindow();
  ASSERT_TRUE(waitUntil([&] { return window->isActiveWindow(); }));
  ASSERT_EQ(exec("Startup_Gauge", {keltk::VarInt(0), keltk::VarInt(10)}), smrOk);
  QWidget* splashWindow = QApplication::topLevelAt(splashArea().center());
  ASSERT_NE(splashWindow, nullptr);
  settle(300);
  EXPECT_TRUE(window->isActiveWindow());
  const std::string type =
      testsupport::runCommand("xprop -id " + std::to_string(splashWindow->winId()) +
                              " _NET_WM_WINDOW_TYPE")
          .output;
  EXPECT_NE(type.find("_NET_WM_WINDOW_TYPE_SPLASH"), std::string::npos) << type;
}

TEST_F(DesktopHost, TheWindowStaysWhereTheWindowManagerPutsIt) {
  if (!underWindowManager()) GTEST_SKIP() << "needs a window manager";
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  const std::string id = std::to_string(window->winId());
  const auto wm = [&](const std::string& args) {
    ASSERT_EQ(std::system(("wmctrl -i -r " + id + " " + args).c_str()), 0);
    settle(500);
  };
  const auto matches = [&] {
    const QRect frame = window->frameGeometry();
    EXPECT_EQ(form->Left(), frame.left());
    EXPECT_EQ(form->Top(), frame.top());
    EXPECT_EQ(form->ClientWidth(), window->width());
  };

  wm("-b add,maximized_vert,maximized_horz");
  EXPECT_EQ(form->WindowState(), keltk::wsMaximized);
  // (A window manager may put a maximized window's border outside the screen.)
  EXPECT_TRUE(screen.contains(window->geometry())) << "off the screen";
  matches();
  wm("-b remove,maximized_vert,maximized_horz");
  EXPECT_EQ(form->WindowState(), keltk::wsNormal);
  matches();
  wm("-e 0,120,90,-1,-1");
  const QPoint movedTo = window->frameGeometry().topLeft();
  settle(300);
  EXPECT_EQ(window->frameGeometry().topLeft(), movedTo) << "moved back by the model";
  matches();
}

} // namespace
} // namespace kelvarin::test
