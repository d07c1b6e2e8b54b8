#include "QtPeer.h"

#include "QtConvert.h"
#include "QtMenuPeer.h"
#include "keltk/Menus.h"
#include "keltk/StdCtrls.h"

#include <QPalette>

namespace keltk::qt {

QtPeer::QtPeer(QtGuiBackend& backend, TControl& control, QWidget* widget, PeerLink& link)
    : backend_(backend), control_(control), widget_(widget), link_(link) {
  link_.peer = this;
  backend_.registerPeer(control_, this);
  QObject::connect(widget, &QWidget::customContextMenuRequested, widget,
                   [widget, &link](const QPoint& at) {
                     const QPoint global = widget->mapToGlobal(at);
                     toModel(link, [&](TControl& c) {
                       TPopupMenu* menu = c.PopupMenu();
                       if (menu == nullptr || !menu->AutoPopup()) return;
                       menu->SetPopupComponent(&c);
                       menu->Popup(global.x(), global.y());
                     });
                   });
}

QtPeer::~QtPeer() {
  backend_.unregisterPeer(control_, this);
  QWidget* w = widget_.data();
  if (w == nullptr) return;
  link_.peer = nullptr;
  w->hide();
  // An event of this widget (or of one inside it) may be what led here; Qt then
  // still needs the widget until the event loop takes over again.
  if (backend_.dispatching())
    w->deleteLater();
  else
    delete w;
}

void QtPeer::releaseWidget() {
  if (widget_.data() != nullptr) link_.peer = nullptr;
  widget_ = nullptr;
}

void QtPeer::changed(TControlChange what) {
  if (widget() == nullptr) return;
  switch (what) {
  case TControlChange::Bounds:
    applyBounds();
    break;
  case TControlChange::Visible:
    applyVisible();
    break;
  case TControlChange::Enabled:
    applyEnabled();
    break;
  case TControlChange::Text:
    applyText();
    break;
  case TControlChange::Color:
    applyColor();
    break;
  case TControlChange::Font:
    applyFont();
    break;
  case TControlChange::Parent:
    applyParent();
    break;
  case TControlChange::TabOrder:
    applyTabOrder();
    break;
  case TControlChange::Appearance:
    applyPopupMenu();
    applyAppearance();
    break;
  }
}

void QtPeer::invalidate() {
  if (QWidget* w = widget()) w->update();
}

void QtPeer::update() {
  // Qt has no "paint only what is pending" for one widget: paint it whole, now.
  if (QWidget* w = widget()) w->repaint();
}

void QtPeer::repaint() {
  if (QWidget* w = widget()) w->repaint();
}

void QtPeer::applyAll() {
  if (widget() == nullptr) return;
  applyFont();
  applyColor();
  applyText();
  applyPopupMenu();
  applyAppearance();
  applyEnabled();
  applyBounds();
  applyVisible();
}

void QtPeer::applyBounds() {
  Applying guard(*this);
  const TControl& c = control();
  QWidget* w = widget();
  // A form's client area starts below its menu bar.
  const int top = menuBarHeight(w->parentWidget());
  w->setGeometry(c.Left(), c.Top() + top, c.Width(), c.Height());
}

void QtPeer::applyVisible() {
  Applying guard(*this);
  widget()->setVisible(control().Visible());
}

void QtPeer::applyEnabled() {
  Applying guard(*this);
  widget()->setEnabled(control().Enabled());
}

void QtPeer::applyFont() {
  Applying guard(*this);
  QWidget* w = widget();
  const TFont& font = *control().Font();
  w->setFont(toQFont(font));
  QPalette pal = w->palette();
  const QColor color = toQColor(font.Color());
  for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    pal.setColor(role, color);
  w->setPalette(pal);
}

void QtPeer::applyPopupMenu() {
  const TPopupMenu* menu = control().PopupMenu();
  widget()->setContextMenuPolicy(menu != nullptr && menu->AutoPopup() ? Qt::CustomContextMenu
                                                                      : Qt::DefaultContextMenu);
}

void QtPeer::applyParent() {
  Applying guard(*this);
  QWidget* w = widget();
  const TWinControl* parent = control().Parent();
  QWidget* parentWidget = backend().widgetOf(parent);
  if (parentWidget == nullptr) {
    // Out of any shown window: keep the widget, hidden, until the control is
    // placed again or freed.
    w->hide();
    w->setParent(nullptr);
    return;
  }
  if (w->parentWidget() != parentWidget) w->setParent(parentWidget);
  applyBounds();
  applyVisible();
  backend().restack(*parent);
}

void QtPeer::applyTabOrder() {
  const auto* parent = ObjectAs<TWinControl>(&control());
  if (parent == nullptr) return;
  // Qt keeps the chain as a ring: what it orders is who follows whom.
  QWidget* previous = nullptr;
  for (const TWinControl* child : parent->TabOrderList()) {
    QWidget* w = backend().widgetOf(child);
    if (w == nullptr) continue;
    if (previous != nullptr) QWidget::setTabOrder(previous, w);
    previous = w;
  }
}

void raiseClick(TControl& control) {
  if (auto* button = ObjectAs<TButton>(&control)) {
    button->Click();
    return;
  }
  if (control.Enabled() && control.OnClick()) control.OnClick()(&control);
}

// ---- Controls of no particular kind ---------------------------------------------

namespace {

class PlainWidget : public QWidget {
public:
  using QWidget::QWidget;
  PeerLink link;

protected:
  void mouseReleaseEvent(QMouseEvent* event) override {
    QWidget::mouseReleaseEvent(event);
    toModel(link, [](TControl& c) { raiseClick(c); });
  }
};

class PlainPeer : public QtPeer {
public:
  PlainPeer(QtGuiBackend& backend, TControl& control, PlainWidget* widget)
      : QtPeer(backend, control, widget, widget->link) {}

protected:
  void applyColor() override {
    Applying guard(*this);
    QWidget* w = widget();
    // Drawn controls of unknown kind let their parent show through.
    const bool windowed = ObjectAs<TWinControl>(&control()) != nullptr;
    w->setAutoFillBackground(windowed);
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, toQColor(control().Color()));
    w->setPalette(pal);
  }
};

} // namespace

std::unique_ptr<QtPeer> makePlainPeer(QtGuiBackend& backend, TControl& control, QWidget* parent) {
  return std::make_unique<PlainPeer>(backend, control, new PlainWidget(parent));
}

} // namespace keltk::qt
