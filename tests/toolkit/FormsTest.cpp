// Forms and controls built from stored data the way the sample host and the
// Splash plug-in are, and the close rules.
#include "keltk/Forms.h"

#include "ProductForms.h"
#include "keltk/Application.h"
#include "keltk/Exception.h"
#include "keltk/ExtCtrls.h"
#include "keltk/Gauges.h"
#include "keltk/Menus.h"
#include "keltk/PropInfo.h"
#include "keltk/Reader.h"
#include "keltk/Resources.h"
#include "keltk/StdCtrls.h"
#include "keltk/Writer.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace keltk;

namespace {

std::vector<std::string> events;

class THostForm : public TForm {
public:
  using TForm::TForm;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }

  void FormClose(TObject*, TCloseAction& action) {
    events.push_back("FormClose");
    action = caFree;
  }
  void Button_LoadPluginClick(TObject* sender) {
    events.push_back("click " + static_cast<TComponent*>(sender)->Name());
  }
  template <class T> T* part(const char* name) const { return ObjectAs<T>(FindComponent(name)); }
};

// Registered under the host's class name, which its stored form names.
const TClassInfo& THostForm::StaticClass() {
  static TClassInfo info("TForm1", &TForm::StaticClass(), [](TClassInfo& i) {
    ClassBuilder<THostForm> b(i);
    b.method<&THostForm::FormClose>("FormClose");
    b.method<&THostForm::Button_LoadPluginClick>("Button_LoadPluginClick");
  });
  return info;
}

// Registered as the Splash plug-in's form class.
class TSplashWindow : public TForm {
public:
  using TForm::TForm;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }
  void OnFormClose(TObject*, TCloseAction& action) { action = caFree; }
  template <class T> T* part(const char* name) const { return ObjectAs<T>(FindComponent(name)); }
};

const TClassInfo& TSplashWindow::StaticClass() {
  static TClassInfo info("TSplashForm", &TForm::StaticClass(), [](TClassInfo& i) {
    ClassBuilder<TSplashWindow>(i).method<&TSplashWindow::OnFormClose>("OnFormClose");
  });
  return info;
}

using kelvarin::test::HostFormWithoutManager;
using kelvarin::test::SplashForm;

struct FormResources {
  FormResources() {
    RegisterFormResource(HostFormWithoutManager(), &THostForm::StaticClass());
    RegisterFormResource(SplashForm(), &TSplashWindow::StaticClass());
  }
  ~FormResources() {
    UnregisterFormResource(HostFormWithoutManager());
    UnregisterFormResource(SplashForm());
  }
};

class FormTest : public ::testing::Test {
protected:
  void SetUp() override {
    events.clear();
    app_.reset(CreateObject<TApplication>(nullptr));
    SetApplication(app_.get());
  }
  void TearDown() override {
    SetApplication(nullptr);
    app_.reset();
  }
  FormResources resources_;
  ObjectPtr<TApplication> app_;
};

} // namespace

TEST_F(FormTest, HostFormComesFromItsStoredData) {
  ObjectPtr<THostForm> form(CreateObject<THostForm>(nullptr));
  EXPECT_EQ(form->Name(), "Form1");
  EXPECT_EQ(form->Caption(), " Sample 001 - Do Nothing");
  EXPECT_EQ(form->Left(), 364);
  EXPECT_EQ(form->Width(), 318);
  EXPECT_EQ(form->Height(), 153);
  EXPECT_EQ(form->FormStyle(), fsMDIForm);
  EXPECT_EQ(form->Position(), poScreenCenter);
  EXPECT_EQ(form->DefaultMonitor(), dmDesktop);
  EXPECT_EQ(form->Color(), clBtnFace);
  EXPECT_EQ(form->Font()->Name(), "MS Sans Serif");
  EXPECT_FALSE(form->Visible());

  auto* button = form->part<TButton>("Button_LoadPlugin");
  auto* edit = form->part<TEdit>("Edit_PluginName");
  ASSERT_NE(button, nullptr);
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(button->Parent(), form.get());
  EXPECT_EQ(button->Caption(), "Load Specified Plugin");
  EXPECT_EQ(button->BoundsRect(), (TRect{74, 58, 236, 83}));
  EXPECT_TRUE(button->ParentFont());
  EXPECT_EQ(button->Font()->Name(), "MS Sans Serif");
  EXPECT_EQ(edit->Text(), "DoNothing.kel");
  EXPECT_FALSE(edit->ParentFont());
  EXPECT_EQ(edit->Font()->Name(), "Courier New");
  EXPECT_EQ(edit->Font()->Height(), -12);
  EXPECT_EQ(button->TabOrder(), 0);
  EXPECT_EQ(edit->TabOrder(), 1);

  button->Click();
  EXPECT_EQ(events, std::vector<std::string>{"click Button_LoadPlugin"});
}

