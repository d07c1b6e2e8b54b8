#include "keltk/Controls.h"

#include "keltk/Exception.h"
#include "keltk/Menus.h"
#include "keltk/PropInfo.h"

#include <algorithm>
#include <fmt/format.h>

namespace keltk {

const EnumInfo& AlignInfo() {
  static const EnumInfo info = EnumInfo::sequence(
      "TAlign", {"alNone", "alTop", "alBottom", "alLeft", "alRight", "alClient", "alCustom"});
  return info;
}

const EnumInfo& AlignmentInfo() {
  static const EnumInfo info =
      EnumInfo::sequence("TAlignment", {"taLeftJustify", "taRightJustify", "taCenter"});
  return info;
}

const EnumInfo& AnchorKindInfo() {
  static const EnumInfo info =
      EnumInfo::sequence("TAnchorKind", {"akLeft", "akTop", "akRight", "akBottom"});
  return info;
}

const EnumInfo& ModalResultIdents() {
  static const EnumInfo info{"TModalResult",
                             {{"mrNone", mrNone},
                              {"mrOk", mrOk},
                              {"mrCancel", mrCancel},
                              {"mrAbort", mrAbort},
                              {"mrRetry", mrRetry},
                              {"mrIgnore", mrIgnore},
                              {"mrYes", mrYes},
                              {"mrNo", mrNo},
                              {"mrAll", mrAll},
                              {"mrNoToAll", mrNoToAll},
                              {"mrYesToAll", mrYesToAll},
                              {"mrClose", mrClose}}};
  return info;
}

// ---- TSizeConstraints -----------------------------------------------------------

TSizeConstraints::TSizeConstraints(TControl* control) : control_(control) {}
TSizeConstraints::~TSizeConstraints() = default;

const TClassInfo& TSizeConstraints::StaticClass() {
  static TClassInfo info("TSizeConstraints", &TPersistent::StaticClass(), [](TClassInfo& i) {
    using S = TSizeConstraints;
    ClassBuilder<S> b(i);
    b.integer("MaxHeight", &S::MaxHeight, &S::SetMaxHeight).defaultValue(0);
    b.integer("MaxWidth", &S::MaxWidth, &S::SetMaxWidth).defaultValue(0);
    b.integer("MinHeight", &S::MinHeight, &S::SetMinHeight).defaultValue(0);
    b.integer("MinWidth", &S::MinWidth, &S::SetMinWidth).defaultValue(0);
  });
  return info;
}

void TSizeConstraints::SetMinWidth(int v) {
  minWidth_ = std::max(v, 0);
  if (maxWidth_ > 0 && maxWidth_ < minWidth_) maxWidth_ = minWidth_;
  changed();
}

void TSizeConstraints::SetMinHeight(int v) {
  minHeight_ = std::max(v, 0);
  if (maxHeight_ > 0 && maxHeight_ < minHeight_) maxHeight_ = minHeight_;
  changed();
}

void TSizeConstraints::SetMaxWidth(int v) {
  maxWidth_ = std::max(v, 0);
  if (maxWidth_ > 0 && minWidth_ > maxWidth_) minWidth_ = maxWidth_;
  changed();
}

void TSizeConstraints::SetMaxHeight(int v) {
  maxHeight_ = std::max(v, 0);
  if (maxHeight_ > 0 && minHeight_ > maxHeight_) minHeight_ = maxHeight_;
  changed();
}

void TSizeConstraints::Constrain(int& width, int& height) const {
  width = std::max(width, minWidth_);
  height = std::max(height, minHeight_);
  if (maxWidth_ > 0) width = std::min(width, maxWidth_);
  if (maxHeight_ > 0) height = std::min(height, maxHeight_);
}

void TSizeConstraints::Assign(const TPersistent* source) {
  const auto* other = ObjectAs<TSizeConstraints>(source);
  if (other == nullptr) {
    TPersistent::Assign(source);
    return;
  }
  minWidth_ = other->minWidth_;
  minHeight_ = other->minHeight_;
  maxWidth_ = other->maxWidth_;
  maxHeight_ = other->maxHeight_;
  changed();
}

TPersistent* TSizeConstraints::GetOwner() const {
  return control_;
}

void TSizeConstraints::changed() {
  if (control_ != nullptr) control_->constraintsChanged();
}

// ---- TControl -----------------------------------------------------------------

TControl::TControl(TComponent* owner)
    : TComponent(owner), constraints_(std::make_unique<TSizeConstraints>(this)),
      font_(std::make_unique<TFont>()) {
  font_->SetOnChange(TNotifyEvent::bind<&TControl::fontChanged>(this));
}

TControl::~TControl() {
  IncludeState(csDestroying);
  peer_.reset();
  if (parent_ != nullptr) parent_->RemoveControl(this);
}

const TClassInfo& TControl::StaticClass() {
  // Every control stores its place and size; the rest is published by the classes
  // that show it.
  static TClassInfo info("TControl", &TComponent::StaticClass(), [](TClassInfo& i) {
    ClassBuilder<TControl> b(i);
    b.integer("Left", &TControl::Left, &TControl::SetLeft);
    b.integer("Top", &TControl::Top, &TControl::SetTop);
    b.integer("Width", &TControl::Width, &TControl::SetWidth);
    b.integer("Height", &TControl::Height, &TControl::SetHeight);
    b.set("Anchors", AnchorKindInfo(), &TControl::Anchors, &TControl::SetAnchors)
        .defaultValue(kDefaultAnchors);
    b.object("Constraints", &TControl::Constraints);
  });
  return info;
}

void TControl::Changed(TControlChange what) {
  if (peer_) peer_->changed(what);
}

void TControl::SetBounds(int left, int top, int width, int height) {
  constraints_->Constrain(width, height);
  width = std::max(width, 0);
  height = std::max(height, 0);
  if (left == left_ && top == top_ && width == width_ && height == height_) return;
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
  if (!anchoring_) recordAnchorRule();
  Changed(TControlChange::Bounds);
  if (parent_ != nullptr && align_ != alNone && align_ != alCustom) parent_->Realign();
}

void TControl::SetAlign(TAlign align) {
  if (align == align_) return;
  align_ = align;
  if (parent_ != nullptr) parent_->Realign();
}

void TControl::SetAnchors(TAnchors anchors) {
  anchors_ = anchors & 0xF;
  recordAnchorRule();
}

void TControl::recordAnchorRule() {
  anchorRule_.valid = parent_ != nullptr;
  if (!anchorRule_.valid) return;
  anchorRule_.bounds = BoundsRect();
  anchorRule_.parentWidth = parent_->ClientWidth();
  anchorRule_.parentHeight = parent_->ClientHeight();
}

void TControl::applyAnchors() {
  if (!anchorRule_.valid || parent_ == nullptr) return;
  // One axis: the start and length for the parent's change in size `grown`.
  auto follow = [this](TAnchorKind near, TAnchorKind far, int start, int length, int grown) {
    const bool keepsNear = (anchors_ & (1u << near)) != 0;
    const bool keepsFar = (anchors_ & (1u << far)) != 0;
    if (keepsNear && keepsFar) return std::pair{start, length + grown};
    if (keepsFar) return std::pair{start + grown, length};
    if (!keepsNear) return std::pair{start + grown / 2, length};
    return std::pair{start, length};
  };
  const TRect& was = anchorRule_.bounds;
  const auto [left, width] = follow(akLeft, akRight, was.Left, was.Width(),
                                    parent_->ClientWidth() - anchorRule_.parentWidth);
  const auto [top, height] = follow(akTop, akBottom, was.Top, was.Height(),
                                    parent_->ClientHeight() - anchorRule_.parentHeight);
  anchoring_ = true;
  SetBounds(left, top, width, height);
  anchoring_ = false;
}

void TControl::constraintsChanged() {
  SetBounds(left_, top_, width_, height_);
  // A window takes its limits from them as well.
  Changed(TControlChange::Bounds);
}

void TControl::SetVisible(bool visible) {
  if (visible == visible_) return;
  visible_ = visible;
  Changed(TControlChange::Visible);
  if (parent_ != nullptr && align_ != alNone) parent_->Realign();
}

void TControl::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  Changed(TControlChange::Enabled);
}

