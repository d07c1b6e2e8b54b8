// A form as a top-level window (or, placed inside another control, as a plain
// child widget).
#include "QtConvert.h"
#include "QtPeer.h"
#include "keltk/Forms.h"

#include <QCloseEvent>
#include <QEvent>
#include <QMouseEvent>
#include <QMoveEvent>
#include <QPalette>
#include <QResizeEvent>

namespace keltk::qt {

namespace {

bool hasIcon(const TForm& form, TBorderIcon icon) {
  return (form.BorderIcons() & (1u << icon)) != 0;
}

Qt::WindowFlags windowFlagsFor(const TForm& form) {
  const TFormBorderStyle style = form.BorderStyle();
  Qt::WindowFlags flags = Qt::Window;
  switch (style) {
  case bsNone:
    flags |= Qt::FramelessWindowHint;
    break;
  case bsDialog:
    flags = Qt::Dialog;
    break;
  case bsToolWindow:
  case bsSizeToolWin:
    flags = Qt::Tool;
    break;
  default:
    break;
  }
  if (style != bsNone) {
    flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (hasIcon(form, biSystemMenu)) {
      flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
      // Only the ordinary frames have minimize and maximize buttons.
      const bool ordinary = style == bsSingle || style == bsSizeable;
      if (ordinary && hasIcon(form, biMinimize)) flags |= Qt::WindowMinimizeButtonHint;
      if (ordinary && hasIcon(form, biMaximize)) flags |= Qt::WindowMaximizeButtonHint;
      if (hasIcon(form, biHelp)) flags |= Qt::WindowContextHelpButtonHint;
    }
  }
  if (form.FormStyle() == fsStayOnTop) flags |= Qt::WindowStaysOnTopHint;
  return flags;
}

bool userSizeable(TFormBorderStyle style) {
  return style == bsSizeable || style == bsSizeToolWin;
}

Qt::WindowStates windowStateFor(TWindowState state) {
  switch (state) {
  case wsMinimized:
    return Qt::WindowMinimized;
  case wsMaximized:
    return Qt::WindowMaximized;
  default:
    return Qt::WindowNoState;
  }
}

class FormWindow : public QWidget {
public:
  explicit FormWindow(QWidget* parent)
      : QWidget(parent, parent == nullptr ? Qt::Window : Qt::Widget) {}
  PeerLink link;

protected:
  // Qt does not close the window itself: the form decides (OnCloseQuery, OnClose
  // and its action) and hides or frees it.
  void closeEvent(QCloseEvent* event) override {
    event->ignore();
    toModel(link, [](TControl& c) {
      if (auto* form = ObjectAs<TForm>(&c)) form->Close();
    });
  }

  // Moves and resizes by the user or the window system show in the model.
  void moveEvent(QMoveEvent* event) override {
    QWidget::moveEvent(event);
    if (!isWindow()) return;
    const QPoint at = pos();
    toModel(link, [at](TControl& c) { c.SetBounds(at.x(), at.y(), c.Width(), c.Height()); });
  }

  void resizeEvent(QResizeEvent* event) override {
    QWidget::resizeEvent(event);
    if (!isWindow()) return;
    const QSize size = event->size();
    toModel(link, [size](TControl& c) {
      c.SetClientWidth(size.width());
      c.SetClientHeight(size.height());
    });
  }

  void changeEvent(QEvent* event) override {
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange) return;
    const Qt::WindowStates state = windowState();
    toModel(link, [state](TControl& c) {
      auto* form = ObjectAs<TForm>(&c);
      if (form == nullptr) return;
      if (state & Qt::WindowMinimized)
        form->SetWindowState(wsMinimized);
      else if (state & Qt::WindowMaximized)
        form->SetWindowState(wsMaximized);
      else
        form->SetWindowState(wsNormal);
    });
  }

  void mouseReleaseEvent(QMouseEvent* event) override {
    QWidget::mouseReleaseEvent(event);
    if (rect().contains(event->position().toPoint()))
      toModel(link, [](TControl& c) { raiseClick(c); });
  }
};

class FormPeer : public QtPeer {
public:
  FormPeer(QtGuiBackend& backend, TForm& form, FormWindow* window)
      : QtPeer(backend, form, window, window->link), form_(form) {}

protected:
  void applyBounds() override {
    Applying guard(*this);
    QWidget* w = widget();
    const QSize client(form_.ClientWidth(), form_.ClientHeight());
    if (!w->isWindow()) {
      w->setGeometry(QRect(QPoint(form_.Left(), form_.Top()), client));
      return;
    }
    if (userSizeable(form_.BorderStyle())) {
      w->setMinimumSize(0, 0);
      w->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
      w->resize(client);
    } else {
      w->setFixedSize(client);
    }
    // A window's position is its frame's, as the form's Left and Top are.
    w->move(form_.Left(), form_.Top());
  }

  void applyVisible() override {
    Applying guard(*this);
    QWidget* w = widget();
    if (!form_.Visible()) {
      w->hide();
      return;
    }
    applyBounds();
    w->show();
    if (w->isWindow()) w->activateWindow();
  }

  void applyText() override {
    Applying guard(*this);
    widget()->setWindowTitle(toQString(form_.Caption()));
  }

  void applyColor() override {
    Applying guard(*this);
    QWidget* w = widget();
    w->setAutoFillBackground(true);
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, toQColor(form_.Color()));
    w->setPalette(pal);
  }

  void applyAppearance() override {
    Applying guard(*this);
    QWidget* w = widget();
    if (w->isWindow()) {
      const Qt::WindowFlags flags = windowFlagsFor(form_);
      if (w->windowFlags() != flags) {
        // New flags hide the window; the form's size rules may change with them.
        const bool shown = w->isVisible();
        w->setWindowFlags(flags);
        applyBounds();
        if (shown) w->show();
      }
      const Qt::WindowStates state = windowStateFor(form_.WindowState());
      if (w->windowState() != state) w->setWindowState(state);
    }
    w->update();
  }

private:
  TForm& form_;
};

} // namespace

std::unique_ptr<QtPeer> makeFormPeer(QtGuiBackend& backend, TForm& form, QWidget* parent) {
  return std::make_unique<FormPeer>(backend, form, new FormWindow(parent));
}

} // namespace keltk::qt
