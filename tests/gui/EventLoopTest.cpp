// The application's loop on Qt: idle steps when the loop is about to wait (also
// in modal loops), the message box, closing forms and ending the program.
#include "GuiTestSupport.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMessageBox>
#include <QPushButton>
#include <keltk/Dialogs.h>
#include <keltk/Exception.h>
#include <stdexcept>

using namespace guitest;

namespace {

class EventLoopTest : public GuiTest {};

// An idle handler whose behaviour each test sets.
class IdleProbe : public TComponent {
public:
  using TComponent::TComponent;
  void OnIdle(TObject*, bool& done) {
    ++calls;
    ++depth;
    maxDepth = std::max(maxDepth, depth);
    if (body) body(done);
    --depth;
  }
  std::function<void(bool&)> body;
  int calls = 0;
  int depth = 0;
  int maxDepth = 0;
};

// Notes when a form is destroyed.
class DestroyProbe : public TComponent {
public:
  using TComponent::TComponent;
  void Destroyed(TObject*) { ++destroyed; }
  int destroyed = 0;
};

void closeModalSoon(int ms = 30) {
  QTimer::singleShot(ms, [] {
    if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) dialog->reject();
  });
}

} // namespace

TEST_F(EventLoopTest, IdleStepComesWhenTheLoopIsAboutToWait) {
  Owned<TGuiHostForm> host(app()->CreateForm<TGuiHostForm>());
  IdleProbe probe(nullptr);
  probe.body = [this](bool&) { app()->Terminate(); };
  app()->SetOnIdle(TIdleEvent::bind<&IdleProbe::OnIdle>(&probe));
  runWithTimeout();
  EXPECT_FALSE(timedOut());
  EXPECT_EQ(probe.calls, 1);
  EXPECT_TRUE(PeerWidget(*host)->isVisible()) << "Run shows the main form first";
}

TEST_F(EventLoopTest, IdleNotDoneAsksForAnotherStepAtOnce) {
  Owned<TGuiHostForm> host(app()->CreateForm<TGuiHostForm>());
  IdleProbe probe(nullptr);
  // Nothing else happens: only the idle steps themselves keep the loop going.
  probe.body = [&](bool& done) {
    done = false;
    if (probe.calls == 50) app()->Terminate();
  };
  app()->SetOnIdle(TIdleEvent::bind<&IdleProbe::OnIdle>(&probe));
  QElapsedTimer clock;
  clock.start();
  runWithTimeout();
  EXPECT_FALSE(timedOut());
  EXPECT_EQ(probe.calls, 50);
  EXPECT_LT(clock.elapsed(), 2000);
}

TEST_F(EventLoopTest, IdleDoneWaitsInsteadOfSpinning) {
  // An X server still reports on the windows of earlier tests for a while.
  QEventLoop settle;
  QTimer::singleShot(100, &settle, &QEventLoop::quit);
  settle.exec();
  IdleProbe probe(nullptr);
  app()->SetOnIdle(TIdleEvent::bind<&IdleProbe::OnIdle>(&probe));
  QEventLoop loop;
  QTimer::singleShot(200, &loop, &QEventLoop::quit);
  loop.exec();
  EXPECT_GE(probe.calls, 1);
  EXPECT_LE(probe.calls, 5) << "the loop went round without waiting";
}

TEST_F(EventLoopTest, IdleStepsComeInsideAModalDialog) {
  IdleProbe probe(nullptr);
  app()->SetOnIdle(TIdleEvent::bind<&IdleProbe::OnIdle>(&probe));
  QDialog dialog;
  closeModalSoon(50);
  dialog.exec();
  EXPECT_GE(probe.calls, 1);
}

TEST_F(EventLoopTest, IdleHandlerThatRunsALoopIsNotEnteredAgain) {
  IdleProbe probe(nullptr);
  probe.body = [&](bool& done) {
    if (probe.calls > 1) return;
    QDialog dialog; // a modal loop inside the idle step
    closeModalSoon();
    dialog.exec();
    Application()->ProcessMessages();
    // Asks for the next step at once: it comes once this one has returned, as
    // before the dialog, however long the dialog took.
    done = false;
  };
  app()->SetOnIdle(TIdleEvent::bind<&IdleProbe::OnIdle>(&probe));
  EXPECT_TRUE(waitUntil([&] { return probe.calls >= 2; }));
  EXPECT_EQ(probe.maxDepth, 1);
}

