// Anchors and size limits hold when the window is resized; Return, Escape, Tab
// and modal forms work as the stored form says.
#include "GuiTestSupport.h"

#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>
#include <fmt/format.h>
#include <keltk/Exception.h>
#include <keltk/Reader.h>

using namespace guitest;

namespace {

class LayoutAndKeyboardTest : public GuiTest {};

Owned<TForm> formFromText(std::string_view text) {
  Owned<TForm> form(CreateObject<TForm>(nullptr, CreateNew));
  ReadComponentFromText(text, form.get());
  return form;
}

QWidget* widgetOf(TForm& form, const char* name) {
  return PeerWidget(*ObjectAs<TControl>(form.FindComponent(name)));
}

TRect rectOf(const QWidget* w) {
  return {w->x(), w->y(), w->x() + w->width(), w->y() + w->height()};
}

std::string show(const TRect& r) {
  return fmt::format("({},{} {}x{})", r.Left, r.Top, r.Width(), r.Height());
}

void press(QWidget* w, Qt::Key key) {
  QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier);
  QKeyEvent up(QEvent::KeyRelease, key, Qt::NoModifier);
  QApplication::sendEvent(w, &down);
  QApplication::sendEvent(w, &up);
}

// The controls Tab visits, by name, going round once from `from`.
std::string tabRound(TForm& form, const char* from) {
  QWidget* start = widgetOf(form, from);
  std::string names = std::string(from) + " ";
  for (QWidget* w = start->nextInFocusChain(); w != start; w = w->nextInFocusChain()) {
    if ((w->focusPolicy() & Qt::TabFocus) == 0) continue;
    for (int i = 0; i < form.ControlCount(); ++i)
      if (PeerWidget(*form.Controls(i)) == w) names += form.Controls(i)->Name() + " ";
  }
  return names;
}

} // namespace

TEST_F(LayoutAndKeyboardTest, AnchoredControlsFollowTheResizedWindow) {
  // The window grows by 100 x 60 from a client area of 300 x 200.
  struct Row {
    const char* anchors;
    TRect expected;
  };
  const Row rows[] = {
      {"[akLeft, akTop]", {10, 20, 90, 45}},
      {"[akRight, akBottom]", {110, 80, 190, 105}},
      {"[akLeft, akTop, akRight, akBottom]", {10, 20, 190, 105}},
      {"[akLeft, akRight]", {10, 50, 190, 75}},
      {"[]", {60, 50, 140, 75}},
  };
  for (const Row& row : rows)
    for (bool inContainer : {false, true}) {
      SCOPED_TRACE(fmt::format("{}{}", row.anchors, inContainer ? " in a container" : ""));
      Owned<TForm> form = formFromText(fmt::format(R"(object Form: TForm
  ClientWidth = 300
  ClientHeight = 200
  object Button: TButton
    Left = 10
    Top = 20
    Width = 80
    Height = 25
    Anchors = {}
  end
end
)",
                                                   row.anchors));
      auto* button = ObjectAs<TControl>(form->FindComponent("Button"));
      ASSERT_NE(button, nullptr);
      if (inContainer) {
        // A container aligned to the client area passes the resize on.
        auto* box = CreateObject<TWinControl>(form.get());
        box->SetParent(form.get());
        box->SetAlign(alClient);
        button->SetParent(box);
      }
      form->Show();
      QWidget* window = PeerWidget(*form);
      window->resize(400, 260);
      ASSERT_TRUE(waitUntil([&] { return form->ClientWidth() == 400; }));
      EXPECT_EQ(show(button->BoundsRect()), show(row.expected));
      EXPECT_EQ(show(rectOf(PeerWidget(*button))), show(row.expected));
    }
}

TEST_F(LayoutAndKeyboardTest, ConstraintsRefuseASmallerSize) {
  Owned<TForm> form = formFromText(R"(object Form: TForm
  ClientWidth = 300
  ClientHeight = 200
  Constraints.MinWidth = 200
  Constraints.MinHeight = 150
end
)");
  form->Show();
  QWidget* window = PeerWidget(*form);
  EXPECT_EQ(window->minimumSize(),
            QSize(200 - TForm::FrameWidth(bsSizeable), 150 - TForm::FrameHeight(bsSizeable)));
  form->SetBounds(form->Left(), form->Top(), 50, 40);
  EXPECT_EQ(form->Width(), 200);
  EXPECT_EQ(form->Height(), 150);
  EXPECT_EQ(window->size(), QSize(form->ClientWidth(), form->ClientHeight()));
}

