// Forms: top-level windows built from stored form data.
#pragma once

#include "keltk/Controls.h"
#include "keltk/CreateNew.h"
#include "keltk/Event.h"

namespace keltk {

class TMainMenu;

enum TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
const EnumInfo& FormBorderStyleInfo();

enum TBorderIcon { biSystemMenu, biMinimize, biMaximize, biHelp };
using TBorderIcons = std::uint32_t;
const EnumInfo& BorderIconInfo();

enum TFormStyle { fsNormal, fsMDIChild, fsMDIForm, fsStayOnTop };
const EnumInfo& FormStyleInfo();

enum TPosition {
  poDesigned,
  poDefault,
  poDefaultPosOnly,
  poDefaultSizeOnly,
  poScreenCenter,
  poDesktopCenter,
  poMainFormCenter,
  poOwnerFormCenter
};
const EnumInfo& PositionInfo();

enum TDefaultMonitor { dmDesktop, dmPrimary, dmMainForm, dmActiveForm };
const EnumInfo& DefaultMonitorInfo();

enum TWindowState { wsNormal, wsMinimized, wsMaximized };
const EnumInfo& WindowStateInfo();

enum TCloseAction { caNone, caHide, caFree, caMinimize };

// The keys a form answers with its buttons.
enum class TDialogKey { Return, Escape };

using TCloseEvent = Event<void(TObject* Sender, TCloseAction& Action)>;
using TCloseQueryEvent = Event<void(TObject* Sender, bool& CanClose)>;

class TForm : public TWinControl {
public:
  // Builds the form from the stored forms of its classes (below TForm) once
  // constructed (see AfterConstruction).
  explicit TForm(TComponent* owner);
  // A bare form: nothing is read.
  TForm(TComponent* owner, TCreateNew);
  ~TForm() override;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }

  // Reads the stored forms (ReadStoredForm) unless this is a bare form, a plain
  // TForm or a designed one; then raises OnCreate.
  void AfterConstruction() override;
  // Raises OnDestroy.
  void BeforeDestruction() override;

  TFormBorderStyle BorderStyle() const { return borderStyle_; }
  // Keeps the client area's size.
  void SetBorderStyle(TFormBorderStyle style);
  TBorderIcons BorderIcons() const { return borderIcons_; }
  void SetBorderIcons(TBorderIcons icons);
  TFormStyle FormStyle() const { return formStyle_; }
  void SetFormStyle(TFormStyle style);
  TPosition Position() const { return position_; }
  void SetPosition(TPosition position) { position_ = position; }
  TDefaultMonitor DefaultMonitor() const { return defaultMonitor_; }
  void SetDefaultMonitor(TDefaultMonitor monitor) { defaultMonitor_ = monitor; }
  TWindowState WindowState() const { return windowState_; }
  void SetWindowState(TWindowState state);
  int PixelsPerInch() const { return pixelsPerInch_; }
  void SetPixelsPerInch(int ppi);
  int TextHeight() const { return textHeight_; }
  void SetTextHeight(int height) { textHeight_ = height; }
  bool OldCreateOrder() const { return oldCreateOrder_; }
  void SetOldCreateOrder(bool value) { oldCreateOrder_ = value; }
  TMainMenu* Menu() const { return menu_; }
  void SetMenu(TMainMenu* menu);

  // The client area excludes the frame (and caption) of the border style.
  int ClientWidth() const override;
  void SetClientWidth(int v) override;
  int ClientHeight() const override;
  void SetClientHeight(int v) override;
  // Frame sizes of a border style: left+right and top+bottom (caption included).
  static int FrameWidth(TFormBorderStyle style);
  static int FrameHeight(TFormBorderStyle style);

  // Showing places the form (Position) on its first show, makes its window when
  // a window system runs, and raises OnShow; hiding raises OnHide.
  void SetVisible(bool visible) override;
  // Asks OnCloseQuery, then runs OnClose with the default action (caHide; for an
  // MDI child caMinimize, or caNone without a minimize icon) and carries out the
  // action: caHide hides, caMinimize minimizes, caFree frees the form later
  // (Release). Closing the main form with any action but caNone ends the
  // application (and with caFree frees the form once the event loop has ended).
  void Close();
  // Frees the form at the next idle step, outside the code that is running on it.
  void Release();

