// Shown forms get windows that look the way their stored design says.
#include "GuiTestSupport.h"

#include <QApplication>
#include <QFile>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <cstdio>
#include <keltk/Backend.h>

using namespace guitest;

namespace {

class FormWindowTest : public GuiTest {};

QSize screenSize() {
  return QGuiApplication::primaryScreen()->geometry().size();
}

int brightness(const QImage& image, int x, int y) {
  const QColor c = image.pixelColor(x, y);
  return c.red() + c.green() + c.blue();
}

} // namespace

TEST_F(FormWindowTest, NothingIsMadeBeforeTheFormIsShown) {
  Owned<TGuiSplashForm> splash(CreateObject<TGuiSplashForm>(nullptr));
  EXPECT_EQ(splash->Peer(), nullptr);
  EXPECT_EQ(PeerWidget(*splash), nullptr);
  EXPECT_EQ(PeerWidget(*splash->Gauge()), nullptr);
}

TEST_F(FormWindowTest, SplashWindowIsFramelessOnTopAndCentred) {
  Owned<TGuiSplashForm> splash(CreateObject<TGuiSplashForm>(nullptr));
  splash->Show();
  QWidget* window = PeerWidget(*splash);
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->isWindow());
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->windowTitle().toStdString(), " Splash");
  EXPECT_EQ(window->size(), QSize(304, 60));
  EXPECT_TRUE(window->windowFlags().testFlag(Qt::FramelessWindowHint));
  EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  const QSize screen = screenSize();
  EXPECT_EQ(window->pos(), QPoint((screen.width() - 304) / 2, (screen.height() - 60) / 2));
  EXPECT_EQ(splash->Left(), window->x());
  EXPECT_EQ(splash->Top(), window->y());
  EXPECT_EQ(Screen()->Width(), screen.width());
}

TEST_F(FormWindowTest, ControlsSitAtTheirPlacesInsideTheClientArea) {
  Owned<TGuiSplashForm> splash(CreateObject<TGuiSplashForm>(nullptr));
  splash->Show();
  QWidget* window = PeerWidget(*splash);
  QWidget* bevel = PeerWidget(*splash->Bevel_Border());
  QWidget* label = PeerWidget(*splash->Label_Msg());
  QWidget* gauge = PeerWidget(*splash->Gauge());
  ASSERT_TRUE(bevel && label && gauge);
  EXPECT_EQ(bevel->parentWidget(), window);
  EXPECT_EQ(bevel->geometry(), QRect(0, 0, 304, 60));
  EXPECT_EQ(label->geometry(), QRect(20, 12, 261, 13));
  EXPECT_EQ(gauge->geometry(), QRect(20, 28, 265, 16));
  // The bevel lies under the label and the gauge.
  const QObjectList& children = window->children();
  EXPECT_LT(children.indexOf(bevel), children.indexOf(label));
  EXPECT_LT(children.indexOf(bevel), children.indexOf(gauge));
}

TEST_F(FormWindowTest, GaugeAtHalfIsDrawnInTheBarColourThenSilver) {
  Owned<TGuiSplashForm> splash(CreateObject<TGuiSplashForm>(nullptr));
  splash->Show();
  ASSERT_EQ(splash->Gauge()->Progress(), 50);
  const QImage image = grabImage(PeerWidget(*splash));
  ASSERT_EQ(image.size(), QSize(304, 60));
  const int left = 20, top = 28, width = 265, middle = top + 8;
  EXPECT_EQ(rgbAt(image, left + width / 4, middle), rgb(91, 0, 91));
  EXPECT_EQ(rgbAt(image, left + width * 3 / 4, middle), rgb(192, 192, 192));

  // The bar follows the model's progress.
  splash->Gauge()->SetProgress(100);
  const QImage full = grabImage(PeerWidget(*splash));
  EXPECT_EQ(rgbAt(full, left + width * 3 / 4, middle), rgb(91, 0, 91));
  splash->Gauge()->SetProgress(0);
  const QImage empty = grabImage(PeerWidget(*splash));
  EXPECT_EQ(rgbAt(empty, left + width / 4, middle), rgb(192, 192, 192));
}