TEST_F(FormTest, SplashFormComesFromItsStoredData) {
  ObjectPtr<TSplashWindow> form(CreateObject<TSplashWindow>(nullptr));
  EXPECT_EQ(form->BorderStyle(), bsNone);
  EXPECT_EQ(form->ClientWidth(), 304);
  EXPECT_EQ(form->ClientHeight(), 60);
  EXPECT_EQ(form->Width(), 304);
  EXPECT_EQ(form->FormStyle(), fsStayOnTop);
  auto* bevel = form->part<TBevel>("Bevel_Border");
  auto* label = form->part<TLabel>("Label_Msg");
  auto* gauge = form->part<TGauge>("Gauge");
  ASSERT_NE(bevel, nullptr);
  ASSERT_NE(label, nullptr);
  ASSERT_NE(gauge, nullptr);
  EXPECT_EQ(bevel->Style(), bsRaised);
  EXPECT_EQ(bevel->Shape(), bsBox);
  EXPECT_FALSE(label->AutoSize());
  EXPECT_TRUE(label->Transparent());
  EXPECT_EQ(label->Caption(), "?");
  EXPECT_EQ(label->Width(), 261); // fixed size survives the caption
  EXPECT_EQ(label->Font()->Color(), RGB(91, 0, 91));
  EXPECT_EQ(gauge->Progress(), 50);
  EXPECT_EQ(gauge->Kind(), gkHorizontalBar);
  EXPECT_EQ(gauge->BackColor(), clSilver);
  EXPECT_EQ(gauge->ForeColor(), RGB(91, 0, 91));
  EXPECT_FALSE(gauge->ParentFont());
  EXPECT_EQ(gauge->Font()->Height(), -11);

  form->Show();
  EXPECT_EQ(form->Left(), (Screen()->Width() - 304) / 2); // centred on the first show
  EXPECT_EQ(form->Top(), (Screen()->Height() - 60) / 2);
}

TEST_F(FormTest, StoredDataWrittenBackReadsTheSame) {
  ObjectPtr<TSplashWindow> form(CreateObject<TSplashWindow>(nullptr));
  const std::string text = WriteComponentToText(form.get());
  EXPECT_NE(text.find("BorderStyle = bsNone"), std::string::npos) << text;
  EXPECT_NE(text.find("ClientWidth = 304"), std::string::npos) << text;
  EXPECT_EQ(text.find("\n  Width = "), std::string::npos) << text; // the form's own
  EXPECT_NE(text.find("Style = bsRaised"), std::string::npos) << text;
  EXPECT_NE(text.find("Progress = 50"), std::string::npos) << text;
  EXPECT_NE(text.find("OnClose = OnFormClose"), std::string::npos) << text;
  // A control with a font of its own writes it; one that follows the form's writes none.
  const std::size_t gauge = text.find("object Gauge: TGauge");
  ASSERT_NE(gauge, std::string::npos);
  EXPECT_NE(text.find("ParentFont = False", gauge), std::string::npos) << text;
  EXPECT_NE(text.find("Font.Name = 'MS Sans Serif'", gauge), std::string::npos) << text;
  ObjectPtr<THostForm> host(CreateObject<THostForm>(nullptr));
  const std::string hostText = WriteComponentToText(host.get());
  const std::size_t button = hostText.find("object Button_LoadPlugin: TButton");
  const std::size_t edit = hostText.find("object Edit_PluginName: TEdit");
  ASSERT_LT(button, edit) << hostText;
  EXPECT_EQ(hostText.substr(button, edit - button).find("Font."), std::string::npos) << hostText;

  UnregisterFormResource(SplashForm());
  RegisterFormResource(text, &TSplashWindow::StaticClass());
  ObjectPtr<TSplashWindow> again(CreateObject<TSplashWindow>(nullptr));
  UnregisterFormResource(text);
  RegisterFormResource(SplashForm(), &TSplashWindow::StaticClass());
  EXPECT_EQ(WriteComponentToText(again.get()), text);
}

TEST_F(FormTest, FormWithoutStoredDataRaisesUnlessBare) {
  class TNoData : public TForm {
  public:
    using TForm::TForm;
    static const TClassInfo& StaticClass() {
      static TClassInfo info("TNoData", &TForm::StaticClass());
      return info;
    }
    const TClassInfo& ClassType() const override { return StaticClass(); }
  };
  EXPECT_THROW(CreateObject<TNoData>(nullptr), EResNotFound);
  ObjectPtr<TNoData> bare(CreateObject<TNoData>(nullptr, CreateNew));
  EXPECT_EQ(bare->ComponentCount(), 0);
  ObjectPtr<TForm> plain(CreateObject<TForm>(nullptr));
  EXPECT_EQ(plain->Caption(), "");
}