TEST_F(EventLoopTest, MessageBoxIsModalWithOneOkButton) {
  std::string seenText;
  int buttons = 0;
  bool modal = false;
  whenModal([&](QWidget* widget) {
    auto* box = qobject_cast<QMessageBox*>(widget);
    ASSERT_NE(box, nullptr);
    seenText = box->text().toStdString();
    buttons = static_cast<int>(box->buttons().size());
    modal = box->isModal();
    box->button(QMessageBox::Ok)->click();
  });
  ShowMessage("Plug-in <b>loaded</b>");
  EXPECT_EQ(seenText, "Plug-in <b>loaded</b>") << "shown as plain text";
  EXPECT_EQ(buttons, 1);
  EXPECT_TRUE(modal);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(EventLoopTest, MessageBoxCaptionIsTheApplicationTitle) {
  std::vector<std::string> titles;
  auto note = [&](QWidget* box) {
    titles.push_back(box->windowTitle().toStdString());
    static_cast<QDialog*>(box)->accept();
  };
  whenModal(note);
  ShowMessage("Untitled");
  app()->SetTitle("Tavlo");
  whenModal(note);
  ShowMessage("Titled");
  // Without a title, the program's file name.
  EXPECT_EQ(titles, (std::vector<std::string>{"gui_tests", "Tavlo"}));
}

TEST_F(EventLoopTest, IdleStepsComeWhileTheMessageBoxWaits) {
  IdleProbe probe(nullptr);
  app()->SetOnIdle(TIdleEvent::bind<&IdleProbe::OnIdle>(&probe));
  int callsWhenShown = -1;
  whenModal([&](QWidget* box) {
    callsWhenShown = probe.calls;
    QTimer::singleShot(50, box, [box] { static_cast<QDialog*>(box)->accept(); });
  });
  probe.calls = 0;
  ShowMessage("Waiting");
  EXPECT_GT(probe.calls, callsWhenShown);
}

TEST_F(EventLoopTest, InterceptedMessageBoxOpensNoDialog) {
  std::vector<std::string> shown;
  MessageBoxHandler previous =
      SetMessageBoxHandler([&](const std::string& text) { shown.push_back(text); });
  bool dialogCameUp = false;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      dialogCameUp = true;
      static_cast<QDialog*>(modal)->reject();
    }
  });
  watch.start(5);
  ShowMessage("Captured");
  waitUntil([] { return false; }, 50);
  SetMessageBoxHandler(previous);
  EXPECT_EQ(shown, std::vector<std::string>{"Captured"});
  EXPECT_FALSE(dialogCameUp);
}

TEST_F(EventLoopTest, ClosingWithNoneRefuses) {
  Owned<TGuiHostForm> host(CreateObject<TGuiHostForm>(nullptr));
  host->closeAction = caNone;
  host->Show();
  QPointer<QWidget> window = PeerWidget(*host);
  window->close();
  EXPECT_EQ(host->closes, 1);
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(host->Visible());
}

TEST_F(EventLoopTest, ClosingWithHideHidesAndKeepsTheForm) {
  Owned<TGuiHostForm> host(CreateObject<TGuiHostForm>(nullptr));
  host->closeAction = caHide;
  host->Show();
  QPointer<QWidget> window = PeerWidget(*host);
  window->close();
  EXPECT_EQ(host->closes, 1);
  EXPECT_FALSE(window->isVisible());
  EXPECT_FALSE(host->Visible());
  host->Show();
  EXPECT_TRUE(window->isVisible());
}

TEST_F(EventLoopTest, ClosingWithMinimizeMinimizes) {
  Owned<TGuiHostForm> host(CreateObject<TGuiHostForm>(nullptr));
  host->closeAction = caMinimize;
  host->Show();
  QWidget* window = PeerWidget(*host);
  window->close();
  EXPECT_EQ(host->WindowState(), wsMinimized);
  EXPECT_TRUE(window->windowState().testFlag(Qt::WindowMinimized));
}

