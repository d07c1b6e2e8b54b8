#include "keltk/Application.h"

#include "keltk/Backend.h"
#include "keltk/Dialogs.h"
#include "keltk/Forms.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace keltk;

namespace {

class TIdleCounter : public TObject {
public:
  int calls = 0;
  int wantMore = 0; // how many more calls to ask for
  void OnIdle(TObject* sender, bool& done) {
    ++calls;
    lastSender = sender;
    EXPECT_TRUE(done);
    if (wantMore > 0) {
      --wantMore;
      done = false;
    }
  }
  TObject* lastSender = nullptr;
};

// Puts this copy's own objects back after a test that replaces them.
struct ContextGuard {
  ~ContextGuard() {
    SetApplication(nullptr);
    SetScreen(nullptr);
  }
};

} // namespace

TEST(Application, IdleStepRaisesOnIdleWithDone) {
  ObjectPtr<TApplication> app(CreateObject<TApplication>(nullptr));
  EXPECT_TRUE(app->Idle()); // no handler: done
  TIdleCounter counter;
  app->SetOnIdle(TIdleEvent::bind<&TIdleCounter::OnIdle>(&counter));
  EXPECT_TRUE(app->Idle());
  EXPECT_EQ(counter.calls, 1);
  EXPECT_EQ(counter.lastSender, app.get());
  counter.wantMore = 1;
  EXPECT_FALSE(app->Idle());
  EXPECT_TRUE(app->Idle());
}

TEST(Application, RunWithoutWindowSystemDrainsIdleRequests) {
  ObjectPtr<TApplication> app(CreateObject<TApplication>(nullptr));
  TIdleCounter counter;
  counter.wantMore = 3;
  app->SetOnIdle(TIdleEvent::bind<&TIdleCounter::OnIdle>(&counter));
  app->Run();
  EXPECT_EQ(counter.calls, 4);
  EXPECT_FALSE(app->Terminated());
  app->Terminate();
  app->Run();
  EXPECT_EQ(counter.calls, 4);
}

TEST(Application, CurrentObjectsArePerCopyAndReplaceable) {
  ContextGuard guard;
  TApplication* own = Application();
  ASSERT_NE(own, nullptr);
  EXPECT_EQ(own, OwnApplicationObject());
  EXPECT_EQ(Screen(), OwnScreenObject());

  ObjectPtr<TApplication> other(CreateObject<TApplication>(nullptr));
  ObjectPtr<TScreen> otherScreen(CreateObject<TScreen>(nullptr));
  SetApplication(other.get());
  SetScreen(otherScreen.get());
  EXPECT_EQ(Application(), other.get());
  EXPECT_EQ(Screen(), otherScreen.get());
  EXPECT_EQ(OwnApplicationObject(), own);

  SetApplication(own);
  SetScreen(nullptr);
  EXPECT_EQ(Application(), own);
  EXPECT_EQ(Screen(), OwnScreenObject());
}

TEST(Application, MainFormIsForgottenWhenFreed) {
  ObjectPtr<TApplication> app(CreateObject<TApplication>(nullptr));
  TForm* first = app->CreateForm<TForm>();
  TForm* second = app->CreateForm<TForm>();
  EXPECT_EQ(app->MainForm(), first);
  FreeObject(first);
  EXPECT_EQ(app->MainForm(), nullptr);
  EXPECT_EQ(app->ComponentCount(), 1);

  // A main form that the application does not own.
  TForm* loose = CreateObject<TForm>(nullptr);
  app->SetMainForm(loose);
  FreeObject(loose);
  EXPECT_EQ(app->MainForm(), nullptr);
  EXPECT_EQ(app->Components(0), second);
}

