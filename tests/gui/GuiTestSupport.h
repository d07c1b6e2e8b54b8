// What the window-system tests share: a QApplication for the whole run (offscreen),
// a fresh application object with the Qt backend per test, the two sample forms
// built from their stored data, and ways to wait for the event loop.
#pragma once

#include <QApplication>
#include <QColor>
#include <QDialog>
#include <QImage>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <gtest/gtest.h>
#include <keltk/Application.h>
#include <keltk/ExtCtrls.h>
#include <keltk/Forms.h>
#include <keltk/Gauges.h>
#include <keltk/QtBackend.h>
#include <keltk/StdCtrls.h>
#include <string>
#include <vector>

namespace guitest {

using namespace keltk;

// A form like the sample host's main form.
class TGuiHostForm : public TForm {
public:
  using TForm::TForm;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }

  void FormClose(TObject*, TCloseAction& action) {
    ++closes;
    action = closeAction;
  }
  void Button_LoadPluginClick(TObject*) { clicked.push_back(Edit_PluginName()->Text()); }

  TButton* Button_LoadPlugin() const {
    return ObjectAs<TButton>(FindComponent("Button_LoadPlugin"));
  }
  TEdit* Edit_PluginName() const { return ObjectAs<TEdit>(FindComponent("Edit_PluginName")); }

  TCloseAction closeAction = caFree;
  int closes = 0;
  std::vector<std::string> clicked;
};

// A form like the splash window.
class TGuiSplashForm : public TForm {
public:
  using TForm::TForm;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }

  void OnFormClose(TObject*, TCloseAction& action) { action = caFree; }

  TBevel* Bevel_Border() const { return ObjectAs<TBevel>(FindComponent("Bevel_Border")); }
  TLabel* Label_Msg() const { return ObjectAs<TLabel>(FindComponent("Label_Msg")); }
  TGauge* Gauge() const { return ObjectAs<TGauge>(FindComponent("Gauge")); }
};

// Per test: its own application object (Terminate is for good), made current and
// served by the Qt backend; the sample forms' stored data registered.
class GuiTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;

  TApplication* app() const { return app_.get(); }
  // Runs the application's loop; a test that hangs fails after `ms` instead.
  void runWithTimeout(int ms = 5000);
  bool timedOut() const { return timedOut_; }

  ObjectPtr<TApplication> app_;
  bool timedOut_ = false;
};

// Runs an event loop until `done` holds or `ms` pass; returns whether it holds.
bool waitUntil(const std::function<bool()>& done, int ms = 3000);

// Calls `action` with the modal widget as soon as one is up (polling from a timer
// while a modal loop runs); gives up after `ms`.
void whenModal(std::function<void(QWidget*)> action, int ms = 3000);

// The window's picture, one image pixel per widget pixel.
QImage grabImage(QWidget* widget);
// The colour at (x, y) of `image`, as a TColor-free triple for readable failures.
std::string rgbAt(const QImage& image, int x, int y);
std::string rgb(int r, int g, int b);

// Frees a form (or anything) when the test ends unless the test did.
template <class T> using Owned = ObjectPtr<T>;

} // namespace guitest
