#include "keltk/Forms.h"

#include "DesignedLifecycle.h"
#include "keltk/Application.h"
#include "keltk/Backend.h"
#include "keltk/Exception.h"
#include "keltk/Menus.h"
#include "keltk/PropInfo.h"
#include "keltk/StdCtrls.h"

#include <utility>

namespace keltk {

const EnumInfo& FormBorderStyleInfo() {
  static const EnumInfo info =
      EnumInfo::sequence("TFormBorderStyle", {"bsNone", "bsSingle", "bsSizeable", "bsDialog",
                                              "bsToolWindow", "bsSizeToolWin"});
  return info;
}

const EnumInfo& BorderIconInfo() {
  static const EnumInfo info =
      EnumInfo::sequence("TBorderIcon", {"biSystemMenu", "biMinimize", "biMaximize", "biHelp"});
  return info;
}

const EnumInfo& FormStyleInfo() {
  static const EnumInfo info =
      EnumInfo::sequence("TFormStyle", {"fsNormal", "fsMDIChild", "fsMDIForm", "fsStayOnTop"});
  return info;
}

const EnumInfo& PositionInfo() {
  static const EnumInfo info = EnumInfo::sequence(
      "TPosition", {"poDesigned", "poDefault", "poDefaultPosOnly", "poDefaultSizeOnly",
                    "poScreenCenter", "poDesktopCenter", "poMainFormCenter", "poOwnerFormCenter"});
  return info;
}

const EnumInfo& DefaultMonitorInfo() {
  static const EnumInfo info = EnumInfo::sequence(
      "TDefaultMonitor", {"dmDesktop", "dmPrimary", "dmMainForm", "dmActiveForm"});
  return info;
}

const EnumInfo& WindowStateInfo() {
  static const EnumInfo info =
      EnumInfo::sequence("TWindowState", {"wsNormal", "wsMinimized", "wsMaximized"});
  return info;
}

namespace {

// The first button inside `parent` (at any depth) that `wanted` accepts and that
// the user could press: visible and enabled, as are the containers around it.
TButton* findButton(const TWinControl& parent, bool (TButton::*wanted)() const) {
  for (int i = 0; i < parent.ControlCount(); ++i) {
    TControl* c = parent.Controls(i);
    if (!c->Visible() || !c->Enabled()) continue;
    if (auto* button = ObjectAs<TButton>(c); button != nullptr && (button->*wanted)())
      return button;
    if (auto* inner = ObjectAs<TWinControl>(c))
      if (TButton* found = findButton(*inner, wanted)) return found;
  }
  return nullptr;
}

} // namespace

TForm* GetParentForm(const TControl* control) {
  if (control == nullptr) return nullptr;
  while (control->Parent() != nullptr)
    control = control->Parent();
  return ObjectAs<TForm>(const_cast<TControl*>(control));
}

TForm::TForm(TComponent* owner) : TWinControl(owner) {
  initVisible(false);
  initColor(clBtnFace, false);
  initParentFont(false);
  Screen()->AddForm(this);
}

TForm::TForm(TComponent* owner, TCreateNew) : TForm(owner) {
  createNew_ = true;
}

TForm::~TForm() = default;

const TClassInfo& TForm::StaticClass() {
  static TClassInfo info("TForm", &TWinControl::StaticClass(), [](TClassInfo& i) {
    using F = TForm;
    const auto never = [](const TObject&) { return false; };
    ClassBuilder<F> b(i);
    b.componentFactory();
    // A form stores its client size; the outer size follows from the border.
    b.integer("Width", &F::Width, &F::SetWidth).storedIf(never);
    b.integer("Height", &F::Height, &F::SetHeight).storedIf(never);
    b.set("BorderIcons", BorderIconInfo(), &F::BorderIcons, &F::SetBorderIcons)
        .defaultValue((1 << biSystemMenu) | (1 << biMinimize) | (1 << biMaximize));
    b.enumeration("BorderStyle", FormBorderStyleInfo(), &F::BorderStyle, &F::SetBorderStyle)
        .defaultValue(bsSizeable);
    b.string("Caption", &F::Caption, &F::SetCaption);
    b.integer("ClientHeight", &F::ClientHeight, &F::SetClientHeight);
    b.integer("ClientWidth", &F::ClientWidth, &F::SetClientWidth);
    b.integer("Color", &F::Color, &F::SetColor, &ColorIdents());
    b.object("Font", &F::Font);
    b.enumeration("FormStyle", FormStyleInfo(), &F::FormStyle, &F::SetFormStyle)
        .defaultValue(fsNormal);
    b.component("Menu", &F::Menu, &F::SetMenu);
    b.boolean("OldCreateOrder", &F::OldCreateOrder, &F::SetOldCreateOrder);
    b.component("PopupMenu", &F::PopupMenu, &F::SetPopupMenu);
    b.enumeration("Position", PositionInfo(), &F::Position, &F::SetPosition)
        .defaultValue(poDesigned);
    b.enumeration("DefaultMonitor", DefaultMonitorInfo(), &F::DefaultMonitor, &F::SetDefaultMonitor)
        .defaultValue(dmActiveForm);
    b.boolean("Enabled", &F::Enabled, &F::SetEnabled).defaultValue(1);
    b.string("Hint", &F::Hint, &F::SetHint);
    b.boolean("ShowHint", &F::ShowHint, &F::SetShowHint).defaultValue(0);
    b.boolean("Visible", &F::Visible, &F::SetVisible).defaultValue(0);
    b.enumeration("WindowState", WindowStateInfo(), &F::WindowState, &F::SetWindowState)
        .defaultValue(wsNormal);
    b.event("OnClick", &F::OnClick, &F::SetOnClick);
    b.event("OnClose", &F::OnClose, &F::SetOnClose);
    b.event("OnCloseQuery", &F::OnCloseQuery, &F::SetOnCloseQuery);
    b.event("OnCreate", &F::OnCreate, &F::SetOnCreate);
    b.event("OnDestroy", &F::OnDestroy, &F::SetOnDestroy);
    b.event("OnHide", &F::OnHide, &F::SetOnHide);
    b.event("OnShow", &F::OnShow, &F::SetOnShow);
    b.integer("PixelsPerInch", &F::PixelsPerInch, &F::SetPixelsPerInch);
    b.integer("TextHeight", &F::TextHeight, &F::SetTextHeight);
  });
  return info;
}

void TForm::AfterConstruction() {
  constructDesigned(
      *this, StaticClass(), createNew_, oldCreateOrder_, [this] { ReadStoredForm(); },
      [this] { DoCreate(); });
}

void TForm::BeforeDestruction() {
  DoDestroy();
}

void TForm::ReadStoredForm() {
  readStoredFormsBelow(*this, StaticClass());
}

void TForm::DoCreate() {
  raiseDesignedEvent(onCreate_, this);
}

void TForm::DoDestroy() {
  raiseDesignedEvent(onDestroy_, this);
}

void TForm::DoShow() {
  if (onShow_) onShow_(this);
}

void TForm::DoHide() {
  if (onHide_) onHide_(this);
}

int TForm::FrameWidth(TFormBorderStyle style) {
  switch (style) {
  case bsNone:
    return 0;
  case bsSizeable:
  case bsSizeToolWin:
    return 8;
  default:
    return 6;
  }
}

int TForm::FrameHeight(TFormBorderStyle style) {
  switch (style) {
  case bsNone:
    return 0;
  case bsSizeable:
    return 8 + 19;
  case bsSizeToolWin:
    return 8 + 15;
  case bsToolWindow:
    return 6 + 15;
  default:
    return 6 + 19;
  }
}

int TForm::ClientWidth() const {
  return std::max(Width() - FrameWidth(borderStyle_), 0);
}
int TForm::ClientHeight() const {
  return std::max(Height() - FrameHeight(borderStyle_), 0);
}
void TForm::SetClientWidth(int v) {
  SetWidth(v + FrameWidth(borderStyle_));
}
void TForm::SetClientHeight(int v) {
  SetHeight(v + FrameHeight(borderStyle_));
}

void TForm::SetBorderStyle(TFormBorderStyle style) {
  if (style == borderStyle_) return;
  const int cw = ClientWidth();
  const int ch = ClientHeight();
  borderStyle_ = style;
  SetBounds(Left(), Top(), cw + FrameWidth(style), ch + FrameHeight(style));
  Changed(TControlChange::Appearance);
}

void TForm::SetBorderIcons(TBorderIcons icons) {
  icons &= 0xF;
  if (icons == borderIcons_) return;
  borderIcons_ = icons;
  Changed(TControlChange::Appearance);
}

void TForm::SetFormStyle(TFormStyle style) {
  if (style == formStyle_) return;
  formStyle_ = style;
  Changed(TControlChange::Appearance);
}

void TForm::SetWindowState(TWindowState state) {
  if (state == windowState_) return;
  windowState_ = state;
  Changed(TControlChange::Appearance);
}

void TForm::SetPixelsPerInch(int ppi) {
  pixelsPerInch_ = ppi > 0 ? ppi : 96;
  Font()->SetPixelsPerInch(pixelsPerInch_);
}

void TForm::SetMenu(TMainMenu* menu) {
  if (menu == menu_) return;
  if (menu_ != nullptr) {
    RemoveFreeNotification(menu_);
    menu_->SetPeer(nullptr); // a menu is shown as the bar of one form only
  }
  menu_ = menu;
  if (menu != nullptr) menu->FreeNotification(this);
  Changed(TControlChange::Appearance);
}

void TForm::Notification(TComponent* component, TOperation operation) {
  TWinControl::Notification(component, operation);
  if (operation == TOperation::opRemove && component == static_cast<TComponent*>(menu_)) {
    menu_ = nullptr;
    if (!HasState(csDestroying)) Changed(TControlChange::Appearance);
  }
}

void TForm::placeOnScreen() {
  auto centreOn = [this](int left, int top, int width, int height) {
    SetBounds(left + (width - Width()) / 2, top + (height - Height()) / 2, Width(), Height());
  };
  const TScreen* screen = Screen();
  switch (position_) {
  case poScreenCenter:
  case poDesktopCenter:
    centreOn(0, 0, screen->Width(), screen->Height());
    break;
  case poMainFormCenter:
  case poOwnerFormCenter: {
    const TForm* around =
        position_ == poMainFormCenter ? Application()->MainForm() : ObjectAs<TForm>(Owner());
    if (around != nullptr && around != this)
      centreOn(around->Left(), around->Top(), around->Width(), around->Height());
    else
      centreOn(0, 0, screen->Width(), screen->Height());
    break;
  }
  default:
    break;
  }
}

void TForm::ensurePeer() {
  if (Peer() != nullptr) return;
  if (TGuiBackend* gui = GuiBackend()) SetPeer(gui->createPeer(*this));
}

void TForm::SetVisible(bool visible) {
  if (visible == Visible()) return;
  if (HasState(csLoading)) {
    initVisible(visible); // shown once loading is over (Loaded)
    return;
  }
  if (!visible) {
    TWinControl::SetVisible(false);
    // A modal form hidden by its code ends its loop.
    if (modal_)
      if (TGuiBackend* gui = GuiBackend()) gui->endModal(*this);
    DoHide();
    return;
  }
  if (!placed_) {
    placed_ = true;
    placeOnScreen();
  }
  ensurePeer();
  TWinControl::SetVisible(true);
  DoShow();
}

void TForm::Loaded() {
  TWinControl::Loaded();
  if (Visible()) {
    initVisible(false);
    Show();
  }
}

bool TForm::CloseQuery() {
  bool canClose = true;
  if (onCloseQuery_) onCloseQuery_(this, canClose);
  return canClose;
}

void TForm::DoClose(TCloseAction& action) {
  if (onClose_) onClose_(this, action);
}

void TForm::Close() {
  // A modal form closes when its loop ends: ShowModal asks OnCloseQuery and OnClose.
  if (modal_) {
    if (modalResult_ == mrNone) SetModalResult(mrCancel);
    return;
  }
  if (closing_) return; // a close handler that closes again
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{closing_ = true};
  if (!CloseQuery()) return;
  TCloseAction action = caHide;
  if (formStyle_ == fsMDIChild) action = (borderIcons_ & (1u << biMinimize)) ? caMinimize : caNone;
  DoClose(action);
  if (action == caNone) return;
  TApplication* app = Application();
  if (app->MainForm() == this) {
    Hide();
    app->Terminate();
    if (action == caFree) Release();
    return;
  }
  switch (action) {
  case caHide:
    Hide();
    break;
  case caMinimize:
    SetWindowState(wsMinimized);
    break;
  case caFree:
    Hide();
    Release();
    break;
  default:
    break;
  }
}

void TForm::Release() {
  // ShowModal is still on the stack: the loop's idle steps must not free the
  // form under it. The loop ends now, and the form is freed once it returns.
  if (modal_) {
    releaseAfterModal_ = true;
    if (modalResult_ == mrNone) SetModalResult(mrCancel);
    return;
  }
  Application()->ReleaseLater(this);
}

void TForm::SetModalResult(TModalResult value) {
  modalResult_ = value;
  if (modal_ && value != mrNone)
    if (TGuiBackend* gui = GuiBackend()) gui->endModal(*this);
}

bool TForm::closeModal(TCloseAction& action) {
  action = caHide;
  if (!CloseQuery()) return false;
  DoClose(action);
  return action != caNone;
}

TModalResult TForm::ShowModal() {
  TGuiBackend* gui = GuiBackend();
  if (gui == nullptr) throw EInvalidOperation("Cannot show a modal form without a window system");
  if (Visible() || modal_) throw EInvalidOperation("Cannot make a visible window modal");
  // A window of no size is never mapped: its user could not end the loop.
  if (ClientWidth() <= 0 || ClientHeight() <= 0)
    throw EInvalidOperation("Cannot show a modal form of no size");
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{modal_ = true};
  modalResult_ = mrNone;
  Show();
  TCloseAction action = caHide;
  for (;;) {
    // A result set while showing (OnShow) needs no loop.
    if (modalResult_ == mrNone && Visible() && !gui->runModal(*this)) {
      Hide();
      throw EInvalidOperation("Cannot show a modal form without a window system");
    }
    // Ended without a result: the window went, or the program is ending.
    if (modalResult_ == mrNone) {
      modalResult_ = mrCancel;
      break;
    }
    // A form released meanwhile goes whatever its handlers would say.
    if (releaseAfterModal_ || closeModal(action)) break;
    modalResult_ = mrNone;
  }
  Hide();
  modal_ = false;
  if (action == caFree || std::exchange(releaseAfterModal_, false)) Release();
  return modalResult_;
}

bool TForm::DialogKey(TDialogKey key) {
  TButton* button =
      findButton(*this, key == TDialogKey::Return ? &TButton::Default : &TButton::Cancel);
  if (button == nullptr) return false;
  button->Click();
  return true;
}

void TForm::GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) const {
  if (root == this)
    for (int i = 0; i < ComponentCount(); ++i) {
      TComponent* c = Components(i);
      if (!c->HasParent()) proc(c);
    }
  TWinControl::GetChildren(proc, root);
}

} // namespace keltk
