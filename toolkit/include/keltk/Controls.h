// Controls: the visual components of forms. The model keeps every property; a
// peer made by the GUI layer (see Backend.h) shows it while the form is shown.
#pragma once

#include "keltk/Backend.h"
#include "keltk/Component.h"
#include "keltk/Graphics.h"
#include "keltk/NotifyEvent.h"

#include <memory>
#include <string>
#include <vector>

namespace keltk {

class TPopupMenu;
class TWinControl;

enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient, alCustom };
const EnumInfo& AlignInfo();

enum TAlignment { taLeftJustify, taRightJustify, taCenter };
const EnumInfo& AlignmentInfo();

// The parent's edges a control keeps its distance to when the parent is resized;
// anchored to both opposite edges it stretches, to neither it keeps its centre.
enum TAnchorKind { akLeft, akTop, akRight, akBottom };
using TAnchors = std::uint32_t;
const EnumInfo& AnchorKindInfo();
constexpr TAnchors kDefaultAnchors = (1u << akLeft) | (1u << akTop);

// What a modal form answers; a button with a ModalResult sets its form's.
using TModalResult = int;
constexpr TModalResult mrNone = 0;
constexpr TModalResult mrOk = 1;
constexpr TModalResult mrCancel = 2;
constexpr TModalResult mrAbort = 3;
constexpr TModalResult mrRetry = 4;
constexpr TModalResult mrIgnore = 5;
constexpr TModalResult mrYes = 6;
constexpr TModalResult mrNo = 7;
constexpr TModalResult mrAll = 8;
constexpr TModalResult mrNoToAll = 9;
constexpr TModalResult mrYesToAll = 10;
constexpr TModalResult mrClose = 11;
// The names stored data uses for them.
const EnumInfo& ModalResultIdents();

class TControl;

// The size limits of a control (a form: of its window); 0 is no limit.
class TSizeConstraints : public TPersistent {
public:
  explicit TSizeConstraints(TControl* control);
  ~TSizeConstraints() override;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }

  // A minimum above the maximum raises the maximum, and the other way round.
  int MinWidth() const { return minWidth_; }
  void SetMinWidth(int v);
  int MinHeight() const { return minHeight_; }
  void SetMinHeight(int v);
  int MaxWidth() const { return maxWidth_; }
  void SetMaxWidth(int v);
  int MaxHeight() const { return maxHeight_; }
  void SetMaxHeight(int v);

  // Brings a size within the limits.
  void Constrain(int& width, int& height) const;

  void Assign(const TPersistent* source) override;
  TPersistent* GetOwner() const override;

private:
  void changed();

  TControl* control_;
  int minWidth_ = 0;
  int minHeight_ = 0;
  int maxWidth_ = 0;
  int maxHeight_ = 0;
};

class TControl : public TComponent {
public:
  explicit TControl(TComponent* owner);
  ~TControl() override;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }

  int Left() const { return left_; }
  void SetLeft(int v) { SetBounds(v, top_, width_, height_); }
  int Top() const { return top_; }
  void SetTop(int v) { SetBounds(left_, v, width_, height_); }
  int Width() const { return width_; }
  void SetWidth(int v) { SetBounds(left_, top_, v, height_); }
  int Height() const { return height_; }
  void SetHeight(int v) { SetBounds(left_, top_, width_, v); }
  virtual void SetBounds(int left, int top, int width, int height);
  TRect BoundsRect() const { return {left_, top_, left_ + width_, top_ + height_}; }
  // The inner area; for most controls the whole control.
  virtual int ClientWidth() const { return width_; }
  virtual void SetClientWidth(int v) { SetWidth(v); }
  virtual int ClientHeight() const { return height_; }
  virtual void SetClientHeight(int v) { SetHeight(v); }

  TAlign Align() const { return align_; }
  void SetAlign(TAlign align);
  // Align takes precedence: only a control with alNone follows its anchors. The
  // distances kept are those when the control was last placed (or read).
  TAnchors Anchors() const { return anchors_; }
  void SetAnchors(TAnchors anchors);
  TSizeConstraints* Constraints() const { return constraints_.get(); }
  void SetConstraints(const TSizeConstraints* value) { constraints_->Assign(value); }

  bool Visible() const { return visible_; }
  virtual void SetVisible(bool visible);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);

  // Caption and Text are one text: labels, buttons and forms publish it as
  // Caption, edits as Text.
  const std::string& Caption() const { return text_; }
  void SetCaption(const std::string& caption) { SetText(caption); }
  const std::string& Text() const { return text_; }
  virtual void SetText(const std::string& text);

  TColor Color() const { return color_; }
  void SetColor(TColor color);
  // A control with ParentColor takes its parent's colour.
  bool ParentColor() const { return parentColor_; }
  void SetParentColor(bool value);
  TFont* Font() const { return font_.get(); }
  void SetFont(const TFont* font) { font_->Assign(font); }
  // A control with ParentFont follows its parent's font; changing its own font
  // clears the flag.
  bool ParentFont() const { return parentFont_; }
  void SetParentFont(bool value);

  const std::string& Hint() const { return hint_; }
  void SetHint(const std::string& hint) { hint_ = hint; }
  bool ShowHint() const { return showHint_; }
  void SetShowHint(bool value) { showHint_ = value; }

  TWinControl* Parent() const { return parent_; }
  virtual void SetParent(TWinControl* parent);

  const TNotifyEvent& OnClick() const { return onClick_; }
  void SetOnClick(const TNotifyEvent& handler) { onClick_ = handler; }

  // Shown on a right click or the context-menu key; dropped when it is freed.
  TPopupMenu* PopupMenu() const { return popupMenu_; }
  void SetPopupMenu(TPopupMenu* menu);

  // Painting requests, handed to the peer when there is one.
  void Invalidate();
  void Update();
  void Repaint();

  TControlPeer* Peer() const { return peer_.get(); }
  void SetPeer(std::unique_ptr<TControlPeer> peer) { peer_ = std::move(peer); }

  bool HasParent() const override { return true; }
  TComponent* GetParentComponent() const override;
  void SetParentComponent(TComponent* parent) override;