void TControl::SetText(const std::string& text) {
  if (text == text_) return;
  text_ = text;
  Changed(TControlChange::Text);
}

void TControl::SetColor(TColor color) {
  if (color != color_) {
    color_ = color;
    Changed(TControlChange::Color);
    if (auto* self = ObjectAs<TWinControl>(this)) self->NotifyChildrenColorChanged();
  }
  parentColor_ = false;
}

void TControl::SetParentColor(bool value) {
  if (value == parentColor_) return;
  parentColor_ = value;
  if (value) ParentColorChanged();
}

void TControl::ParentColorChanged() {
  if (!parentColor_ || parent_ == nullptr) return;
  SetColor(parent_->Color());
  parentColor_ = true;
}

void TControl::SetParentFont(bool value) {
  if (value == parentFont_) return;
  parentFont_ = value;
  if (value) ParentFontChanged();
}

void TControl::ParentFontChanged() {
  if (!parentFont_ || parent_ == nullptr) return;
  syncingFont_ = true;
  font_->Assign(parent_->Font());
  syncingFont_ = false;
}

void TControl::fontChanged(TObject*) {
  if (!syncingFont_) parentFont_ = false;
  Changed(TControlChange::Font);
  if (auto* self = ObjectAs<TWinControl>(this)) self->NotifyChildrenFontChanged();
}

