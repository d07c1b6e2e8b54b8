// TQtWidgetHost: a Qt widget inside a designed window follows the control, and
// goes with it, or first on its own; a plug-in's window takes its widget along
// before the module is unmapped.
#include "FrameworkTestSupport.h"
#include "LifecycleSupport.h"
#include "WaitUntil.h"

#include <QApplication>
#include <QLineEdit>
#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <gtest/gtest.h>
#include <keltk/Forms.h>
#include <keltk/QtBackend.h>
#include <keltk/QtWidgetHost.h>
#include <keltk/Reader.h>
#include <kelvarin/QtHost.h>

namespace keltk {
namespace {

constexpr const char* kWindow = R"(object Window: TForm
  ClientWidth = 300
  ClientHeight = 200
  object Host: TQtWidgetHost
    Left = 10
    Top = 20
    Width = 120
    Height = 30
  end
end
)";

class QtWidgetHostTest : public ::testing::Test {
protected:
  void SetUp() override {
    int argc = 0;
    InstallQtBackend(argc, nullptr); // the suite's QApplication exists already
    form.reset(new TForm(nullptr, CreateNew));
    ReadComponentFromText(kWindow, form.get());
    host = ObjectAs<TQtWidgetHost>(form->FindComponent("Host"));
    ASSERT_NE(host, nullptr);
    edit = new QLineEdit("typed");
    host->SetWidget(edit); // before the window is shown: it waits for the surface
  }
  void TearDown() override {
    form.reset();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    UninstallQtBackend();
  }
  // Where the widget is in the window, after Qt laid it out.
  QRect placed() const {
    QApplication::processEvents();
    const QWidget* window = PeerWidget(*form);
    return {edit->mapTo(window, QPoint(0, 0)), edit->size()};
  }

  ObjectPtr<TForm> form;
  TQtWidgetHost* host = nullptr;
  QPointer<QLineEdit> edit;
};

TEST_F(QtWidgetHostTest, TheWidgetFollowsTheControlsGeometryVisibilityAndEnabledState) {
  form->Show();
  ASSERT_EQ(host->Widget(), edit.data());
  EXPECT_EQ(placed(), QRect(10, 20, 120, 30));
  EXPECT_TRUE(edit->isVisible());

  const struct {
    const char* step;
    std::function<void()> change;
    QRect where;
    bool visible;
    bool enabled;
  } steps[] = {
      {"bounds", [&] { host->SetBounds(5, 6, 200, 40); }, {5, 6, 200, 40}, true, true},
      {"align and a resized window",
       [&] {
         host->SetAlign(alClient);
         form->SetClientWidth(320);
       },
       {0, 0, 320, 200},
       true,
       true},
      {"hidden", [&] { host->Hide(); }, {0, 0, 320, 200}, false, true},
      {"shown, disabled",
       [&] {
         host->Show();
         host->SetEnabled(false);
       },
       {0, 0, 320, 200},
       true,
       false},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.step);
    s.change();
    EXPECT_EQ(placed(), s.where);
    EXPECT_EQ(edit->isVisible(), s.visible);
    EXPECT_EQ(edit->isEnabled(), s.enabled);
  }
}

TEST_F(QtWidgetHostTest, TheWidgetGoesWithTheControlShownOrNot) {
  FreeObject(host); // never shown
  EXPECT_TRUE(edit.isNull());

  host = CreateObject<TQtWidgetHost>(form.get());
  host->SetParent(form.get());
  form->Show();
  edit = new QLineEdit;
  host->SetWidget(edit);
  EXPECT_EQ(edit->parentWidget(), PeerWidget(*host));
  form.reset();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(edit.isNull());
}

TEST_F(QtWidgetHostTest, AWidgetDeletedByOtherCodeLeavesTheControlEmpty) {
  form->Show();
  delete edit.data();
  EXPECT_EQ(host->Widget(), nullptr);
  host->SetWidget(nullptr);
  form.reset(); // nothing left to delete twice
}

// WidgetHoster leaves its window, a widget shown in it, to the framework.
TEST(QtWidgetHostUnloadTest, APlugInsWindowTakesItsWidgetAlongBeforeTheModuleIsUnmapped) {
  using namespace kelvarin::test;
  for (const bool deletedFirst : {false, true}) {
    SCOPED_TRACE(deletedFirst ? "deleted by other code first" : "left to the window");
    QMainWindow window;
    kelvarin::QtHost host(&window);
    kelvarin::TulmKelMan* manager = host.Manager();
    manager->Log()->SetDumpOn(kelvarin::doNever);
    manager->SetPluginFolder(fixtureDir());
    kelvarin::TulmKel* plugin = nullptr;
    ASSERT_TRUE(manager->LoadPlugin("WidgetHoster", &plugin).Success);
    const std::string path = plugin->FileName();
    QPointer<QWidget> edit;
    for (QWidget* w : QApplication::allWidgets())
      if (w->objectName() == "WidgetHoster.edit") edit = w;
    ASSERT_FALSE(edit.isNull());
    EXPECT_TRUE(edit->isVisible());
    if (deletedFirst) delete edit.data();
    ASSERT_TRUE(manager->UnloadAllPlugins(false).Success);
    EXPECT_TRUE(edit.isNull());
    EXPECT_TRUE(kelvarin::testsupport::waitUntil([&] { return !isMapped(path); }, 5000));
  }
}

} // namespace
} // namespace keltk