TEST_F(EventLoopTest, ClosingWithFreeFreesTheFormAtTheNextIdleStep) {
  DestroyProbe probe(nullptr);
  auto* splash = CreateObject<TGuiSplashForm>(nullptr); // frees itself
  splash->SetOnDestroy(TNotifyEvent::bind<&DestroyProbe::Destroyed>(&probe));
  splash->Show();
  QPointer<QWidget> window = PeerWidget(*splash);
  window->close();
  EXPECT_EQ(probe.destroyed, 0) << "never inside the close event itself";
  EXPECT_FALSE(window->isVisible());
  ASSERT_TRUE(waitUntil([&] { return probe.destroyed == 1; }));
  EXPECT_TRUE(window.isNull());
}

TEST_F(EventLoopTest, FreeingAShownFormClosesItsWindow) {
  auto* splash = CreateObject<TGuiSplashForm>(nullptr);
  splash->Show();
  QPointer<QWidget> window = PeerWidget(*splash);
  QPointer<QWidget> label = PeerWidget(*splash->Label_Msg());
  FreeObject(splash);
  EXPECT_TRUE(window.isNull());
  EXPECT_TRUE(label.isNull());
}

TEST_F(EventLoopTest, MainFormClosingEndsRunAndFreesTheForm) {
  DestroyProbe probe(nullptr);
  auto* host = app()->CreateForm<TGuiHostForm>(); // caFree: freed when Run ends
  host->SetOnDestroy(TNotifyEvent::bind<&DestroyProbe::Destroyed>(&probe));
  QTimer::singleShot(20, [host] { PeerWidget(*host)->close(); });
  runWithTimeout();
  EXPECT_FALSE(timedOut());
  EXPECT_TRUE(app()->Terminated());
  EXPECT_EQ(probe.destroyed, 1);
  EXPECT_EQ(app()->MainForm(), nullptr);
}

TEST_F(EventLoopTest, MainFormThatRefusesToCloseKeepsRunGoing) {
  Owned<TGuiHostForm> host(app()->CreateForm<TGuiHostForm>());
  host->closeAction = caNone;
  QTimer::singleShot(20, [&] { PeerWidget(*host)->close(); });
  QTimer::singleShot(80, [&] {
    EXPECT_FALSE(app()->Terminated());
    host->closeAction = caHide;
    PeerWidget(*host)->close();
  });
  runWithTimeout();
  EXPECT_FALSE(timedOut());
  EXPECT_EQ(host->closes, 2);
}

TEST_F(EventLoopTest, FormFreedLaterFromItsOwnClickHandlerWaitsForTheHandler) {
  struct Handler : TComponent {
    using TComponent::TComponent;
    void Click(TObject*) {
      form->Close();  // caFree: released, not freed
      QDialog dialog; // idle steps run in here while this handler waits
      closeModalSoon();
      dialog.exec();
      aliveAfterDialog = probe->destroyed == 0;
    }
    TGuiHostForm* form = nullptr;
    DestroyProbe* probe = nullptr;
    bool aliveAfterDialog = false;
  } handler(nullptr);
  DestroyProbe probe(nullptr);
  IdleProbe idle(nullptr);
  app()->SetOnIdle(TIdleEvent::bind<&IdleProbe::OnIdle>(&idle));
  auto* host = CreateObject<TGuiHostForm>(nullptr);
  host->SetOnDestroy(TNotifyEvent::bind<&DestroyProbe::Destroyed>(&probe));
  handler.form = host;
  handler.probe = &probe;
  host->Button_LoadPlugin()->SetOnClick(TNotifyEvent::bind<&Handler::Click>(&handler));
  host->Show();
  qobject_cast<QPushButton*>(PeerWidget(*host->Button_LoadPlugin()))->click();
  EXPECT_TRUE(handler.aliveAfterDialog);
  EXPECT_GE(idle.calls, 1) << "the dialog's loop raised idle steps";
  ASSERT_TRUE(waitUntil([&] { return probe.destroyed == 1; }));
}