void TControl::SetParent(TWinControl* parent) {
  if (parent == parent_) return;
  if (parent == this) throw EComponentError("A control cannot be its own parent");
  for (TWinControl* p = parent; p != nullptr; p = p->Parent())
    if (p == static_cast<TControl*>(this))
      throw EComponentError("A control cannot be placed inside its own child");
  if (parent_ != nullptr) parent_->RemoveControl(this);
  if (parent != nullptr) parent->InsertControl(this);
}

void TControl::Click() {
  if (onClick_) onClick_(this);
}

void TControl::SetPopupMenu(TPopupMenu* menu) {
  if (menu == popupMenu_) return;
  if (popupMenu_ != nullptr) RemoveFreeNotification(popupMenu_);
  popupMenu_ = menu;
  if (menu != nullptr) menu->FreeNotification(this);
  Changed(TControlChange::Appearance);
}

void TControl::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation != TOperation::opRemove || component != static_cast<TComponent*>(popupMenu_))
    return;
  popupMenu_ = nullptr;
  if (!HasState(csDestroying)) Changed(TControlChange::Appearance);
}

void TControl::Invalidate() {
  if (peer_) peer_->invalidate();
}

void TControl::Update() {
  if (peer_) peer_->update();
}

void TControl::Repaint() {
  if (peer_) peer_->repaint();
}

TComponent* TControl::GetParentComponent() const {
  return parent_;
}

void TControl::SetParentComponent(TComponent* parent) {
  if (auto* win = ObjectAs<TWinControl>(parent)) SetParent(win);
}

void TControl::Loaded() {
  TComponent::Loaded();
  // The parent's size may have changed while the form was read.
  recordAnchorRule();
  // Stored data may name ParentFont/ParentColor before or after the parent is set.
  ParentFontChanged();
  ParentColorChanged();
}

// ---- TWinControl --------------------------------------------------------------

TWinControl::TWinControl(TComponent* owner) : TControl(owner) {}

TWinControl::~TWinControl() {
  // Leave the parent while this is still a TWinControl, so its tab list forgets it.
  IncludeState(csDestroying);
  if (Parent() != nullptr) Parent()->RemoveControl(this);
  while (!controls_.empty()) {
    TControl* last = controls_.back();
    RemoveControl(last);
    FreeObject(last);
  }
}

const TClassInfo& TWinControl::StaticClass() {
  static TClassInfo info("TWinControl", &TControl::StaticClass());
  return info;
}

TControl* TWinControl::Controls(int index) const {
  if (index < 0 || index >= ControlCount())
    throw EListError(fmt::format("List index out of bounds ({})", index));
  return controls_[static_cast<std::size_t>(index)];
}

void TWinControl::InsertControl(TControl* control) {
  if (control == nullptr || control->parent_ == this) return;
  controls_.push_back(control);
  control->parent_ = this;
  control->recordAnchorRule();
  if (auto* win = ObjectAs<TWinControl>(control)) {
    tabList_.push_back(win);
    if (win->pendingTabOrder_ >= 0) {
      const int order = win->pendingTabOrder_;
      win->pendingTabOrder_ = -1;
      win->SetTabOrder(order);
    }
  }
  control->ParentFontChanged();
  control->ParentColorChanged();
  // A control added to a shown form gets its window at once.
  if (Peer() != nullptr && control->Peer() == nullptr)
    if (TGuiBackend* gui = GuiBackend()) control->SetPeer(gui->createPeer(*control));
  control->Changed(TControlChange::Parent);
  if (ObjectAs<TWinControl>(control) != nullptr) Changed(TControlChange::TabOrder);
  if (control->Align() != alNone) Realign();
}

