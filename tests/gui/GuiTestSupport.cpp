#include "GuiTestSupport.h"

#include "ProductForms.h"
#include "QtEnvironment.h"
#include "WaitUntil.h"

#include <QAbstractEventDispatcher>
#include <QElapsedTimer>
#include <QEventLoop>
#include <fmt/format.h>
#include <keltk/PropInfo.h>
#include <keltk/Resources.h>

namespace guitest {

// Registered under the product's class names, which their stored forms name.
const TClassInfo& TGuiHostForm::StaticClass() {
  static TClassInfo info("TForm1", &TForm::StaticClass(), [](TClassInfo& i) {
    ClassBuilder<TGuiHostForm> b(i);
    b.method<&TGuiHostForm::FormClose>("FormClose");
    b.method<&TGuiHostForm::Button_LoadPluginClick>("Button_LoadPluginClick");
  });
  return info;
}

const TClassInfo& TGuiSplashForm::StaticClass() {
  static TClassInfo info("TSplashForm", &TForm::StaticClass(), [](TClassInfo& i) {
    ClassBuilder<TGuiSplashForm>(i).method<&TGuiSplashForm::OnFormClose>("OnFormClose");
  });
  return info;
}

namespace {

using kelvarin::test::HostFormWithoutManager;
using kelvarin::test::SplashForm;

// The backend comes and goes with each test.
[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new kelvarin::testsupport::QtEnvironment(
        "gui_tests",
        [] {
          RegisterFormResource(HostFormWithoutManager(), &TGuiHostForm::StaticClass());
          RegisterFormResource(SplashForm(), &TGuiSplashForm::StaticClass());
        },
        [] {
          UnregisterFormResource(HostFormWithoutManager());
          UnregisterFormResource(SplashForm());
        }));

} // namespace

void GuiTest::SetUp() {
  app_.reset(CreateObject<TApplication>(nullptr));
  SetApplication(app_.get());
  int argc = 0;
  InstallQtBackend(argc, nullptr); // the QApplication exists already
  ASSERT_TRUE(QtBackendInstalled());
  ASSERT_EQ(app_->GuiBackend(), GuiBackend());
}

void GuiTest::TearDown() {
  EXPECT_TRUE(UninstallQtBackend());
  EXPECT_EQ(app_->GuiBackend(), nullptr);
  SetApplication(nullptr);
  app_.reset();
  EXPECT_EQ(QApplication::topLevelWidgets().size(), 0) << "a window outlived its test";
}

void GuiTest::runWithTimeout(int ms) {
  QTimer failsafe;
  failsafe.setSingleShot(true);
  QObject::connect(&failsafe, &QTimer::timeout, [this] {
    timedOut_ = true;
    app_->Terminate();
  });
  failsafe.start(ms);
  app_->Run();
}

bool waitUntil(const std::function<bool()>& done, int ms) {
  return kelvarin::testsupport::waitUntil(done, ms);
}

void whenModal(std::function<void(QWidget*)> action, int ms) {
  auto* poll = new QTimer;
  QElapsedTimer clock;
  clock.start();
  QObject::connect(poll, &QTimer::timeout, [poll, clock, ms, action = std::move(action)] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      poll->stop();
      poll->deleteLater();
      action(modal);
    } else if (clock.elapsed() > ms) {
      poll->stop();
      poll->deleteLater();
      ADD_FAILURE() << "no modal window came up";
    }
  });
  poll->start(5);
}

QImage grabImage(QWidget* widget) {
  return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

std::string rgb(int r, int g, int b) {
  return fmt::format("({},{},{})", r, g, b);
}

std::string rgbAt(const QImage& image, int x, int y) {
  const QColor c = image.pixelColor(x, y);
  return rgb(c.red(), c.green(), c.blue());
}

} // namespace guitest
