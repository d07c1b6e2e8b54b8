// A control that shows a widget of the program's or plug-in's own making inside a
// designed window: any Qt widget, placed and sized like the other controls.
//
// check: qt-cpp
//   #include <QCalendarWidget>
//
//   void showCalendar(keltk::TComponent* window) {
//     auto* host = keltk::ObjectAs<keltk::TQtWidgetHost>(window->FindComponent("Chart"));
//     if (host != nullptr) host->SetWidget(new QCalendarWidget);
//   }
//
// The widget fills the control: it follows the control's Left, Top, Width, Height
// and Align, and is shown and enabled with it. It is deleted with the control, so
// a window the plug-in frees (or the framework frees before the module is
// unmapped) takes it along; code that deletes the widget itself first leaves the
// control empty. Forms name the class as TQtWidgetHost; the widget is given in code.
// The header needs no Qt: QWidget is only named.
#pragma once

#include <keltk/Controls.h>
#include <memory>

class QWidget;

namespace keltk {

class TQtWidgetHost : public TWinControl {
public:
  explicit TQtWidgetHost(TComponent* owner);
  ~TQtWidgetHost() override;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }

  // Takes `widget` over; the widget shown before is deleted. Null: none.
  void SetWidget(QWidget* widget);
  // The widget, or null: none given, or deleted by other code.
  QWidget* Widget() const;

private:
  struct Holder;
  std::unique_ptr<Holder> holder_;
};

} // namespace keltk