void TWinControl::RemoveControl(TControl* control) {
  auto it = std::find(controls_.begin(), controls_.end(), control);
  if (it == controls_.end()) return;
  controls_.erase(it);
  if (auto* win = ObjectAs<TWinControl>(control)) {
    const int order = win->TabOrder();
    tabList_.erase(std::remove(tabList_.begin(), tabList_.end(), win), tabList_.end());
    win->pendingTabOrder_ = order; // kept for a later parent, as the stored value
  }
  control->parent_ = nullptr;
  if (!control->HasState(csDestroying)) control->Changed(TControlChange::Parent);
  if (control->Align() != alNone) Realign();
}

int TWinControl::TabOrder() const {
  const TWinControl* parent = Parent();
  if (parent == nullptr) return pendingTabOrder_;
  auto it = std::find(parent->tabList_.begin(), parent->tabList_.end(), this);
  return it == parent->tabList_.end() ? -1 : static_cast<int>(it - parent->tabList_.begin());
}

void TWinControl::SetTabOrder(int order) {
  TWinControl* parent = Parent();
  if (parent == nullptr) {
    pendingTabOrder_ = order;
    return;
  }
  auto& list = parent->tabList_;
  const int current = TabOrder();
  if (current < 0) return;
  order = std::clamp(order, 0, static_cast<int>(list.size()) - 1);
  if (order == current) return;
  list.erase(list.begin() + current);
  list.insert(list.begin() + order, this);
  parent->Changed(TControlChange::TabOrder);
}

void TWinControl::SetTabStop(bool value) {
  if (value == tabStop_) return;
  tabStop_ = value;
  Changed(TControlChange::Appearance);
}

void TWinControl::SetBounds(int left, int top, int width, int height) {
  const bool resized = width != Width() || height != Height();
  TControl::SetBounds(left, top, width, height);
  if (resized) Realign();
}

void TWinControl::Realign() {
  if (realigning_) return;
  realigning_ = true;
  TRect area{0, 0, ClientWidth(), ClientHeight()};
  auto place = [](TControl* c, int l, int t, int w, int h) { c->SetBounds(l, t, w, h); };
  for (TAlign pass : {alTop, alBottom, alLeft, alRight, alClient})
    for (TControl* c : controls_) {
      if (c->Align() != pass || !c->Visible()) continue;
      switch (pass) {
      case alTop:
        place(c, area.Left, area.Top, area.Width(), c->Height());
        area.Top += c->Height();
        break;
      case alBottom:
        place(c, area.Left, area.Bottom - c->Height(), area.Width(), c->Height());
        area.Bottom -= c->Height();
        break;
      case alLeft:
        place(c, area.Left, area.Top, c->Width(), area.Height());
        area.Left += c->Width();
        break;
      case alRight:
        place(c, area.Right - c->Width(), area.Top, c->Width(), area.Height());
        area.Right -= c->Width();
        break;
      default:
        place(c, area.Left, area.Top, area.Width(), area.Height());
        break;
      }
    }
  if (!HasState(csLoading))
    for (TControl* c : controls_)
      if (c->Align() == alNone && !c->HasState(csLoading)) c->applyAnchors();
  realigning_ = false;
}

void TWinControl::GetChildren(const std::function<void(TComponent*)>& proc,
                              TComponent* root) const {
  for (TControl* c : controls_)
    if (c->Owner() == root) proc(c);
}

void TWinControl::NotifyChildrenFontChanged() {
  auto children = controls_;
  for (TControl* c : children)
    c->ParentFontChanged();
}

void TWinControl::NotifyChildrenColorChanged() {
  auto children = controls_;
  for (TControl* c : children)
    c->ParentColorChanged();
}

// ---- TGraphicControl ----------------------------------------------------------

TGraphicControl::TGraphicControl(TComponent* owner) : TControl(owner) {}
TGraphicControl::~TGraphicControl() = default;

const TClassInfo& TGraphicControl::StaticClass() {
  static TClassInfo info("TGraphicControl", &TControl::StaticClass());
  return info;
}

} // namespace keltk