TEST_F(FormWindowTest, GaugeKeepsItsRangeWhenTheBarIsEmptyOrFlat) {
  Owned<TGuiSplashForm> splash(CreateObject<TGuiSplashForm>(nullptr));
  TGauge* gauge = splash->Gauge();
  gauge->SetMinValue(5);
  gauge->SetMaxValue(5); // an empty range is at its one value: full
  splash->Show();
  const QImage image = grabImage(PeerWidget(*splash));
  EXPECT_EQ(rgbAt(image, 20 + 30, 36), rgb(91, 0, 91));
  EXPECT_EQ(gauge->Progress(), 5);
}

TEST_F(FormWindowTest, LabelHasAFixedSizeATransparentBackgroundAndItsFontColour) {
  Owned<TGuiSplashForm> splash(CreateObject<TGuiSplashForm>(nullptr));
  splash->SetColor(clYellow);
  splash->Label_Msg()->SetColor(clRed); // would show if the label painted its background
  splash->Label_Msg()->SetTransparent(true);
  splash->Show();
  auto* label = qobject_cast<QLabel*>(PeerWidget(*splash->Label_Msg()));
  ASSERT_NE(label, nullptr);
  EXPECT_FALSE(label->autoFillBackground());
  EXPECT_EQ(label->text().toStdString(), "?");
  const QColor text = label->palette().color(QPalette::WindowText);
  EXPECT_EQ(rgb(text.red(), text.green(), text.blue()), rgb(91, 0, 91));

  splash->Label_Msg()->SetCaption("Loading the configuration of every plug-in at once");
  EXPECT_EQ(label->geometry(), QRect(20, 12, 261, 13));
  EXPECT_EQ(label->text().toStdString(), "Loading the configuration of every plug-in at once");
  splash->Label_Msg()->SetCaption("Ready");

  // Far right inside the label, past the text: the form shows through.
  QImage image = grabImage(PeerWidget(*splash));
  EXPECT_EQ(rgbAt(image, 20 + 258, 12 + 6), rgb(255, 255, 0));
  splash->Label_Msg()->SetTransparent(false);
  image = grabImage(PeerWidget(*splash));
  EXPECT_EQ(rgbAt(image, 20 + 258, 12 + 6), rgb(255, 0, 0));
}

TEST_F(FormWindowTest, AutoSizedLabelTakesTheSizeTheWindowSystemMeasures) {
  Owned<TGuiSplashForm> splash(CreateObject<TGuiSplashForm>(nullptr));
  TLabel* label = splash->Label_Msg();
  label->SetAutoSize(true);
  label->SetCaption("Measured");
  int width = 0, height = 0;
  ASSERT_TRUE(GuiBackend()->measureText(*label->Font(), "Measured", width, height));
  EXPECT_GT(width, 20);
  EXPECT_EQ(label->Width(), width);
  EXPECT_EQ(label->Height(), height);
  splash->Show();
  EXPECT_EQ(PeerWidget(*label)->size(), QSize(width, height));
}

TEST_F(FormWindowTest, BevelIsARaisedPanel) {
  Owned<TGuiSplashForm> splash(CreateObject<TGuiSplashForm>(nullptr));
  splash->Show();
  auto* bevel = qobject_cast<QFrame*>(PeerWidget(*splash->Bevel_Border()));
  ASSERT_NE(bevel, nullptr);
  EXPECT_EQ(bevel->frameShape(), QFrame::Panel);
  EXPECT_EQ(bevel->frameShadow(), QFrame::Raised);
  const QImage image = grabImage(PeerWidget(*splash));
  // Light at the top and left edges, dark at the bottom and right.
  EXPECT_GT(brightness(image, 150, 0), brightness(image, 150, 59));
  EXPECT_GT(brightness(image, 0, 30), brightness(image, 303, 30));
  EXPECT_GT(brightness(image, 150, 0), brightness(image, 150, 30) - 1);

  splash->Bevel_Border()->SetStyle(bsLowered);
  EXPECT_EQ(bevel->frameShadow(), QFrame::Sunken);
  const QImage lowered = grabImage(PeerWidget(*splash));
  EXPECT_LT(brightness(lowered, 150, 0), brightness(lowered, 150, 59));
}

