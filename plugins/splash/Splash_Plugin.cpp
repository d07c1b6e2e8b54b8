#include "Splash_Plugin.h"

#include "Splash_Form.h"

#include <keltk/Application.h>
#include <keltk/PropInfo.h>
#include <kelvarin/PluginModule.h>

using kelvarin::smrOk;
using kelvarin::smrUnexpectedError;
using kelvarin::TKelMethodResult;

const keltk::TClassInfo& TkelSplash::StaticClass() {
  static keltk::TClassInfo info("TkelSplash", &TulmKel::StaticClass(), [](keltk::TClassInfo& i) {
    keltk::ClassBuilder<TkelSplash> b(i);
    b.method<&TkelSplash::OnInitialize>("OnInitialize");
    b.method<&TkelSplash::OnFinalize>("OnFinalize");
    b.method<&TkelSplash::Startup_Gauge>("Startup_Gauge");
    b.method<&TkelSplash::Increment_Gauge>("Increment_Gauge");
    b.method<&TkelSplash::Hide_Splash>("Hide_Splash");
  });
  return info;
}

TkelSplash::TkelSplash(keltk::TComponent* owner) : TulmKel(owner) {}

TkelSplash::~TkelSplash() {
  // A host that destroys the plug-in without finalizing it still gets its window back.
  if (SplashWindow != nullptr) keltk::FreeObject(SplashWindow);
}

void TkelSplash::Notification(keltk::TComponent* component, keltk::TOperation operation) {
  TulmKel::Notification(component, operation);
  if (operation == keltk::TOperation::opRemove && component == SplashWindow) {
    SplashWindow = nullptr;
    GaugeActive = false;
  }
}

TSplashForm* TkelSplash::usableWindow() const {
  return SplashWindow != nullptr && !SplashWindow->Closed() ? SplashWindow : nullptr;
}

TKelMethodResult TkelSplash::OnInitialize(keltk::TVarRecs /*Params*/, bool& /*CanLoad*/) {
  TKelMethodResult result = smrUnexpectedError;
  try {
    // Owned by nobody: this plug-in frees it, or it frees itself when closed.
    auto* window = keltk::CreateObject<TSplashForm>(nullptr);
    window->FreeNotification(this);
    SplashWindow = window;
    result = smrOk;
  } catch (...) {
  }
  return result;
}

TKelMethodResult TkelSplash::OnFinalize() {
  TKelMethodResult result = smrUnexpectedError;
  try {
    // A window closed by its user may still wait for the idle step that frees
    // it; it goes now, since its code leaves with this module.
    if (SplashWindow != nullptr) keltk::FreeObject(SplashWindow);
    SplashWindow = nullptr;
    result = smrOk;
  } catch (...) {
  }
  return result;
}

TKelMethodResult TkelSplash::Startup_Gauge(keltk::TVarRecs Params) {
  TKelMethodResult result = smrUnexpectedError;
  try {
    TSplashForm* window = usableWindow();
    if (window == nullptr || Params.size() < 2) return result;
    const int min = kelvarin::Var2Int(Params[0]);
    const int max = kelvarin::Var2Int(Params[1]);
    // A range the gauge refuses changes nothing: no window shown, GaugeActive kept.
    if (min > max) return result;
    keltk::TGauge* gauge = window->Gauge;
    // The gauge refuses a minimum above its maximum at every step, so a new range
    // wholly above the old one takes its maximum first.
    if (min > gauge->MaxValue()) {
      gauge->SetMaxValue(max);
      gauge->SetMinValue(min);
    } else {
      gauge->SetMinValue(min);
      gauge->SetMaxValue(max);
    }
    gauge->SetProgress(min);
    GaugeActive = true;
    window->Show();
    window->Repaint();
    result = smrOk;
  } catch (...) {
  }
  return result;
}

TKelMethodResult TkelSplash::Increment_Gauge(keltk::TVarRecs Params) {
  TKelMethodResult result = smrUnexpectedError;
  try {
    if (!GaugeActive) return result;
    TSplashForm* window = usableWindow();
    if (window == nullptr || Params.empty()) return result;
    const std::string message = kelvarin::Var2Str(Params[0]);
    if (!message.empty()) window->Label_Msg->SetCaption(message);
    window->Gauge->SetProgress(window->Gauge->Progress() + 1);
    // Pending window messages may run host code that frees the window.
    keltk::Application()->ProcessMessages();
    window = usableWindow();
    if (window == nullptr) return result;
    if (window->Gauge->Progress() == window->Gauge->MaxValue()) GaugeActive = false;
    result = smrOk;
  } catch (...) {
  }
  return result;
}

TKelMethodResult TkelSplash::Hide_Splash(keltk::TVarRecs /*Params*/) {
  TKelMethodResult result = smrUnexpectedError;
  try {
    TSplashForm* window = usableWindow();
    if (window == nullptr) return result;
    window->Hide();
    result = smrOk;
  } catch (...) {
  }
  return result;
}

extern "C" kelvarin::TulmKel* RegisterKelvarin() {
  return kelvarin::RegisterPlugin<TkelSplash>();
}