TEST_F(LayoutAndKeyboardTest, ReturnEscapeAndButtonsEndAModalFormWithTheirResult) {
  constexpr std::string_view dialog = R"(object Dialog: TForm
  ClientWidth = 240
  ClientHeight = 100
  object Edit: TEdit
    TabOrder = 0
  end
  object OK: TButton
    Default = True
    ModalResult = mrOk
    TabOrder = 1
  end
  object Cancel: TButton
    Cancel = True
    ModalResult = mrCancel
    TabOrder = 2
  end
  object Yes: TButton
    ModalResult = mrYes
    TabOrder = 3
  end
end
)";
  struct Row {
    const char* what;
    std::function<void(TForm&)> act;
    TModalResult expected;
  };
  const Row rows[] = {
      {"Return in the edit", [](TForm& f) { press(widgetOf(f, "Edit"), Qt::Key_Return); }, mrOk},
      {"Return on a focused button", [](TForm& f) { press(widgetOf(f, "Yes"), Qt::Key_Return); },
       mrYes},
      {"Escape in the edit", [](TForm& f) { press(widgetOf(f, "Edit"), Qt::Key_Escape); },
       mrCancel},
      {"Yes clicked", [](TForm& f) { qobject_cast<QPushButton*>(widgetOf(f, "Yes"))->click(); },
       mrYes},
      {"window closed", [](TForm& f) { PeerWidget(f)->close(); }, mrCancel},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Owned<TForm> form = formFromText(dialog);
    bool modalWindow = false;
    whenModal([&](QWidget* modal) {
      modalWindow = modal == PeerWidget(*form) && modal->windowModality() == Qt::ApplicationModal;
      row.act(*form);
    });
    EXPECT_EQ(form->ShowModal(), row.expected);
    EXPECT_TRUE(modalWindow);
    EXPECT_FALSE(form->Visible());
    EXPECT_FALSE(form->Modal());
  }
  // A window of no size is never mapped: nobody could end its loop.
  Owned<TForm> empty = formFromText("object Empty: TForm\nend\n");
  empty->SetBounds(0, 0, 0, 0);
  EXPECT_THROW(empty->ShowModal(), keltk::EInvalidOperation);
  EXPECT_FALSE(empty->Visible());
}

// Released while its loop runs, outside any event handler (a host's own call):
// the idle steps of the loop must not free it under ShowModal's feet.
TEST_F(LayoutAndKeyboardTest, AFormReleasedDuringItsModalLoopGoesOnceTheLoopIsOver) {
  TForm* form =
      formFromText("object Dialog: TForm\n  ClientWidth = 200\n  ClientHeight = 80\nend\n")
          .release();
  QPointer<QWidget> window;
  whenModal([&](QWidget* modal) {
    window = modal;
    form->Release();
  });
  EXPECT_EQ(form->ShowModal(), mrCancel);
  ASSERT_FALSE(window.isNull());
  Application()->FreeReleased();
  EXPECT_TRUE(window.isNull());
}

TEST_F(LayoutAndKeyboardTest, TabFollowsTabOrderAndSkipsControlsWithoutTabStop) {
  Owned<TForm> form = formFromText(R"(object Form: TForm
  object A: TEdit
    TabOrder = 2
  end
  object B: TEdit
    TabOrder = 0
  end
  object C: TEdit
    TabOrder = 1
  end
end
)");
  form->Show();
  auto edit = [&](const char* name) { return ObjectAs<TEdit>(form->FindComponent(name)); };
  EXPECT_EQ(tabRound(*form, "B"), "B C A ");
  edit("C")->SetTabOrder(0);
  EXPECT_EQ(tabRound(*form, "C"), "C B A ");
  edit("B")->SetTabStop(false);
  EXPECT_EQ(tabRound(*form, "C"), "C A ");
}
