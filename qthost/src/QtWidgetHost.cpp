#include "keltk/QtWidgetHost.h"

#include <QEvent>
#include <QPointer>
#include <QWidget>
#include <keltk/PropInfo.h>
#include <keltk/QtBackend.h>

namespace keltk {

namespace {

// Keeps its parent widget over the whole of the surface it watches, at every size
// the model gives the surface: the control's geometry, not what the widget would
// like. A child of the widget, so it goes with it (and stops watching then).
class Fitter : public QObject {
public:
  explicit Fitter(QWidget& widget) : QObject(&widget), widget_(widget) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Resize)
      widget_.setGeometry(static_cast<QWidget*>(watched)->rect());
    return false;
  }

private:
  QWidget& widget_;
};

void fill(QWidget& surface, QWidget& widget) {
  widget.setParent(&surface);
  widget.setGeometry(surface.rect());
  surface.installEventFilter(new Fitter(widget));
  widget.show();
}

} // namespace

struct TQtWidgetHost::Holder {
  // Cleared by Qt when other code deletes the widget.
  QPointer<QWidget> widget;
};

TQtWidgetHost::TQtWidgetHost(TComponent* owner)
    : TWinControl(owner), holder_(std::make_unique<Holder>()) {}

TQtWidgetHost::~TQtWidgetHost() {
  // Shown, the widget lies on the control's surface, which the peer takes away
  // with it (later, when an event of the widget led here); not shown, nothing does.
  QWidget* widget = holder_->widget.data();
  if (widget != nullptr && widget->parentWidget() == nullptr) delete widget;
}

const TClassInfo& TQtWidgetHost::StaticClass() {
  static TClassInfo info("TQtWidgetHost", &TWinControl::StaticClass(), [](TClassInfo& i) {
    using H = TQtWidgetHost;
    ClassBuilder<H> b(i);
    b.componentFactory();
    b.enumeration("Align", AlignInfo(), &H::Align, &H::SetAlign).defaultValue(alNone);
    b.boolean("Enabled", &H::Enabled, &H::SetEnabled).defaultValue(1);
    b.string("Hint", &H::Hint, &H::SetHint);
    b.boolean("ShowHint", &H::ShowHint, &H::SetShowHint).defaultValue(0);
    b.integer("TabOrder", &H::TabOrder, &H::SetTabOrder);
    b.boolean("TabStop", &H::TabStop, &H::SetTabStop).defaultValue(1);
    b.boolean("Visible", &H::Visible, &H::SetVisible).defaultValue(1);
  });
  return info;
}

void TQtWidgetHost::SetWidget(QWidget* widget) {
  QWidget* old = holder_->widget.data();
  if (widget == old) return;
  holder_->widget = widget;
  delete old;
  if (widget == nullptr) return;
  if (QWidget* surface = PeerWidget(*this)) {
    fill(*surface, *widget);
    return;
  }
  // Kept aside until the form is shown and the control gets its surface.
  widget->setParent(nullptr);
  widget->hide();
}

QWidget* TQtWidgetHost::Widget() const {
  return holder_->widget.data();
}

namespace {

// Forms name the class, and the window system gives it a surface to fill, while
// this library is loaded.
struct Registration {
  Registration() {
    RegisterQtSurfaceFill(TQtWidgetHost::StaticClass().name,
                          [](TControl& control, QWidget& surface) {
                            auto* host = ObjectAs<TQtWidgetHost>(&control);
                            if (host != nullptr && host->Widget() != nullptr)
                              fill(surface, *host->Widget());
                          });
  }
  ~Registration() { UnregisterQtSurfaceFill(TQtWidgetHost::StaticClass().name); }
  ClassRegistrar<TQtWidgetHost> cls;
};
const Registration registration;

} // namespace

} // namespace keltk
