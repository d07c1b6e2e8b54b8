// Forms: top-level windows built from stored form data.
#pragma once

#include "keltk/Component.h"

namespace keltk {

class TForm : public TComponent {
public:
  explicit TForm(TComponent* owner);
  ~TForm() override;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }

  bool Visible() const { return visible_; }
  void SetVisible(bool visible) { visible_ = visible; }
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }

private:
  bool visible_ = false;
};

} // namespace keltk