protected:
  friend class TWinControl;
  friend class TSizeConstraints;
  // Tells the peer what changed.
  void Changed(TControlChange what);
  virtual void Click();
  // Called when the parent's font or colour changed (or the parent itself).
  void ParentFontChanged();
  void ParentColorChanged();
  void Loaded() override;
  void Notification(TComponent* component, TOperation operation) override;

  // Default values that differ between control classes.
  void initColor(TColor color, bool parentColor) {
    color_ = color;
    parentColor_ = parentColor;
  }
  void initParentFont(bool parentFont) { parentFont_ = parentFont; }
  void initVisible(bool visible) { visible_ = visible; }

private:
  void fontChanged(TObject* sender);
  // Notes the place and the parent's client size that the anchors keep to.
  void recordAnchorRule();
  // Follows the anchors to the parent's present client size.
  void applyAnchors();
  void constraintsChanged();

  struct AnchorRule {
    TRect bounds;
    int parentWidth = 0;
    int parentHeight = 0;
    bool valid = false;
  };

  int left_ = 0;
  int top_ = 0;
  int width_ = 0;
  int height_ = 0;
  TAlign align_ = alNone;
  TAnchors anchors_ = kDefaultAnchors;
  AnchorRule anchorRule_;
  bool anchoring_ = false; // the parent moves it: the rule stays
  std::unique_ptr<TSizeConstraints> constraints_;
  bool visible_ = true;
  bool enabled_ = true;
  std::string text_;
  TColor color_ = clBtnFace;
  bool parentColor_ = false;
  std::unique_ptr<TFont> font_;
  bool parentFont_ = true;
  bool syncingFont_ = false;
  std::string hint_;
  bool showHint_ = false;
  TWinControl* parent_ = nullptr;
  TNotifyEvent onClick_;
  TPopupMenu* popupMenu_ = nullptr;
  std::unique_ptr<TControlPeer> peer_;
};

// A control that can hold other controls and take the keyboard focus.
class TWinControl : public TControl {
public:
  explicit TWinControl(TComponent* owner);
  // Frees the controls it holds.
  ~TWinControl() override;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }

  int ControlCount() const { return static_cast<int>(controls_.size()); }
  TControl* Controls(int index) const;
  void InsertControl(TControl* control);
  void RemoveControl(TControl* control);

  // Position in the parent's tab sequence; -1 while the control has no parent.
  int TabOrder() const;
  void SetTabOrder(int order);
  // Without TabStop the control is left out when Tab moves the focus.
  bool TabStop() const { return tabStop_; }
  void SetTabStop(bool value);
  // The controls inside this one that take part in tabbing, in their tab order.
  const std::vector<TWinControl*>& TabOrderList() const { return tabList_; }

  // Places the aligned controls inside the client area and the others by their
  // anchors (not while either is being read).
  void Realign();

  void SetBounds(int left, int top, int width, int height) override;
  // Stored data nests the controls this one holds (those of the form being written).
  void GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) const override;

protected:
  friend class TControl;
  void NotifyChildrenFontChanged();
  void NotifyChildrenColorChanged();

private:
  std::vector<TControl*> controls_;
  std::vector<TWinControl*> tabList_;
  int pendingTabOrder_ = -1;
  bool tabStop_ = false;
  bool realigning_ = false;
};

// A control drawn inside its parent's window (labels, bevels, gauges).
class TGraphicControl : public TControl {
public:
  explicit TGraphicControl(TComponent* owner);
  ~TGraphicControl() override;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }
};

} // namespace keltk
