// A form as a top-level window (or, placed inside another control, as a plain
// child widget).
#include "QtConvert.h"
#include "QtMenuPeer.h"
#include "QtPeer.h"
#include "keltk/Forms.h"
#include "keltk/Menus.h"

#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QEvent>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMouseEvent>
#include <QMoveEvent>
#include <QPalette>
#include <QResizeEvent>
#include <QShowEvent>
#include <QThread>
#include <QWindow>
#include <algorithm>
#include <optional>
#include <vector>

namespace keltk::qt {

namespace {

// How long a paint waits for the window system to show a new window.
constexpr int kExposeWaitMs = 1000;

void waitUntilExposed(QWidget& w) {
  QWindow* window = w.windowHandle();
  if (window == nullptr) return;
  QElapsedTimer clock;
  clock.start();
  while (!window->isExposed() && clock.elapsed() < kExposeWaitMs) {
    // Window-system events only: no user input reaches the program meanwhile.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    if (!window->isExposed()) QThread::msleep(1);
  }
}

// Notes an expose event of the windows it watches.
class ExposeWatch : public QObject {
public:
  bool exposed = false;

protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Expose) exposed = true;
    return QObject::eventFilter(watched, event);
  }
};

bool hasIcon(const TForm& form, TBorderIcon icon) {
  return (form.BorderIcons() & (1u << icon)) != 0;
}

// True when a control on `parent`, or below it, can be tabbed to: pressed or typed into.
bool takesInput(const TWinControl& parent) {
  for (int i = 0; i < parent.ControlCount(); ++i) {
    const auto* child = ObjectAs<TWinControl>(parent.Controls(i));
    if (child != nullptr && (child->TabStop() || takesInput(*child))) return true;
  }
  return false;
}

// A borderless form kept on top that offers nothing to press or type into (a
// message, a bevel, a gauge) is a splash: the window manager is told so, and it
// takes no focus from the window its user works in, nor a task bar entry.
bool isSplash(const TForm& form) {
  return form.BorderStyle() == bsNone && form.FormStyle() == fsStayOnTop && !takesInput(form);
}