namespace {

class TCloser : public TObject {
public:
  TCloseAction answer = caHide;
  int closes = 0;
  void Close(TObject*, TCloseAction& action) {
    ++closes;
    EXPECT_EQ(action, expectedDefault);
    action = answer;
  }
  TCloseAction expectedDefault = caHide;
};

struct Watched {
  bool freed = false;
};

class TWatchedForm : public TForm {
public:
  TWatchedForm(TComponent* owner, Watched* w) : TForm(owner, CreateNew), watched(w) {}
  ~TWatchedForm() override { watched->freed = true; }
  Watched* watched;
};

} // namespace

TEST_F(FormTest, CloseWithEachAction) {
  TCloser closer;
  Watched watched;
  auto* form = CreateObject<TWatchedForm>(nullptr, &watched);
  form->SetOnClose(TCloseEvent::bind<&TCloser::Close>(&closer));

  form->Show();
  closer.answer = caNone;
  form->Close();
  EXPECT_TRUE(form->Visible());

  closer.answer = caHide;
  form->Close();
  EXPECT_FALSE(form->Visible());

  form->Show();
  closer.answer = caMinimize;
  form->Close();
  EXPECT_TRUE(form->Visible());
  EXPECT_EQ(form->WindowState(), wsMinimized);

  closer.answer = caFree;
  form->Close();
  EXPECT_FALSE(watched.freed); // not inside the code that closes it
  EXPECT_FALSE(form->Visible());
  app_->Idle();
  EXPECT_TRUE(watched.freed);
  EXPECT_EQ(closer.closes, 4);
  EXPECT_FALSE(app_->Terminated());
}

TEST_F(FormTest, ClosingTheMainFormEndsTheApplication) {
  Watched watched;
  TCloser closer;
  closer.answer = caFree;
  auto* form = CreateObject<TWatchedForm>(app_.get(), &watched);
  app_->SetMainForm(form);
  form->SetOnClose(TCloseEvent::bind<&TCloser::Close>(&closer));
  form->Show();
  form->Close();
  EXPECT_TRUE(app_->Terminated());
  EXPECT_FALSE(watched.freed);
  app_->Run(); // returns at once and frees what was released
  EXPECT_TRUE(watched.freed);
  EXPECT_EQ(app_->MainForm(), nullptr);
}

TEST_F(FormTest, CloseQueryCanRefuseAndMdiChildrenMinimize) {
  struct TGuard : TObject {
    bool allow = false;
    void Query(TObject*, bool& canClose) { canClose = allow; }
  } guard;
  TCloser closer;
  ObjectPtr<TForm> form(CreateObject<TForm>(nullptr, CreateNew));
  form->SetOnCloseQuery(TCloseQueryEvent::bind<&TGuard::Query>(&guard));
  form->SetOnClose(TCloseEvent::bind<&TCloser::Close>(&closer));
  form->Show();
  form->Close();
  EXPECT_EQ(closer.closes, 0);
  EXPECT_TRUE(form->Visible());

  guard.allow = true;
  form->SetFormStyle(fsMDIChild);
  closer.expectedDefault = caMinimize;
  closer.answer = caMinimize;
  form->Close();
  EXPECT_EQ(form->WindowState(), wsMinimized);
  form->SetBorderIcons(1u << biSystemMenu);
  closer.expectedDefault = caNone;
  form->Close();
  EXPECT_EQ(closer.closes, 2);
}

TEST_F(FormTest, ScreenListsFormsAndMenuReferenceIsDropped) {
  ObjectPtr<TForm> form(CreateObject<TForm>(nullptr, CreateNew));
  bool listed = false;
  for (int i = 0; i < Screen()->FormCount(); ++i)
    listed |= Screen()->Forms(i) == form.get();
  EXPECT_TRUE(listed);
  TMainMenu* menu = CreateObject<TMainMenu>(form.get());
  form->SetMenu(menu);
  EXPECT_EQ(form->Menu(), menu);
  FreeObject(menu);
  EXPECT_EQ(form->Menu(), nullptr);
  const int before = Screen()->FormCount();
  form.reset();
  EXPECT_EQ(Screen()->FormCount(), before - 1);
}