TEST(Application, ReleaseLaterFreesAtTheNextIdleStep) {
  ObjectPtr<TApplication> app(CreateObject<TApplication>(nullptr));
  std::vector<std::string> freed;
  struct TWatched : TComponent {
    std::vector<std::string>* log;
    TWatched(std::vector<std::string>* l) : TComponent(nullptr), log(l) {}
    ~TWatched() override { log->push_back("freed"); }
  };
  auto* a = new TWatched(&freed);
  auto* b = new TWatched(&freed);
  app->ReleaseLater(a);
  app->ReleaseLater(a); // twice is once
  app->ReleaseLater(b);
  delete b; // freed elsewhere meanwhile: the queue forgets it
  EXPECT_EQ(freed.size(), 1u);
  app->ProcessMessages(); // may run inside the code of a queued component
  EXPECT_EQ(freed.size(), 1u);
  app->Idle();
  EXPECT_EQ(freed.size(), 2u);
  app->Idle();
  EXPECT_EQ(freed.size(), 2u);
}

TEST(Application, ExeNameIsThisProgram) {
  const std::string exe = TApplication::ExeName();
  EXPECT_NE(exe.find("toolkit_tests"), std::string::npos) << exe;
  EXPECT_EQ(exe.front(), '/');
}

TEST(Screen, TracksFormsAndForgetsFreedOnes) {
  ObjectPtr<TScreen> screen(CreateObject<TScreen>(nullptr));
  TForm* a = CreateObject<TForm>(nullptr);
  TForm* b = CreateObject<TForm>(nullptr);
  screen->AddForm(a);
  screen->AddForm(b);
  screen->AddForm(a);
  EXPECT_EQ(screen->FormCount(), 2);
  FreeObject(a);
  ASSERT_EQ(screen->FormCount(), 1);
  EXPECT_EQ(screen->Forms(0), b);
  screen.reset();
  FreeObject(b); // the screen went first: nothing refers back to it
  EXPECT_GT(OwnScreenObject()->Width(), 0);
}

TEST(Dialogs, ShowMessageGoesThroughTheHandler) {
  std::vector<std::string> shown;
  MessageBoxHandler previous =
      SetMessageBoxHandler([&](const std::string& text) { shown.push_back(text); });
  ShowMessage("Error loading Kelvarin initialization file.\r\nline two");
  ShowMessage("");
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0], "Error loading Kelvarin initialization file.\r\nline two");
  MessageBoxHandler mine = SetMessageBoxHandler(previous);
  EXPECT_TRUE(static_cast<bool>(mine));
}

TEST(Dialogs, WithoutHandlerOrWindowSystemTheTextGoesToStandardError) {
  MessageBoxHandler previous = SetMessageBoxHandler({});
  ::testing::internal::CaptureStderr();
  ShowMessage("Host main menu not found.");
  const std::string err = ::testing::internal::GetCapturedStderr();
  SetMessageBoxHandler(previous);
  EXPECT_EQ(err, "Host main menu not found.\n");
}

namespace {

class TFakeBackend : public TGuiBackend {
public:
  std::vector<std::string> calls;
  void runEventLoop(TApplication& app) override {
    calls.push_back("run");
    while (!quit_)
      if (app.Idle()) break;
  }
  void processMessages() override { calls.push_back("process"); }
  void quit() override {
    calls.push_back("quit");
    quit_ = true;
  }
  void showMessage(const std::string& text) override { calls.push_back("box:" + text); }
  std::unique_ptr<TControlPeer> createPeer(TControl&) override { return nullptr; }
  int screenWidth() const override { return 1920; }
  int screenHeight() const override { return 1080; }

private:
  bool quit_ = false;
};

} // namespace

TEST(Application, DelegatesToAWindowSystemWhenOneIsRegistered) {
  ContextGuard guard;
  ObjectPtr<TApplication> app(CreateObject<TApplication>(nullptr));
  ObjectPtr<TScreen> screen(CreateObject<TScreen>(nullptr));
  TFakeBackend gui;
  app->SetGuiBackend(&gui);
  SetApplication(app.get());
  SetScreen(screen.get());
  EXPECT_EQ(GuiBackend(), &gui);
  EXPECT_EQ(screen->Width(), 1920);

  MessageBoxHandler previous = SetMessageBoxHandler({});
  ShowMessage("hello");
  SetMessageBoxHandler(previous);

  app->ProcessMessages();
  app->Terminate();
  app->Run();
  EXPECT_EQ(gui.calls, (std::vector<std::string>{"box:hello", "process", "quit"}));
}
