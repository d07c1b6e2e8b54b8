// Button, edit and label peers carry the user's actions to the model and back,
// and come and go with their controls.
#include "GuiTestSupport.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <keltk/Exception.h>

using namespace guitest;

namespace {

class ControlsTest : public GuiTest {};

// Records what the model's events report.
class Recorder : public TComponent {
public:
  using TComponent::TComponent;
  void Clicked(TObject* sender) {
    seen.push_back("click " + static_cast<TComponent*>(sender)->Name());
  }
  void Changed(TObject* sender) {
    seen.push_back("change " + static_cast<TControl*>(sender)->Text());
  }
  std::vector<std::string> seen;
};

void typeInto(QWidget* widget, const QString& text) {
  for (QChar ch : text) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
    QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(ch));
    QApplication::sendEvent(widget, &press);
    QApplication::sendEvent(widget, &release);
  }
}

void clickOn(QWidget* widget) {
  const QPointF at(2, 2);
  const QPointF global = widget->mapToGlobal(at);
  QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QApplication::sendEvent(widget, &press);
  QApplication::sendEvent(widget, &release);
}

} // namespace

TEST_F(ControlsTest, ButtonClickReachesOnClick) {
  Owned<TGuiHostForm> host(CreateObject<TGuiHostForm>(nullptr));
  host->Show();
  auto* button = qobject_cast<QPushButton*>(PeerWidget(*host->Button_LoadPlugin()));
  ASSERT_NE(button, nullptr);
  button->click();
  EXPECT_EQ(host->clicked, std::vector<std::string>{"DoNothing.kel"});

  clickOn(button); // a real press and release
  EXPECT_EQ(host->clicked.size(), 2u);

  host->Button_LoadPlugin()->SetEnabled(false);
  EXPECT_FALSE(button->isEnabled());
  button->click();
  EXPECT_EQ(host->clicked.size(), 2u);
}

TEST_F(ControlsTest, EditTextGoesBothWays) {
  Owned<TGuiHostForm> host(CreateObject<TGuiHostForm>(nullptr));
  Recorder recorder(nullptr);
  TEdit* model = host->Edit_PluginName();
  model->SetOnChange(TNotifyEvent::bind<&Recorder::Changed>(&recorder));
  host->Show();
  auto* edit = qobject_cast<QLineEdit*>(PeerWidget(*model));
  ASSERT_NE(edit, nullptr);

  model->SetText("Splash.kel");
  EXPECT_EQ(edit->text().toStdString(), "Splash.kel");
  EXPECT_EQ(recorder.seen, std::vector<std::string>{"change Splash.kel"});

  edit->selectAll();
  typeInto(edit, "Abc");
  EXPECT_EQ(model->Text(), "Abc");
  EXPECT_EQ(recorder.seen,
            (std::vector<std::string>{"change Splash.kel", "change A", "change Ab", "change Abc"}));

  // The button reads what was typed, unchanged.
  typeInto(edit, "  ");
  qobject_cast<QPushButton*>(PeerWidget(*host->Button_LoadPlugin()))->click();
  EXPECT_EQ(host->clicked, std::vector<std::string>{"Abc  "});
}

TEST_F(ControlsTest, EditKeepsTheModelsLengthLimitAndReadOnlyState) {
  Owned<TGuiHostForm> host(CreateObject<TGuiHostForm>(nullptr));
  TEdit* model = host->Edit_PluginName();
  model->SetMaxLength(4);
  host->Show();
  auto* edit = qobject_cast<QLineEdit*>(PeerWidget(*model));
  EXPECT_EQ(model->Text(), "DoNo");
  EXPECT_EQ(edit->text().toStdString(), "DoNo");
  edit->setText("Longer than four");
  EXPECT_EQ(model->Text(), "Long");
  EXPECT_EQ(edit->text().toStdString(), "Long");
  model->SetReadOnly(true);
  EXPECT_TRUE(edit->isReadOnly());
}

TEST_F(ControlsTest, NonAsciiTextsSurviveTheRoundTrip) {
  Owned<TGuiHostForm> host(CreateObject<TGuiHostForm>(nullptr));
  host->Show();
  host->SetCaption("Größe ¶ ok");
  EXPECT_EQ(PeerWidget(*host)->windowTitle().toStdString(), "Größe ¶ ok");
  auto* edit = qobject_cast<QLineEdit*>(PeerWidget(*host->Edit_PluginName()));
  edit->setText(QString::fromUtf8("Plüg.kel"));
  EXPECT_EQ(host->Edit_PluginName()->Text(), "Plüg.kel");
}

