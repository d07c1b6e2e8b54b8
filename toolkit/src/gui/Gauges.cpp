#include "keltk/Gauges.h"

#include "keltk/Exception.h"
#include "keltk/PropInfo.h"

#include <algorithm>
#include <climits>
#include <fmt/format.h>

namespace keltk {

const EnumInfo& GaugeKindInfo() {
  static const EnumInfo info = EnumInfo::sequence(
      "TGaugeKind", {"gkText", "gkHorizontalBar", "gkVerticalBar", "gkPie", "gkNeedle"});
  return info;
}

const EnumInfo& BorderStyleInfo() {
  static const EnumInfo info = EnumInfo::sequence("TBorderStyle", {"bsNone", "bsSingle"});
  return info;
}

TGauge::TGauge(TComponent* owner) : TGraphicControl(owner) {
  initColor(clBtnFace, true);
  SetBounds(0, 0, 100, 100);
}

TGauge::~TGauge() = default;

const TClassInfo& TGauge::StaticClass() {
  static TClassInfo info("TGauge", &TGraphicControl::StaticClass(), [](TClassInfo& i) {
    using G = TGauge;
    const auto ownFont = [](const TObject& o) { return !static_cast<const G&>(o).ParentFont(); };
    const auto ownColor = [](const TObject& o) { return !static_cast<const G&>(o).ParentColor(); };
    ClassBuilder<G> b(i);
    b.componentFactory();
    b.enumeration("Align", AlignInfo(), &G::Align, &G::SetAlign).defaultValue(alNone);
    b.integer("BackColor", &G::BackColor, &G::SetBackColor, &ColorIdents()).defaultValue(clWhite);
    b.enumeration("BorderStyle", BorderStyleInfo(), &G::BorderStyle, &G::SetBorderStyle)
        .defaultValue(1);
    b.integer("Color", &G::Color, &G::SetColor, &ColorIdents()).storedIf(ownColor);
    b.boolean("Enabled", &G::Enabled, &G::SetEnabled).defaultValue(1);
    b.object("Font", &G::Font).storedIf(ownFont);
    b.integer("ForeColor", &G::ForeColor, &G::SetForeColor, &ColorIdents()).defaultValue(clBlack);
    b.enumeration("Kind", GaugeKindInfo(), &G::Kind, &G::SetKind).defaultValue(gkHorizontalBar);
    b.integer("MinValue", &G::MinValue, &G::SetMinValue).defaultValue(0);
    b.integer("MaxValue", &G::MaxValue, &G::SetMaxValue).defaultValue(100);
    b.boolean("ParentColor", &G::ParentColor, &G::SetParentColor).defaultValue(1);
    b.boolean("ParentFont", &G::ParentFont, &G::SetParentFont).defaultValue(1);
    b.integer("Progress", &G::Progress, &G::SetProgress);
    b.boolean("ShowText", &G::ShowText, &G::SetShowText).defaultValue(1);
    b.string("Hint", &G::Hint, &G::SetHint);
    b.boolean("Visible", &G::Visible, &G::SetVisible).defaultValue(1);
  });
  return info;
}

void TGauge::SetKind(TGaugeKind kind) {
  if (kind == kind_) return;
  kind_ = kind;
  Changed(TControlChange::Appearance);
}

void TGauge::SetMinValue(int value) {
  if (value == minValue_) return;
  if (value > maxValue_ && !HasState(csLoading))
    throw EInvalidOperation(fmt::format("Value must be between {} and {}", INT_MIN, maxValue_));
  minValue_ = value;
  if (!HasState(csLoading)) progress_ = std::max(progress_, value);
  Changed(TControlChange::Appearance);
}

void TGauge::SetMaxValue(int value) {
  if (value == maxValue_) return;
  if (value < minValue_ && !HasState(csLoading))
    throw EInvalidOperation(fmt::format("Value must be between {} and {}", minValue_, INT_MAX));
  maxValue_ = value;
  if (!HasState(csLoading)) progress_ = std::min(progress_, value);
  Changed(TControlChange::Appearance);
}

void TGauge::SetProgress(int value) {
  if (!HasState(csLoading)) value = std::clamp(value, minValue_, std::max(minValue_, maxValue_));
  if (value == progress_) return;
  progress_ = value;
  Changed(TControlChange::Appearance);
}

int TGauge::PercentDone() const {
  const long long range = static_cast<long long>(maxValue_) - minValue_;
  if (range == 0) return 100; // the progress is at its one value: done
  if (range < 0) return 0;
  return static_cast<int>((static_cast<long long>(progress_) - minValue_) * 100 / range);
}

void TGauge::SetForeColor(TColor color) {
  if (color == foreColor_) return;
  foreColor_ = color;
  Changed(TControlChange::Appearance);
}

void TGauge::SetBackColor(TColor color) {
  if (color == backColor_) return;
  backColor_ = color;
  Changed(TControlChange::Appearance);
}

void TGauge::SetShowText(bool value) {
  if (value == showText_) return;
  showText_ = value;
  Changed(TControlChange::Appearance);
}

void TGauge::SetBorderStyle(int style) {
  style = style == 0 ? 0 : 1;
  if (style == borderStyle_) return;
  borderStyle_ = style;
  Changed(TControlChange::Appearance);
}

void TGauge::Loaded() {
  TGraphicControl::Loaded();
  // Stored values arrive in any order; settle them as a whole.
  if (maxValue_ < minValue_) maxValue_ = minValue_;
  progress_ = std::clamp(progress_, minValue_, maxValue_);
}

} // namespace keltk
