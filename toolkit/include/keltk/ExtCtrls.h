// Decorative controls, the panel and the timer.
#pragma once

#include "keltk/Controls.h"

#include <memory>

namespace keltk {

enum TBevelShape { bsBox, bsFrame, bsTopLine, bsBottomLine, bsLeftLine, bsRightLine, bsSpacer };
const EnumInfo& BevelShapeInfo();
enum TBevelStyle { bsLowered, bsRaised };
const EnumInfo& BevelStyleInfo();

// A box, frame or line with a sunken or raised edge.
class TBevel : public TGraphicControl {
public:
  explicit TBevel(TComponent* owner);
  ~TBevel() override;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }

  TBevelShape Shape() const { return shape_; }
  void SetShape(TBevelShape shape);
  TBevelStyle Style() const { return style_; }
  void SetStyle(TBevelStyle style);

private:
  TBevelShape shape_ = bsBox;
  TBevelStyle style_ = bsLowered;
};

enum TBevelCut { bvNone, bvLowered, bvRaised };
const EnumInfo& BevelCutInfo();

// A surface with an edge and a centred caption that holds other controls.
class TPanel : public TWinControl {
public:
  explicit TPanel(TComponent* owner);
  ~TPanel() override;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }

  TBevelCut BevelOuter() const { return bevelOuter_; }
  void SetBevelOuter(TBevelCut value);

private:
  TBevelCut bevelOuter_ = bvRaised;
};

// Raises OnTimer every Interval milliseconds while Enabled, through the window
// system's event loop (without one nothing waits, and it never fires). It stops
// when it is freed, and so when its owner goes: a timer on a plug-in's form
// stops before the plug-in's module is unmapped.
class TTimer : public TComponent {
public:
  explicit TTimer(TComponent* owner);
  ~TTimer() override;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }

  int Interval() const { return interval_; }
  // 0 stops the timer; a negative value counts as 0.
  void SetInterval(int ms);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  const TNotifyEvent& OnTimer() const { return onTimer_; }
  void SetOnTimer(const TNotifyEvent& handler);
  // True while the window system counts down for this timer.
  bool Running() const { return peer_ != nullptr; }

protected:
  void Loaded() override;
  // Raises OnTimer.
  virtual void Timer();

private:
  void restart();

  int interval_ = 1000;
  bool enabled_ = true;
  TNotifyEvent onTimer_;
  std::unique_ptr<TTimerPeer> peer_;
};

} // namespace keltk
