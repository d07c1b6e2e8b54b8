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

  int left_ = 0;
  int top_ = 0;
  int width_ = 0;
  int height_ = 0;
  TAlign align_ = alNone;
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
  bool TabStop() const { return tabStop_; }
  void SetTabStop(bool value) { tabStop_ = value; }

  // Places the aligned controls inside the client area.
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