Qt::WindowFlags windowFlagsFor(const TForm& form) {
  if (isSplash(form))
    return Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
           Qt::WindowDoesNotAcceptFocus;
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

// The form's size limits for its window, whose size is the client area's (with
// the menu bar); the form's limits include its frame.
void applyConstraints(QWidget& w, const TForm& form, int menuBar) {
  const TSizeConstraints& limits = *form.Constraints();
  const TFormBorderStyle style = form.BorderStyle();
  auto inner = [](int outer, int frame, int extra, int none) {
    return outer > 0 ? std::max(outer - frame, 0) + extra : none;
  };
  w.setMinimumSize(inner(limits.MinWidth(), TForm::FrameWidth(style), 0, 0),
                   inner(limits.MinHeight(), TForm::FrameHeight(style), menuBar, 0));
  w.setMaximumSize(inner(limits.MaxWidth(), TForm::FrameWidth(style), 0, QWIDGETSIZE_MAX),
                   inner(limits.MaxHeight(), TForm::FrameHeight(style), menuBar, QWIDGETSIZE_MAX));
}

// Return and Escape that no control inside used; nothing with a modifier but the keypad's.
std::optional<TDialogKey> dialogKeyOf(const QKeyEvent& event) {
  if ((event.modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) return std::nullopt;
  switch (event.key()) {
  case Qt::Key_Return:
  case Qt::Key_Enter:
    return TDialogKey::Return;
  case Qt::Key_Escape:
    return TDialogKey::Escape;
  default:
    return std::nullopt;
  }
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
  // True while the model takes in where the window system put the window: the
  // model's echo must not move it back.
  bool takingGeometry = false;

protected:
  // Sent once the native window exists and before it is mapped: the window
  // manager learns where it belongs when it first sees it.
  void showEvent(QShowEvent* event) override {
    QWidget::showEvent(event);
    if (link.peer == nullptr) return;
    QtGuiBackend& backend = link.peer->backend();
    // A modal form stays over the window it was opened from: its owner's, or the
    // one the user was working in.
    QWidget* over = nullptr;
    if (const auto* form = ObjectAs<TForm>(&link.peer->control());
        form != nullptr && form->Modal()) {
      over = backend.widgetOf(ObjectAs<TForm>(form->Owner()));
      if (over == nullptr || !over->isVisible()) over = QApplication::activeWindow();
    }
    backend.stackOverHost(*this, over);
  }

  // Return and Escape reach the form when the focused control does not use them.
  void keyPressEvent(QKeyEvent* event) override {
    const std::optional<TDialogKey> key = dialogKeyOf(*event);
    bool pressed = false;
    if (key)
      toModel(link, [&](TControl& c) {
        if (auto* form = ObjectAs<TForm>(&c)) pressed = form->DialogKey(*key);
      });
    if (pressed)
      event->accept();
    else
      QWidget::keyPressEvent(event);
  }

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
    takeGeometry([at](TControl& c) { c.SetBounds(at.x(), at.y(), c.Width(), c.Height()); });
  }

  void resizeEvent(QResizeEvent* event) override {
    QWidget::resizeEvent(event);
    const int top = menuBarHeight(this);
    if (QMenuBar* bar = menuBarOf(this)) bar->setGeometry(0, 0, width(), top);
    if (!isWindow()) return;
    const QSize size(event->size().width(), event->size().height() - top);
    // The frame's place as well: the window manager may have told its size since.
    const QPoint at = pos();
    takeGeometry([size, at](TControl& c) {
      c.SetBounds(at.x(), at.y(), c.Width(), c.Height());
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

private:
  template <class F> void takeGeometry(F&& call) {
    const bool was = takingGeometry;
    takingGeometry = true;
    toModel(link, std::forward<F>(call));
    // The call may have freed the form, and this window is then deleted later.
    takingGeometry = was;
  }
};

class FormPeer : public QtPeer {
public:
  FormPeer(QtGuiBackend& backend, TForm& form, FormWindow* window)
      : QtPeer(backend, form, window, window->link), form_(form), window_(window) {}

protected:
  void applyBounds() override {
    Applying guard(*this);
    QWidget* w = widget();
    const int top = menuBarHeight(w);
    const QSize client(form_.ClientWidth(), form_.ClientHeight() + top);
    if (QMenuBar* bar = menuBarOf(w)) bar->setGeometry(0, 0, client.width(), top);
    if (!w->isWindow()) {
      w->setGeometry(QRect(QPoint(form_.Left(), form_.Top()), client));
      return;
    }
    // The window manager placed it (a move, a maximize): the model only follows.
    if (window_->takingGeometry) return;
    if (w->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))
      return;
    if (userSizeable(form_.BorderStyle())) {
      applyConstraints(*w, form_, top);
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
      hideWindow(*w);
      return;
    }
    applyBounds();
    // Modality is taken when the window is shown.
    if (w->isWindow() && !w->isVisible())
      w->setWindowModality(form_.Modal() ? Qt::ApplicationModal : Qt::NonModal);
    w->show();
    if (!w->isWindow()) return;
    // The flags tell a splash, as applyAppearance set them: no second look at the form.
    if (w->windowType() != Qt::SplashScreen) w->activateWindow();
    // A splash must be on the screen before its host goes on working.
    if (form_.FormStyle() == fsStayOnTop) paintNow();
  }

public:
  void update() override { paintNow(); }
  void repaint() override { paintNow(); }

protected:
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
        w->setAttribute(Qt::WA_ShowWithoutActivating,
                        (flags & Qt::WindowType_Mask) == Qt::SplashScreen);
        w->setWindowFlags(flags);
        applyBounds();
        if (shown) w->show();
      }
      const Qt::WindowStates state = windowStateFor(form_.WindowState());
      if (w->windowState() != state) w->setWindowState(state);
    }
    syncMenu();
    w->update();
  }

private:
  // Leaves the window painted on the screen when it returns, also when nothing
  // processes window messages afterwards: Qt paints only an exposed window, and
  // a window manager exposes a new one in its own time.
  void paintNow() {
    QWidget* w = widget();
    if (w == nullptr) return;
    if (w->isWindow() && w->isVisible() && !w->isMinimized()) waitUntilExposed(*w);
    w->repaint();
  }

  // The windows below show through at once: they are repainted now rather than
  // when their expose events are handled. On X a window manager takes the frame
  // away in its own time, so their exposure is waited for (briefly) as well.
  static void hideWindow(QWidget& w) {
    if (!w.isWindow() || !w.isVisible()) {
      w.hide();
      return;
    }
    const QRect was = w.frameGeometry();
    std::vector<QWidget*> below;
    for (QWidget* top : QApplication::topLevelWidgets())
      if (top != &w && top->isVisible() && top->frameGeometry().intersects(was))
        below.push_back(top);
    ExposeWatch watch;
    for (QWidget* top : below)
      if (QWindow* window = top->windowHandle()) window->installEventFilter(&watch);
    w.hide();
    for (QWidget* top : below)
      top->repaint();
    if (below.empty() || QGuiApplication::platformName() != QLatin1String("xcb")) return;
    QElapsedTimer clock;
    clock.start();
    while (!watch.exposed && clock.elapsed() < kExposeWaitMs / 4) {
      QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
      if (!watch.exposed) QThread::msleep(1);
    }
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  }

  // The form's main menu becomes this window's menu bar; the client area (and
  // every control in it) moves down by the bar's height.
  void syncMenu() {
    TMainMenu* menu = form_.Menu();
    if (menu != nullptr && !showsMenu(*menu, window_))
      menu->SetPeer(makeMenuBarPeer(backend(), *menu, window_));
    const int height = menuBarHeight(window_);
    if (height == barHeight_) return;
    barHeight_ = height;
    applyBounds();
    for (int i = 0; i < form_.ControlCount(); ++i)
      if (QtPeer* peer = backend().peerOf(form_.Controls(i))) peer->changed(TControlChange::Bounds);
  }

  TForm& form_;
  FormWindow* window_;
  int barHeight_ = 0; // the client area's offset the controls were placed with
};

