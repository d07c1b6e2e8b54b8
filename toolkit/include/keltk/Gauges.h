// A progress gauge.
#pragma once

#include "keltk/Controls.h"

namespace keltk {

enum TGaugeKind { gkText, gkHorizontalBar, gkVerticalBar, gkPie, gkNeedle };
const EnumInfo& GaugeKindInfo();

// The frame around a gauge (the first two values of the form border styles).
const EnumInfo& BorderStyleInfo();

// Shows how far Progress has come from MinValue to MaxValue.
class TGauge : public TGraphicControl {
public:
  explicit TGauge(TComponent* owner);
  ~TGauge() override;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }

  TGaugeKind Kind() const { return kind_; }
  void SetKind(TGaugeKind kind);
  // A minimum above the maximum (or a maximum below the minimum) is a range the
  // gauge does not accept: EInvalidOperation, nothing changes. While stored data is
  // read either order is taken. Progress follows the range.
  int MinValue() const { return minValue_; }
  void SetMinValue(int value);
  int MaxValue() const { return maxValue_; }
  void SetMaxValue(int value);
  // Kept within [MinValue, MaxValue].
  int Progress() const { return progress_; }
  void SetProgress(int value);
  // Whole percent done; 0 for an empty range.
  int PercentDone() const;

  TColor ForeColor() const { return foreColor_; }
  void SetForeColor(TColor color);
  TColor BackColor() const { return backColor_; }
  void SetBackColor(TColor color);
  bool ShowText() const { return showText_; }
  void SetShowText(bool value);
  // bsNone (0) or bsSingle (1).
  int BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(int style);

protected:
  void Loaded() override;

private:
  TGaugeKind kind_ = gkHorizontalBar;
  int minValue_ = 0;
  int maxValue_ = 100;
  int progress_ = 0;
  TColor foreColor_ = clBlack;
  TColor backColor_ = clWhite;
  bool showText_ = true;
  int borderStyle_ = 1;
};

} // namespace keltk