TEST_F(FormWindowTest, HostFormShowsItsButtonAndEditWithTheirFonts) {
  Owned<TGuiHostForm> host(CreateObject<TGuiHostForm>(nullptr));
  host->Show();
  QWidget* window = PeerWidget(*host);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->windowTitle().toStdString(), " Sample 001 - Do Nothing");
  EXPECT_FALSE(window->windowFlags().testFlag(Qt::FramelessWindowHint));
  EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_EQ(window->size(), QSize(host->ClientWidth(), host->ClientHeight()));
  EXPECT_EQ(window->font().pixelSize(), 11);
  EXPECT_EQ(window->font().family().toStdString(), "MS Sans Serif");

  auto* button = qobject_cast<QPushButton*>(PeerWidget(*host->Button_LoadPlugin()));
  auto* edit = qobject_cast<QLineEdit*>(PeerWidget(*host->Edit_PluginName()));
  ASSERT_TRUE(button && edit);
  EXPECT_EQ(button->text().toStdString(), "Load Specified Plugin");
  EXPECT_EQ(button->geometry(), QRect(74, 58, 162, 25));
  EXPECT_EQ(edit->text().toStdString(), "DoNothing.kel");
  EXPECT_EQ(edit->geometry(), QRect(73, 27, 161, 23));
  EXPECT_EQ(edit->font().family().toStdString(), "Courier New");
  EXPECT_EQ(edit->font().pixelSize(), 12);
  // Tab order as stored: the button first.
  EXPECT_EQ(button->nextInFocusChain(), edit);
}

TEST_F(FormWindowTest, FocusFollowsTheTabOrderRatherThanTheCreationOrder) {
  Owned<TGuiHostForm> host(CreateObject<TGuiHostForm>(nullptr));
  host->Edit_PluginName()->SetTabOrder(0);
  host->Show();
  QWidget* button = PeerWidget(*host->Button_LoadPlugin());
  QWidget* edit = PeerWidget(*host->Edit_PluginName());
  EXPECT_EQ(edit->nextInFocusChain(), button);
  EXPECT_EQ(edit->focusPolicy(), Qt::StrongFocus);
  // Overlapping controls still stack in the form's order: the edit was made first
  // for the focus chain, yet it lies above the button, which the form holds first.
  const QObjectList& children = PeerWidget(*host)->children();
  EXPECT_LT(children.indexOf(button), children.indexOf(edit));
}

TEST_F(FormWindowTest, ShowingAgainAfterTheWindowWasTakenAwayRebuildsIt) {
  Owned<TGuiSplashForm> splash(CreateObject<TGuiSplashForm>(nullptr));
  splash->Show();
  splash->SetPeer(nullptr); // the window and everything in it go
  EXPECT_EQ(PeerWidget(*splash->Gauge()), nullptr);
  splash->Hide();
  splash->Show();
  QWidget* gauge = PeerWidget(*splash->Gauge());
  ASSERT_NE(gauge, nullptr);
  EXPECT_EQ(gauge->parentWidget(), PeerWidget(*splash));
  EXPECT_TRUE(gauge->isVisible());
}

TEST_F(FormWindowTest, ButtonFaceColourIsThePalettesWindowColour) {
  Owned<TGuiHostForm> host(CreateObject<TGuiHostForm>(nullptr));
  host->Show();
  QWidget* window = PeerWidget(*host);
  EXPECT_TRUE(window->autoFillBackground());
  EXPECT_EQ(window->palette().color(QPalette::Window),
            QGuiApplication::palette().color(QPalette::Window));
  const QImage image = grabImage(window);
  const QColor face = QGuiApplication::palette().color(QPalette::Window);
  EXPECT_EQ(rgbAt(image, 5, 5), rgb(face.red(), face.green(), face.blue()));
}