TEST_F(FormTest, CreateAndDestroyEventsFollowOldCreateOrder) {
  struct TSink : TObject {
    std::vector<std::string> log;
    void Created(TObject*) { log.push_back("create"); }
    void Destroyed(TObject*) { log.push_back("destroy"); }
  } sink;
  TForm* form = CreateObject<TForm>(nullptr, CreateNew);
  form->SetOnDestroy(TNotifyEvent::bind<&TSink::Destroyed>(&sink));
  FreeObject(form);
  EXPECT_EQ(sink.log, std::vector<std::string>{"destroy"});
}

TEST_F(FormTest, ControlsFollowTheirParent) {
  ObjectPtr<TForm> form(CreateObject<TForm>(nullptr, CreateNew));
  form->SetBorderStyle(bsNone);
  form->SetBounds(0, 0, 200, 100);
  TLabel* label = CreateObject<TLabel>(form.get());
  label->SetParent(form.get());
  form->Font()->SetName("Courier New");
  EXPECT_EQ(label->Font()->Name(), "Courier New");
  label->Font()->SetHeight(-20);
  EXPECT_FALSE(label->ParentFont());
  form->Font()->SetName("Arial");
  EXPECT_EQ(label->Font()->Name(), "Courier New");
  label->SetParentFont(true);
  EXPECT_EQ(label->Font()->Name(), "Arial");
  EXPECT_EQ(label->Font()->Height(), -11);

  TBevel* bevel = CreateObject<TBevel>(form.get());
  bevel->SetParent(form.get());
  bevel->SetAlign(alClient);
  EXPECT_EQ(bevel->BoundsRect(), (TRect{0, 0, 200, 100}));
  form->SetBounds(0, 0, 300, 50);
  EXPECT_EQ(bevel->BoundsRect(), (TRect{0, 0, 300, 50}));

  EXPECT_EQ(form->ControlCount(), 2);
  FreeObject(label);
  EXPECT_EQ(form->ControlCount(), 1);
  EXPECT_THROW(form->SetParent(form.get()), EComponentError);
}

TEST_F(FormTest, LabelSizesItselfToItsCaption) {
  ObjectPtr<TLabel> label(CreateObject<TLabel>(nullptr));
  label->SetCaption("&Message");
  const int width = label->Width();
  EXPECT_GT(width, 0);
  EXPECT_EQ(label->DisplayText(), "Message");
  label->SetCaption("A much longer message");
  EXPECT_GT(label->Width(), width);
  label->SetAutoSize(false);
  label->SetWidth(10);
  label->SetCaption("Longer still, and fixed");
  EXPECT_EQ(label->Width(), 10);
}

TEST_F(FormTest, EditLimitsAndReportsItsText) {
  struct TSink : TObject {
    int changes = 0;
    void Changed(TObject*) { ++changes; }
  } sink;
  ObjectPtr<TEdit> edit(CreateObject<TEdit>(nullptr));
  edit->SetOnChange(TNotifyEvent::bind<&TSink::Changed>(&sink));
  edit->SetText("Splash.kel");
  edit->SetText("Splash.kel");
  edit->SetMaxLength(6);
  EXPECT_EQ(edit->Text(), "Splash");
  EXPECT_EQ(sink.changes, 2);
  EXPECT_EQ(edit->Color(), clWindow);
}

TEST(Gauge, KeepsProgressWithinItsRange) {
  ObjectPtr<TGauge> g(CreateObject<TGauge>(nullptr));
  EXPECT_EQ(g->MinValue(), 0);
  EXPECT_EQ(g->MaxValue(), 100);
  g->SetProgress(150);
  EXPECT_EQ(g->Progress(), 100);
  g->SetProgress(-3);
  EXPECT_EQ(g->Progress(), 0);

  // The Splash sequence: minimum, then maximum, then progress.
  g->SetMinValue(0);
  g->SetMaxValue(3);
  g->SetProgress(0);
  for (int i = 0; i < 3; ++i)
    g->SetProgress(g->Progress() + 1);
  EXPECT_EQ(g->Progress(), 3);
  g->SetProgress(g->Progress() + 1);
  EXPECT_EQ(g->Progress(), 3);
  EXPECT_EQ(g->PercentDone(), 100);

  g->SetMaxValue(5);
  g->SetMinValue(5); // minimum equal to maximum is a range
  EXPECT_EQ(g->Progress(), 5);
  g->SetProgress(g->Progress() + 1);
  EXPECT_EQ(g->Progress(), 5);
  EXPECT_EQ(g->PercentDone(), 100) << "at its one value: full";
}