// Tells the peer of a program's window what happened to the window.
class WindowWatch : public QObject {
public:
  PeerLink link;

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
};

// A form that stands for a window the program made (a Qt program's main window):
// it reflects the window's title, place, size and visibility, and showing,
// hiding, moving or retitling the form acts on the window. Nothing else of the
// program's window is changed (no menu bar of the form's, no flags, palette or
// font), and the window is never deleted here.
class AdoptedWindowPeer : public QtPeer {
public:
  AdoptedWindowPeer(QtGuiBackend& backend, TForm& form, QWidget& window,
                    std::unique_ptr<WindowWatch> watch)
      : QtPeer(backend, form, &window, watch->link), form_(form), watch_(std::move(watch)) {
    window.installEventFilter(watch_.get());
  }
  ~AdoptedWindowPeer() override {
    if (QWidget* w = widget()) w->removeEventFilter(watch_.get());
    // The base then finds no widget, and neither deletes the program's window
    // nor touches the link, which goes with the watch before it runs.
    releaseWidget();
  }

  bool ownsWidget() const override { return false; }

  // Brings the form in line with the window.
  void takeAll() {
    takeText();
    takeGeometry();
    takeVisible();
  }
  void takeText() {
    const std::string title = widget()->windowTitle().toStdString();
    take([title](TForm& form) { form.SetCaption(title); });
  }
  void takeGeometry() {
    QWidget* w = widget();
    const QPoint at = w->pos();
    const QSize client(w->width(), w->height() - menuBarHeight(w));
    take([at, client](TForm& form) {
      form.SetBounds(at.x(), at.y(), form.Width(), form.Height());
      form.SetClientWidth(client.width());
      form.SetClientHeight(client.height());
    });
  }
  void takeVisible() {
    const bool shown = widget()->isVisible();
    take([shown](TForm& form) { form.SetVisible(shown); });
  }

protected:
  void applyBounds() override {
    if (taking_) return;
    Applying guard(*this);
    QWidget* w = widget();
    if (w->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))
      return;
    w->resize(form_.ClientWidth(), form_.ClientHeight() + menuBarHeight(w));
    w->move(form_.Left(), form_.Top());
  }
  void applyVisible() override {
    if (taking_) return;
    Applying guard(*this);
    QWidget* w = widget();
    if (!form_.Visible()) {
      w->hide();
      return;
    }
    w->show();
    w->raise();
    w->activateWindow();
  }
  void applyText() override {
    if (taking_) return;
    Applying guard(*this);
    widget()->setWindowTitle(toQString(form_.Caption()));
  }
  // The program's window keeps its own looks, state and menu bar.
  void applyEnabled() override {}
  void applyColor() override {}
  void applyFont() override {}
  void applyAppearance() override {}

private:
  template <class F> void take(F&& call) {
    const bool was = taking_;
    taking_ = true;
    toModel(watch_->link, [&](TControl& c) { call(static_cast<TForm&>(c)); });
    taking_ = was;
  }

  TForm& form_;
  std::unique_ptr<WindowWatch> watch_;
  bool taking_ = false; // the model follows the window: nothing goes back to it
};

bool WindowWatch::eventFilter(QObject* /*watched*/, QEvent* event) {
  auto* peer = static_cast<AdoptedWindowPeer*>(link.peer);
  if (peer == nullptr || peer->applying()) return false;
  switch (event->type()) {
  case QEvent::WindowTitleChange:
    peer->takeText();
    break;
  case QEvent::Move:
  case QEvent::Resize:
    peer->takeGeometry();
    break;
  case QEvent::Show:
  case QEvent::Hide:
    peer->takeVisible();
    break;
  default:
    break;
  }
  return false;
}

} // namespace

void adoptWindow(QtGuiBackend& backend, TForm& form, QWidget& window) {
  auto peer =
      std::make_unique<AdoptedWindowPeer>(backend, form, window, std::make_unique<WindowWatch>());
  AdoptedWindowPeer* adopted = peer.get();
  // The peer first: a form shown while it has none would make a window of its own.
  form.SetPeer(std::move(peer));
  adopted->takeAll();
}

std::unique_ptr<QtPeer> makeFormPeer(QtGuiBackend& backend, TForm& form, QWidget* parent) {
  return std::make_unique<FormPeer>(backend, form, new FormWindow(parent));
}

} // namespace keltk::qt
