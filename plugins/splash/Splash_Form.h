// The splash window: a raised frame, a message line and a progress gauge.
#pragma once

#include <keltk/ExtCtrls.h>
#include <keltk/Forms.h>
#include <keltk/Gauges.h>
#include <keltk/StdCtrls.h>

class TSplashForm : public keltk::TForm {
public:
  explicit TSplashForm(keltk::TComponent* owner);
  ~TSplashForm() override;
  static const keltk::TClassInfo& StaticClass();
  const keltk::TClassInfo& ClassType() const override { return StaticClass(); }

  // The components of the stored form, found once it has been read.
  keltk::TBevel* Bevel_Border = nullptr;
  keltk::TLabel* Label_Msg = nullptr;
  keltk::TGauge* Gauge = nullptr;

  // A closed window frees itself, whoever closed it.
  void OnFormClose(keltk::TObject* Sender, keltk::TCloseAction& Action);
  // True once the window has been closed: it is on its way out and must not be
  // used any more, even before it is actually freed.
  bool Closed() const { return closed_; }

protected:
  void Loaded() override;

private:
  bool closed_ = false;
};
