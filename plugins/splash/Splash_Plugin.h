// The Splash plug-in: a hidden splash window made at initialization, shown and
// advanced by commands, freed at finalization.
#pragma once

#include <kelvarin/plugin.h>

class TSplashForm;

class TkelSplash : public kelvarin::TulmKel {
public:
  explicit TkelSplash(keltk::TComponent* owner);
  ~TkelSplash() override;
  static const keltk::TClassInfo& StaticClass();
  const keltk::TClassInfo& ClassType() const override { return StaticClass(); }

  // The splash window; null before initialization and once it is gone (also
  // when its user closed it).
  TSplashForm* SplashWindow = nullptr;
  // True from Startup_Gauge until the gauge is full.
  bool GaugeActive = false;

  // Handlers bound by the stored form. Each answers smrOk when all its steps
  // succeeded and smrUnexpectedError otherwise; none logs or raises anything.
  kelvarin::TKelMethodResult OnInitialize(keltk::TVarRecs Params, bool& CanLoad);
  kelvarin::TKelMethodResult OnFinalize();
  // Params: Min and Max.
  kelvarin::TKelMethodResult Startup_Gauge(keltk::TVarRecs Params);
  // Params: the message; an empty one keeps the last.
  kelvarin::TKelMethodResult Increment_Gauge(keltk::TVarRecs Params);
  kelvarin::TKelMethodResult Hide_Splash(keltk::TVarRecs Params);

protected:
  void Notification(keltk::TComponent* component, keltk::TOperation operation) override;

private:
  // The window when it is there to be used: set, and not closed.
  TSplashForm* usableWindow() const;
};
