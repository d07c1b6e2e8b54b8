#include "keltk/ExtCtrls.h"

#include "keltk/PropInfo.h"

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

} // namespace keltk