  // Shows the form and waits, in a modal loop of the window system, until its
  // ModalResult is set (a button with a ModalResult sets it when pressed) or the
  // form is closed (mrCancel); then hides it and returns the result. Closing
  // asks OnCloseQuery and OnClose as Close does; caNone keeps the form up.
  // Raises EInvalidOperation without a window system or for a shown form.
  TModalResult ShowModal();
  // True while ShowModal runs.
  bool Modal() const { return modal_; }
  TModalResult ModalResult() const { return modalResult_; }
  // Anything but mrNone ends a modal form's loop.
  void SetModalResult(TModalResult value);
  // Return presses the first visible, enabled Default button inside the form,
  // Escape the Cancel one; false when there is none.
  bool DialogKey(TDialogKey key);

  const TNotifyEvent& OnCreate() const { return onCreate_; }
  void SetOnCreate(const TNotifyEvent& h) { onCreate_ = h; }
  const TNotifyEvent& OnDestroy() const { return onDestroy_; }
  void SetOnDestroy(const TNotifyEvent& h) { onDestroy_ = h; }
  const TCloseEvent& OnClose() const { return onClose_; }
  void SetOnClose(const TCloseEvent& h) { onClose_ = h; }
  const TCloseQueryEvent& OnCloseQuery() const { return onCloseQuery_; }
  void SetOnCloseQuery(const TCloseQueryEvent& h) { onCloseQuery_ = h; }
  const TNotifyEvent& OnShow() const { return onShow_; }
  void SetOnShow(const TNotifyEvent& h) { onShow_ = h; }
  const TNotifyEvent& OnHide() const { return onHide_; }
  void SetOnHide(const TNotifyEvent& h) { onHide_ = h; }

  // The root of stored data: its non-visual components first, then its controls.
  void GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) const override;
  bool HasParent() const override { return false; }

protected:
  // Reads the stored forms of the classes from TForm (exclusive) down to this
  // one's; raises EResNotFound when there are none.
  virtual void ReadStoredForm();
  virtual void DoCreate();
  virtual void DoDestroy();
  virtual void DoShow();
  virtual void DoHide();
  virtual bool CloseQuery();
  virtual void DoClose(TCloseAction& action);
  void Loaded() override;
  void Notification(TComponent* component, TOperation operation) override;

private:
  void placeOnScreen();
  void ensurePeer();
  // OnCloseQuery and OnClose for a modal form whose result is set; false keeps it up.
  bool closeModal(TCloseAction& action);

  bool createNew_ = false;
  TFormBorderStyle borderStyle_ = bsSizeable;
  TBorderIcons borderIcons_ = (1u << biSystemMenu) | (1u << biMinimize) | (1u << biMaximize);
  TFormStyle formStyle_ = fsNormal;
  TPosition position_ = poDesigned;
  TDefaultMonitor defaultMonitor_ = dmActiveForm;
  TWindowState windowState_ = wsNormal;
  int pixelsPerInch_ = 96;
  int textHeight_ = 13;
  bool oldCreateOrder_ = false;
  TMainMenu* menu_ = nullptr;
  bool placed_ = false;
  bool closing_ = false;
  bool modal_ = false;
  bool releaseAfterModal_ = false; // Release() came while ShowModal ran
  TModalResult modalResult_ = mrNone;
  TNotifyEvent onCreate_;
  TNotifyEvent onDestroy_;
  TCloseEvent onClose_;
  TCloseQueryEvent onCloseQuery_;
  TNotifyEvent onShow_;
  TNotifyEvent onHide_;
};

// The window's form that `control` sits in (a form inside another: the outer one), or null.
TForm* GetParentForm(const TControl* control);

} // namespace keltk
