#include "keltk/ExtCtrls.h"

#include "keltk/Menus.h"
#include "keltk/PropInfo.h"

#include <algorithm>

namespace keltk {

const EnumInfo& BevelShapeInfo() {
  static const EnumInfo info =
      EnumInfo::sequence("TBevelShape", {"bsBox", "bsFrame", "bsTopLine", "bsBottomLine",
                                         "bsLeftLine", "bsRightLine", "bsSpacer"});
  return info;
}

const EnumInfo& BevelStyleInfo() {
  static const EnumInfo info = EnumInfo::sequence("TBevelStyle", {"bsLowered", "bsRaised"});
  return info;
}

TBevel::TBevel(TComponent* owner) : TGraphicControl(owner) {
  SetBounds(0, 0, 50, 50);
}
TBevel::~TBevel() = default;

const TClassInfo& TBevel::StaticClass() {
  static TClassInfo info("TBevel", &TGraphicControl::StaticClass(), [](TClassInfo& i) {
    ClassBuilder<TBevel> b(i);
    b.componentFactory();
    b.enumeration("Align", AlignInfo(), &TBevel::Align, &TBevel::SetAlign).defaultValue(alNone);
    b.enumeration("Shape", BevelShapeInfo(), &TBevel::Shape, &TBevel::SetShape).defaultValue(bsBox);
    b.enumeration("Style", BevelStyleInfo(), &TBevel::Style, &TBevel::SetStyle)
        .defaultValue(bsLowered);
    b.boolean("Visible", &TBevel::Visible, &TBevel::SetVisible).defaultValue(1);
  });
  return info;
}

void TBevel::SetShape(TBevelShape shape) {
  if (shape == shape_) return;
  shape_ = shape;
  Changed(TControlChange::Appearance);
}

void TBevel::SetStyle(TBevelStyle style) {
  if (style == style_) return;
  style_ = style;
  Changed(TControlChange::Appearance);
}

// ---- TPanel -------------------------------------------------------------------

const EnumInfo& BevelCutInfo() {
  static const EnumInfo info = EnumInfo::sequence("TBevelCut", {"bvNone", "bvLowered", "bvRaised"});
  return info;
}

TPanel::TPanel(TComponent* owner) : TWinControl(owner) {
  SetBounds(0, 0, 185, 41);
}

TPanel::~TPanel() = default;

const TClassInfo& TPanel::StaticClass() {
  static TClassInfo info("TPanel", &TWinControl::StaticClass(), [](TClassInfo& i) {
    using P = TPanel;
    const auto ownColor = [](const TObject& o) { return !static_cast<const P&>(o).ParentColor(); };
    const auto ownFont = [](const TObject& o) { return !static_cast<const P&>(o).ParentFont(); };
    ClassBuilder<P> b(i);
    b.componentFactory();
    b.enumeration("Align", AlignInfo(), &P::Align, &P::SetAlign).defaultValue(alNone);
    b.enumeration("BevelOuter", BevelCutInfo(), &P::BevelOuter, &P::SetBevelOuter)
        .defaultValue(bvRaised);
    b.string("Caption", &P::Caption, &P::SetCaption);
    b.integer("Color", &P::Color, &P::SetColor, &ColorIdents()).storedIf(ownColor);
    b.boolean("Enabled", &P::Enabled, &P::SetEnabled).defaultValue(1);
    b.object("Font", &P::Font).storedIf(ownFont);
    b.string("Hint", &P::Hint, &P::SetHint);
    b.boolean("ParentColor", &P::ParentColor, &P::SetParentColor).defaultValue(0);
    b.boolean("ParentFont", &P::ParentFont, &P::SetParentFont).defaultValue(1);
    b.component("PopupMenu", &P::PopupMenu, &P::SetPopupMenu);
    b.boolean("ShowHint", &P::ShowHint, &P::SetShowHint).defaultValue(0);
    b.integer("TabOrder", &P::TabOrder, &P::SetTabOrder);
    b.boolean("Visible", &P::Visible, &P::SetVisible).defaultValue(1);
    b.event("OnClick", &P::OnClick, &P::SetOnClick);
  });
  return info;
}

void TPanel::SetBevelOuter(TBevelCut value) {
  if (value == bevelOuter_) return;
  bevelOuter_ = value;
  Changed(TControlChange::Appearance);
}

// ---- TTimer -------------------------------------------------------------------

TTimer::TTimer(TComponent* owner) : TComponent(owner) {}

TTimer::~TTimer() {
  peer_.reset();
}

const TClassInfo& TTimer::StaticClass() {
  static TClassInfo info("TTimer", &TComponent::StaticClass(), [](TClassInfo& i) {
    using T = TTimer;
    ClassBuilder<T> b(i);
    b.componentFactory();
    b.boolean("Enabled", &T::Enabled, &T::SetEnabled).defaultValue(1);
    b.integer("Interval", &T::Interval, &T::SetInterval).defaultValue(1000);
    b.event("OnTimer", &T::OnTimer, &T::SetOnTimer);
  });
  return info;
}

void TTimer::SetInterval(int ms) {
  ms = std::max(ms, 0);
  if (ms == interval_) return;
  interval_ = ms;
  restart();
}

void TTimer::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  restart();
}

void TTimer::SetOnTimer(const TNotifyEvent& handler) {
  onTimer_ = handler;
  restart();
}

void TTimer::Loaded() {
  TComponent::Loaded();
  restart();
}

void TTimer::Timer() {
  // An owner on its way out (a handler of its destruction waiting in a message
  // box) gets no more ticks: the handler would run on a half-destroyed object.
  if (Owner() != nullptr && Owner()->HasState(csDestroying)) {
    peer_.reset();
    return;
  }
  if (onTimer_) onTimer_(this);
}

void TTimer::restart() {
  peer_.reset();
  if (!enabled_ || interval_ == 0 || !onTimer_ || HasState(csLoading) || HasState(csDestroying))
    return;
  if (TGuiBackend* gui = GuiBackend()) peer_ = gui->startTimer(interval_, [this] { Timer(); });
}

} // namespace keltk