TEST_F(FormWindowTest, ModelChangesReachTheShownWindow) {
  Owned<TGuiSplashForm> splash(CreateObject<TGuiSplashForm>(nullptr));
  splash->Show();
  QPointer<QWidget> window = PeerWidget(*splash);
  splash->SetCaption("Another caption");
  EXPECT_EQ(window->windowTitle().toStdString(), "Another caption");
  splash->SetClientWidth(400);
  splash->SetClientHeight(100);
  EXPECT_EQ(window->size(), QSize(400, 100));
  splash->SetBounds(10, 20, splash->Width(), splash->Height());
  EXPECT_EQ(window->pos(), QPoint(10, 20));
  splash->SetColor(clAqua);
  EXPECT_EQ(window->palette().color(QPalette::Window), QColor(0, 255, 255));

  splash->SetFormStyle(fsNormal);
  EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  splash->SetBorderStyle(bsSingle);
  EXPECT_FALSE(window->windowFlags().testFlag(Qt::FramelessWindowHint));
  EXPECT_TRUE(window->isVisible()) << "new window flags must not hide the form";
  EXPECT_EQ(window->size(), QSize(400, 100)) << "the client area keeps its size";

  splash->Hide();
  EXPECT_FALSE(window->isVisible());
  splash->Show();
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(PeerWidget(*splash), window.data()) << "showing again keeps the window";
}

TEST_F(FormWindowTest, UserMovesAndResizesShowInTheModel) {
  Owned<TGuiHostForm> host(CreateObject<TGuiHostForm>(nullptr));
  host->Show();
  QWidget* window = PeerWidget(*host);
  window->resize(500, 240);
  EXPECT_EQ(host->ClientWidth(), 500);
  EXPECT_EQ(host->ClientHeight(), 240);
  window->move(33, 44);
  EXPECT_EQ(host->Left(), 33);
  EXPECT_EQ(host->Top(), 44);
  EXPECT_EQ(window->size(), QSize(500, 240));
}

TEST_F(FormWindowTest, GrabToPngWritesTheClientArea) {
  Owned<TGuiSplashForm> splash(CreateObject<TGuiSplashForm>(nullptr));
  const std::string path = ::testing::TempDir() + "kelvarin-splash.png";
  EXPECT_FALSE(GuiBackend()->grabToPng(*splash, path)) << "no window yet";
  splash->Show();
  ASSERT_TRUE(GuiBackend()->grabToPng(*splash, path));
  QImage image(QString::fromStdString(path));
  ASSERT_EQ(image.size(), QSize(304, 60));
  EXPECT_EQ(rgbAt(image, 20 + 265 / 4, 36), rgb(91, 0, 91));
  std::remove(path.c_str());
  EXPECT_FALSE(GuiBackend()->grabToPng(*splash, "/nonexistent-folder/x.png"));
}

TEST_F(FormWindowTest, UninstallingTakesTheWindowsAwayAndTheFormsStay) {
  Owned<TGuiSplashForm> splash(CreateObject<TGuiSplashForm>(nullptr));
  splash->Show();
  QPointer<QWidget> window = PeerWidget(*splash);
  QPointer<QWidget> gauge = PeerWidget(*splash->Gauge());
  ASSERT_FALSE(QApplication::quitOnLastWindowClosed());
  ASSERT_TRUE(UninstallQtBackend());
  EXPECT_TRUE(QApplication::quitOnLastWindowClosed()); // the application's own policy again
  EXPECT_TRUE(window.isNull());
  EXPECT_TRUE(gauge.isNull());
  EXPECT_EQ(splash->Peer(), nullptr);
  EXPECT_EQ(splash->Gauge()->Peer(), nullptr);
  EXPECT_TRUE(splash->Visible());
  splash->Gauge()->SetProgress(70); // no window: only the model changes
  EXPECT_EQ(splash->Gauge()->Progress(), 70);
  int argc = 0;
  InstallQtBackend(argc, nullptr);
}
