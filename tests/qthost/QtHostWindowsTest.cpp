// A Qt program's host and windows: plug-in forms and message boxes belong to the
// program's main window, and the main form plug-ins see stands for that window.
#include "LifecycleSupport.h"
#include "WaitUntil.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>
#include <QWindow>
#include <filesystem>
#include <functional>
#include <keltk/Application.h>
#include <keltk/Forms.h>
#include <keltk/Menus.h>
#include <keltk/QtBackend.h>
#include <kelvarin/QtHost.h>
#include <memory>

namespace kelvarin::test {
namespace {

// The shown top-level windows other than `program`.
std::vector<QWidget*> otherWindows(const QWidget& program) {
  std::vector<QWidget*> out;
  for (QWidget* top : QApplication::topLevelWidgets())
    if (top != &program && top->isVisible() && top->isWindow() &&
        qobject_cast<QMenu*>(top) == nullptr)
      out.push_back(top);
  return out;
}

class QtHostWindows : public ::testing::Test {
protected:
  void SetUp() override {
    window.setWindowTitle("Program");
    for (const char* title : {"&File", "&Edit"})
      window.menuBar()->addMenu(title)->addAction("&Go");
    host = std::make_unique<QtHost>(&window);
    Manager()->Log()->SetDumpOn(doNever);
    Manager()->SetPluginFolder(fixtureDir());
  }
  void TearDown() override { host.reset(); }

  TulmKelMan* Manager() const { return host->Manager(); }
  TulmKel* load(const std::string& name) {
    TulmKel* plugin = nullptr;
    EXPECT_TRUE(Manager()->LoadPlugin(name, &plugin).Success) << name;
    return plugin;
  }
  void show() {
    window.show();
    ASSERT_TRUE(testsupport::waitUntil([&] { return window.windowHandle()->isExposed(); }, 5000));
  }

  QMainWindow window;
  std::unique_ptr<QtHost> host;
};

TEST_F(QtHostWindows, SplashsWindowIsStackedOverTheProgramsWindow) {
  show();
  Manager()->SetPluginFolder(std::filesystem::path(KELVARIN_SPLASH).parent_path().string());
  TulmKel* splash = load("Splash");
  ASSERT_NE(splash, nullptr);
  ASSERT_EQ(
      Manager()->ExecuteCommand(splash, "Startup_Gauge", {keltk::VarInt(0), keltk::VarInt(10)}),
      smrOk);
  const std::vector<QWidget*> shown = otherWindows(window);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0]->windowHandle()->transientParent(), window.windowHandle());
  EXPECT_EQ(Manager()->ExecuteCommand(splash, "Hide_Splash"), smrOk);
}

TEST_F(QtHostWindows, AMessageBoxFromAPlugInIsModalOverTheProgramsWindow) {
  show();
  TulmKel* commander = load("Commander");
  TulmKel* menus = load("Menus");
  ASSERT_TRUE(commander != nullptr && menus != nullptr);
  auto* run = keltk::ObjectAs<keltk::TMenuItem>(menus->FindComponent("Run1"));
  auto* copy = reinterpret_cast<keltk::TMenuItem*>(run->Tag());
  copy->SetOnClick(keltk::TNotifyEvent(
      menus, [](keltk::TObject*, keltk::TObject*) { throw keltk::Exception("Run failed"); }));
  QAction* runEntry = nullptr;
  for (QAction* a : window.findChildren<QAction*>())
    if (a->text() == "&Run") runEntry = a;
  ASSERT_NE(runEntry, nullptr);

  // What a plug-in's code does that brings up a box; a timer looks at it and
  // closes it.
  const std::vector<std::pair<std::string, std::function<void()>>> cases = {
      {"a command shows one",
       [&] { (void)Manager()->ExecuteCommand(commander, "Tell", {keltk::VarPChar("Hello")}); }},
      {"the framework reports a merged entry's exception", [&] { runEntry->trigger(); }},
  };
  for (const auto& [how, raise] : cases) {
    SCOPED_TRACE(how);
    QWindow* over = nullptr;
    Qt::WindowModality modality = Qt::NonModal;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
        over = box->windowHandle()->transientParent();
        modality = box->windowModality();
        box->reject();
      }
    });
    poll.start(10);
    raise();
    EXPECT_EQ(over, window.windowHandle());
    EXPECT_NE(modality, Qt::NonModal);
  }
}

TEST_F(QtHostWindows, TheMainFormStandsForTheProgramsWindow) {
  keltk::TForm* mainForm = keltk::Application()->MainForm();
  ASSERT_NE(mainForm, nullptr);
  const QList<QAction*> bar = window.menuBar()->actions();
  EXPECT_FALSE(mainForm->Visible());
  EXPECT_EQ(mainForm->Caption(), "Program");

  // A plug-in shows the host's main form: the program's window comes up, alone
  // and with its own menu bar.
  mainForm->Show();
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(otherWindows(window).empty());
  EXPECT_EQ(window.menuBar()->actions(), bar);
  EXPECT_NE(keltk::AdoptedItem(*mainForm->Menu(), *bar[0]), nullptr) << "the main menu's bar";

  // What plug-ins read follows the window.
  window.setWindowTitle("Renamed");
  window.resize(321, 234);
  EXPECT_EQ(mainForm->Caption(), "Renamed");
  EXPECT_TRUE(testsupport::waitUntil([&] { return mainForm->ClientWidth() == 321; }, 5000));
  window.hide();
  EXPECT_FALSE(mainForm->Visible());

  // The objects a plug-in is handed are the host's live ones.
  TulmKel* plugin = load("Minimal");
  ASSERT_NE(plugin, nullptr);
  EXPECT_EQ(plugin->HostApplication(), keltk::Application());
  EXPECT_EQ(plugin->HostScreen(), keltk::Screen());
  EXPECT_GT(plugin->HostScreen()->Width(), 0);
}

} // namespace
} // namespace kelvarin::test
