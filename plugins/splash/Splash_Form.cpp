#include "Splash_Form.h"

#include <keltk/PropInfo.h>

const keltk::TClassInfo& TSplashForm::StaticClass() {
  static keltk::TClassInfo info("TSplashForm", &TForm::StaticClass(), [](keltk::TClassInfo& i) {
    keltk::ClassBuilder<TSplashForm>(i).componentFactory().method<&TSplashForm::OnFormClose>(
        "OnFormClose");
  });
  return info;
}

namespace {
// The form reader, and the build's form check, create the window by its class name.
const keltk::ClassRegistrar<TSplashForm> registerSplashForm;
} // namespace

TSplashForm::TSplashForm(keltk::TComponent* owner) : TForm(owner) {}

TSplashForm::~TSplashForm() = default;

void TSplashForm::Loaded() {
  TForm::Loaded();
  Bevel_Border = keltk::ObjectAs<keltk::TBevel>(FindComponent("Bevel_Border"));
  Label_Msg = keltk::ObjectAs<keltk::TLabel>(FindComponent("Label_Msg"));
  Gauge = keltk::ObjectAs<keltk::TGauge>(FindComponent("Gauge"));
}

void TSplashForm::OnFormClose(keltk::TObject* /*Sender*/, keltk::TCloseAction& Action) {
  Action = keltk::caFree;
  closed_ = true;
}
