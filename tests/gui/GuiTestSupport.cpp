#include "GuiTestSupport.h"

#include "WaitUntil.h"

#include <QAbstractEventDispatcher>
#include <QElapsedTimer>
#include <QEventLoop>
#include <fmt/format.h>
#include <keltk/PropInfo.h>
#include <keltk/Resources.h>

namespace guitest {

const TClassInfo& TGuiHostForm::StaticClass() {
  static TClassInfo info("TGuiHostForm", &TForm::StaticClass(), [](TClassInfo& i) {
    ClassBuilder<TGuiHostForm> b(i);
    b.method<&TGuiHostForm::FormClose>("FormClose");
    b.method<&TGuiHostForm::Button_LoadPluginClick>("Button_LoadPluginClick");
  });
  return info;
}

const TClassInfo& TGuiSplashForm::StaticClass() {
  static TClassInfo info("TGuiSplashForm", &TForm::StaticClass(), [](TClassInfo& i) {
    ClassBuilder<TGuiSplashForm>(i).method<&TGuiSplashForm::OnFormClose>("OnFormClose");
  });
  return info;
}

namespace {

constexpr const char* kHostForm = R"(object Form1: TGuiHostForm
  Left = 364
  Top = 219
  Width = 318
  Height = 153
  Caption = ' Sample 001 - Do Nothing'
  Color = clBtnFace
  DefaultMonitor = dmDesktop
  Font.Charset = DEFAULT_CHARSET
  Font.Color = clWindowText
  Font.Height = -11
  Font.Name = 'MS Sans Serif'
  Font.Style = []
  FormStyle = fsMDIForm
  OldCreateOrder = False
  Position = poScreenCenter
  OnClose = FormClose
  PixelsPerInch = 96
  TextHeight = 13
  object Button_LoadPlugin: TButton
    Left = 74
    Top = 58
    Width = 162
    Height = 25
    Caption = 'Load Specified Plugin'
    TabOrder = 0
    OnClick = Button_LoadPluginClick
  end
  object Edit_PluginName: TEdit
    Left = 73
    Top = 27
    Width = 161
    Height = 23
    Font.Charset = DEFAULT_CHARSET
    Font.Color = clWindowText
    Font.Height = -12
    Font.Name = 'Courier New'
    Font.Style = []
    ParentFont = False
    TabOrder = 1
    Text = 'DoNothing.kel'
  end
end
)";

constexpr const char* kSplashForm = R"(object SplashForm: TGuiSplashForm
  Left = 0
  Top = 0
  BorderStyle = bsNone
  Caption = ' Splash'
  ClientHeight = 60
  ClientWidth = 304
  Color = clBtnFace
  Font.Charset = DEFAULT_CHARSET
  Font.Color = clWindowText
  Font.Height = -11
  Font.Name = 'MS Sans Serif'
  Font.Style = []
  FormStyle = fsStayOnTop
  OldCreateOrder = False
  Position = poScreenCenter
  OnClose = OnFormClose
  PixelsPerInch = 96
  TextHeight = 13
  object Bevel_Border: TBevel
    Left = 0
    Top = 0
    Width = 304
    Height = 60
    Style = bsRaised
  end
  object Label_Msg: TLabel
    Left = 20
    Top = 12
    Width = 261
    Height = 13
    AutoSize = False
    Caption = '?'
    Font.Charset = DEFAULT_CHARSET
    Font.Color = 5963867
    Font.Height = -11
    Font.Name = 'MS Sans Serif'
    Font.Style = []
    ParentFont = False
    Transparent = True
  end
  object Gauge: TGauge
    Left = 20
    Top = 28
    Width = 265
    Height = 16
    BackColor = clSilver
    ForeColor = 5963867
    Progress = 50
  end
end
)";

// One QApplication for the whole run; the backend comes and goes with each test.
class QtEnvironment : public ::testing::Environment {
public:
  void SetUp() override {
    RegisterFormResource(kHostForm, &TGuiHostForm::StaticClass());
    RegisterFormResource(kSplashForm, &TGuiSplashForm::StaticClass());
    qt_ = new QApplication(argc_, argv_);
  }
  void TearDown() override {
    delete qt_;
    qt_ = nullptr;
    UnregisterFormResource(kHostForm);
    UnregisterFormResource(kSplashForm);
  }

private:
  int argc_ = 1;
  char name_[10] = "gui_tests";
  char* argv_[2] = {name_, nullptr};
  QApplication* qt_ = nullptr;
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

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
