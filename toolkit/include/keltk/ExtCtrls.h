// Decorative controls.
#pragma once

#include "keltk/Controls.h"

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

} // namespace keltk