TEST(Gauge, RefusesARangeItCannotTake) {
  ObjectPtr<TGauge> g(CreateObject<TGauge>(nullptr));
  g->SetProgress(40);
  EXPECT_THROW(g->SetMinValue(101), EInvalidOperation);
  EXPECT_EQ(g->MinValue(), 0);
  EXPECT_THROW(g->SetMaxValue(-1), EInvalidOperation);
  EXPECT_EQ(g->MaxValue(), 100);
  EXPECT_EQ(g->Progress(), 40);
  g->SetMinValue(10);
  EXPECT_THROW(g->SetMaxValue(9), EInvalidOperation);
  g->SetMaxValue(20);
  EXPECT_EQ(g->Progress(), 20);
  EXPECT_EQ(g->PercentDone(), 100);
}

TEST(Toolkit, StoredDataCanNameEveryComponentClass) {
  for (const char* name : {"TForm", "TDataModule", "TButton", "TEdit", "TLabel", "TBevel", "TGauge",
                           "TMenuItem", "TMainMenu"}) {
    const TClassInfo* cls = FindClass(name);
    ASSERT_NE(cls, nullptr) << name;
    EXPECT_EQ(cls->factoryKind, ClassFactoryKind::Component) << name;
  }
}

namespace {

class TMenuForm : public TForm {
public:
  using TForm::TForm;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }
  void RunClick(TObject* sender) {
    events.push_back("run " + static_cast<TMenuItem*>(sender)->Caption());
  }
};

const TClassInfo& TMenuForm::StaticClass() {
  static TClassInfo info("TMenuForm", &TForm::StaticClass(), [](TClassInfo& i) {
    ClassBuilder<TMenuForm>(i).method<&TMenuForm::RunClick>("RunClick");
  });
  return info;
}

constexpr const char* kMenuForm = R"(object MenuForm: TMenuForm
  Caption = 'Host'
  Menu = MainMenu1
  OldCreateOrder = False
  PixelsPerInch = 96
  TextHeight = 13
  object MainMenu1: TMainMenu
    object File1: TMenuItem
      Caption = '&File'
      object Run1: TMenuItem
        Caption = '&Run'
        ShortCut = 16466
        OnClick = RunClick
      end
    end
    object Plugins1: TMenuItem
      Caption = '&Plugins'
      GroupIndex = 2
      Hint = 'Loaded plug-ins'
    end
  end
end
)";

} // namespace

TEST_F(FormTest, HostMenuIsReachedThroughTheMainForm) {
  RegisterFormResource(kMenuForm, &TMenuForm::StaticClass());
  TMenuForm* form = app_->CreateForm<TMenuForm>();
  UnregisterFormResource(kMenuForm);
  ASSERT_EQ(app_->MainForm(), form);
  TMainMenu* menu = app_->MainForm()->Menu();
  ASSERT_NE(menu, nullptr);
  TMenuItem* bar = menu->Items();
  ASSERT_EQ(bar->Count(), 2);
  EXPECT_EQ(bar->Items(0)->Caption(), "&File");
  EXPECT_EQ(bar->Items(1)->GroupIndex(), 2);
  EXPECT_EQ(bar->Items(1)->Hint(), "Loaded plug-ins");
  TMenuItem* run = bar->Items(0)->Items(0);
  EXPECT_EQ(run->ShortCut(), 16466);
  EXPECT_EQ(run->Owner(), form);
  run->Click();
  EXPECT_EQ(events, std::vector<std::string>{"run &Run"});

  // Written back, the items nest as they were read.
  const std::string text = WriteComponentToText(form);
  const std::string stored = kMenuForm;
  const auto menuPart = [](const std::string& t) { return t.substr(t.find("  object MainMenu1")); };
  EXPECT_EQ(menuPart(text), menuPart(stored)) << text;
  EXPECT_NE(text.find("Menu = MainMenu1"), std::string::npos);
}

TEST_F(FormTest, LayoutAndModalPropertiesAreStoredAndAModalFormNeedsAWindowSystem) {
  constexpr std::string_view text = R"(object Dialog: TForm
  Constraints.MinWidth = 200
  object OK: TButton
    Anchors = [akRight, akBottom]
    ModalResult = mrOk
  end
end
)";
  ObjectPtr<TForm> form(CreateObject<TForm>(nullptr, CreateNew));
  ReadComponentFromText(text, form.get());
  const std::string written = WriteComponentToText(form.get());
  for (const char* line :
       {"Constraints.MinWidth = 200", "Anchors = [akRight, akBottom]", "ModalResult = mrOk"})
    EXPECT_NE(written.find(line), std::string::npos) << line << " in\n" << written;

  EXPECT_THROW(form->ShowModal(), EInvalidOperation);
  EXPECT_FALSE(form->Visible());
}