TEST_F(ControlsTest, LabelClickReachesOnClick) {
  Owned<TGuiSplashForm> splash(CreateObject<TGuiSplashForm>(nullptr));
  Recorder recorder(nullptr);
  splash->Label_Msg()->SetOnClick(TNotifyEvent::bind<&Recorder::Clicked>(&recorder));
  splash->Show();
  clickOn(PeerWidget(*splash->Label_Msg()));
  EXPECT_EQ(recorder.seen, std::vector<std::string>{"click Label_Msg"});
}

TEST_F(ControlsTest, LabelShowsItsTextWithoutAcceleratorMarks) {
  Owned<TGuiSplashForm> splash(CreateObject<TGuiSplashForm>(nullptr));
  splash->Show();
  auto* label = qobject_cast<QLabel*>(PeerWidget(*splash->Label_Msg()));
  splash->Label_Msg()->SetCaption("&Load && go");
  EXPECT_EQ(label->text().toStdString(), "Load & go");
  splash->Label_Msg()->SetShowAccelChar(false);
  EXPECT_EQ(label->text().toStdString(), "&Load && go");
  splash->Label_Msg()->SetAlignment(taCenter);
  EXPECT_TRUE(label->alignment().testFlag(Qt::AlignHCenter));
}

TEST_F(ControlsTest, ControlAddedToAShownFormGetsItsWidgetAtOnce) {
  Owned<TGuiSplashForm> splash(CreateObject<TGuiSplashForm>(nullptr));
  splash->Show();
  auto* button = CreateObject<TButton>(splash.get());
  button->SetBounds(5, 6, 70, 20);
  button->SetCaption("Later");
  button->SetParent(splash.get());
  QWidget* widget = PeerWidget(*button);
  ASSERT_NE(widget, nullptr);
  EXPECT_EQ(widget->parentWidget(), PeerWidget(*splash));
  EXPECT_EQ(widget->geometry(), QRect(5, 6, 70, 20));
  EXPECT_TRUE(widget->isVisible());

  // A label added later still lies under the windowed controls.
  auto* label = CreateObject<TLabel>(splash.get());
  label->SetParent(splash.get());
  const QObjectList& children = PeerWidget(*splash)->children();
  EXPECT_LT(children.indexOf(PeerWidget(*label)), children.indexOf(widget));
}

TEST_F(ControlsTest, FreeingAControlTakesItsWidgetAway) {
  Owned<TGuiSplashForm> splash(CreateObject<TGuiSplashForm>(nullptr));
  splash->Show();
  QPointer<QWidget> gauge = PeerWidget(*splash->Gauge());
  ASSERT_FALSE(gauge.isNull());
  FreeObject(splash->Gauge());
  EXPECT_TRUE(gauge.isNull());
  EXPECT_EQ(splash->Gauge(), nullptr);
  EXPECT_EQ(splash->ControlCount(), 2);
}

TEST_F(ControlsTest, ControlMovesWithItsParent) {
  Owned<TGuiSplashForm> first(CreateObject<TGuiSplashForm>(nullptr));
  Owned<TForm> second(CreateObject<TForm>(nullptr, CreateNew));
  first->Show();
  second->Show();
  TGauge* gauge = first->Gauge();
  QPointer<QWidget> widget = PeerWidget(*gauge);
  gauge->SetParent(second.get());
  EXPECT_EQ(PeerWidget(*gauge), widget.data());
  EXPECT_EQ(widget->parentWidget(), PeerWidget(*second));
  EXPECT_TRUE(widget->isVisible());

  // Out of every shown form: hidden, kept until it is placed again or freed.
  gauge->SetParent(nullptr);
  EXPECT_FALSE(widget->isVisible());
  gauge->SetParent(first.get());
  EXPECT_EQ(widget->parentWidget(), PeerWidget(*first));
  EXPECT_TRUE(widget->isVisible());
}

TEST_F(ControlsTest, ToolkitExceptionFromAHandlerGoesToTheApplication) {
  struct Failing : TComponent {
    using TComponent::TComponent;
    void Click(TObject*) { throw EInvalidOperation("Cannot load now"); }
    void Report(TObject*, const Exception& e) { reported.push_back(e.Message()); }
    std::vector<std::string> reported;
  } failing(nullptr);
  Owned<TGuiHostForm> host(CreateObject<TGuiHostForm>(nullptr));
  host->Button_LoadPlugin()->SetOnClick(TNotifyEvent::bind<&Failing::Click>(&failing));
  app()->SetOnException(TExceptionEvent::bind<&Failing::Report>(&failing));
  host->Show();
  qobject_cast<QPushButton*>(PeerWidget(*host->Button_LoadPlugin()))->click();
  EXPECT_EQ(failing.reported, std::vector<std::string>{"Cannot load now"});
}