TEST_F(EventLoopTest, FormFreedOutrightFromItsOwnButtonLeavesNothingDangling) {
  struct Handler : TComponent {
    using TComponent::TComponent;
    void Click(TObject*) { FreeObject(form); }
    TForm* form = nullptr;
  } handler(nullptr);
  auto* host = CreateObject<TGuiHostForm>(nullptr);
  handler.form = host;
  host->Button_LoadPlugin()->SetOnClick(TNotifyEvent::bind<&Handler::Click>(&handler));
  host->Show();
  QPointer<QWidget> window = PeerWidget(*host);
  QPointer<QPushButton> button = qobject_cast<QPushButton*>(PeerWidget(*host->Button_LoadPlugin()));
  button->click(); // the button's widget outlives its own signal
  EXPECT_FALSE(window.isNull());
  EXPECT_FALSE(window->isVisible());
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(window.isNull());
  EXPECT_TRUE(button.isNull());
}

TEST_F(EventLoopTest, ToolkitExceptionFromAnIdleStepIsReportedAndTheLoopGoesOn) {
  struct Reporter : TComponent {
    using TComponent::TComponent;
    void Report(TObject*, const Exception& e) { reported.push_back(e.Message()); }
    std::vector<std::string> reported;
  } reporter(nullptr);
  Owned<TGuiHostForm> host(app()->CreateForm<TGuiHostForm>());
  IdleProbe probe(nullptr);
  probe.body = [&](bool&) {
    if (probe.calls == 1) throw EInvalidOperation("Idle failed");
    app()->Terminate();
  };
  app()->SetOnIdle(TIdleEvent::bind<&IdleProbe::OnIdle>(&probe));
  app()->SetOnException(TExceptionEvent::bind<&Reporter::Report>(&reporter));
  QTimer::singleShot(20, [] {}); // the next wait after the failed step
  runWithTimeout();
  EXPECT_FALSE(timedOut());
  EXPECT_EQ(reporter.reported, std::vector<std::string>{"Idle failed"});
  EXPECT_EQ(probe.calls, 2);
}

// Plug-in code throws what it likes; Run hands it to OnException with its type
// and goes on, from a click as from an idle step.
TEST_F(EventLoopTest, OtherExceptionsAreReportedAndTheLoopGoesOn) {
  struct Handlers : TComponent {
    using TComponent::TComponent;
    void Click(TObject*) { throw std::runtime_error("not ours"); }
    void Report(TObject*, const Exception& e) {
      reported.push_back(std::string(e.ClassName()) + ": " + e.Message());
    }
    std::vector<std::string> reported;
  } handlers(nullptr);
  Owned<TGuiHostForm> host(app()->CreateForm<TGuiHostForm>());
  host->Button_LoadPlugin()->SetOnClick(TNotifyEvent::bind<&Handlers::Click>(&handlers));
  app()->SetOnException(TExceptionEvent::bind<&Handlers::Report>(&handlers));
  IdleProbe probe(nullptr);
  probe.body = [&](bool&) {
    if (probe.calls == 1) throw 42;
    if (handlers.reported.size() == 3) app()->Terminate();
  };
  app()->SetOnIdle(TIdleEvent::bind<&IdleProbe::OnIdle>(&probe));
  for (int ms : {20, 40})
    QTimer::singleShot(
        ms, [&] { qobject_cast<QPushButton*>(PeerWidget(*host->Button_LoadPlugin()))->click(); });
  EXPECT_NO_THROW(runWithTimeout());
  EXPECT_FALSE(timedOut());
  EXPECT_EQ(handlers.reported, (std::vector<std::string>{"int: int", "std::runtime_error: not ours",
                                                         "std::runtime_error: not ours"}));
}

TEST_F(EventLoopTest, ProcessMessagesHandlesPendingEvents) {
  Owned<TGuiHostForm> host(CreateObject<TGuiHostForm>(nullptr));
  host->Show();
  bool fired = false;
  QTimer::singleShot(0, [&] { fired = true; });
  Application()->ProcessMessages();
  EXPECT_TRUE(fired);
}

TEST_F(EventLoopTest, UninstallIsRefusedWhileTheLoopRuns) {
  Owned<TGuiHostForm> host(app()->CreateForm<TGuiHostForm>());
  host->closeAction = caHide;
  bool refused = false;
  IdleProbe probe(nullptr);
  probe.body = [&](bool&) {
    refused = !UninstallQtBackend();
    app()->Terminate();
  };
  app()->SetOnIdle(TIdleEvent::bind<&IdleProbe::OnIdle>(&probe));
  runWithTimeout();
  EXPECT_TRUE(refused);
  EXPECT_TRUE(QtBackendInstalled());
}
