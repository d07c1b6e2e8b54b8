#include "keltk/Forms.h"

namespace keltk {

TForm::TForm(TComponent* owner) : TComponent(owner) {}
TForm::~TForm() = default;

const TClassInfo& TForm::StaticClass() {
  static TClassInfo info("TForm", &TComponent::StaticClass());
  return info;
}

} // namespace keltk
