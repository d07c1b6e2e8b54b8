#include "QtGuiBackend.h"

#include "QtConvert.h"
#include "QtMenuPeer.h"
#include "QtModuleObjects.h"
#include "QtPeer.h"
#include "keltk/Application.h"
#include "keltk/Dialogs.h"
#include "keltk/ExtCtrls.h"
#include "keltk/FileWatch.h"
#include "keltk/Forms.h"
#include "keltk/Gauges.h"
#include "keltk/Menus.h"
#include "keltk/QtBackend.h"
#include "keltk/StdCtrls.h"
#include "keltk/StrUtils.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QEventLoop>
#include <QFontMetrics>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <QVariant>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <unordered_set>

namespace keltk::qt {

// Tells the backend when the application it serves is freed first.
class ApplicationWatch : public TComponent {
public:
  explicit ApplicationWatch(QtGuiBackend& backend) : TComponent(nullptr), backend_(backend) {}
  ~ApplicationWatch() override = default;
  static const TClassInfo& StaticClass() {
    static TClassInfo info("TQtApplicationWatch", &TComponent::StaticClass());
    return info;
  }
  const TClassInfo& ClassType() const override { return StaticClass(); }

protected:
  void Notification(TComponent* component, TOperation operation) override {
    TComponent::Notification(component, operation);
    if (operation == TOperation::opRemove && component == backend_.application())
      backend_.forgetApplication();
  }

private:
  QtGuiBackend& backend_;
};

namespace {

QAbstractEventDispatcher* guiDispatcher() {
  QCoreApplication* app = QCoreApplication::instance();
  return app != nullptr ? QAbstractEventDispatcher::instance(app->thread()) : nullptr;
}

// Pops what was pushed, however the scope is left.
template <class T> struct Pushed {
  Pushed(std::vector<T>& stack, T value) : stack(stack) { stack.push_back(std::move(value)); }
  ~Pushed() { stack.pop_back(); }
  Pushed(const Pushed&) = delete;
  Pushed& operator=(const Pushed&) = delete;
  std::vector<T>& stack;
};

} // namespace

std::unique_ptr<TFileWatchPeer> CreateFileWatchPeer(TFileWatch& watch); // QtFileWatch.cpp

QtGuiBackend::QtGuiBackend(TApplication& app)
    : app_(&app),
      watch_(CreateObject<ApplicationWatch>(*this), [](ApplicationWatch* w) { FreeObject(w); }) {
  app.FreeNotification(watch_.get());
  if (QAbstractEventDispatcher* dispatcher = guiDispatcher())
    idleConnection_ =
        QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, [this] { idle(); });
  app.SetGuiBackend(this);
  SetFileWatchPeerFactory(&CreateFileWatchPeer);
}

QtGuiBackend::~QtGuiBackend() {
  shutdown();
}

std::vector<QtPeer*> QtGuiBackend::allPeers() const {
  std::vector<QtPeer*> peers;
  peers.reserve(peers_.size());
  for (const auto& entry : peers_)
    peers.push_back(entry.second);
  return peers;
}

void QtGuiBackend::abandon() {
  if (shutDown_) return;
  shutDown_ = true;
  for (QtPeer* peer : allPeers()) {
    peer->releaseWidget();
    if (peer->control().Peer() == peer) peer->control().SetPeer(nullptr);
  }
  for (MenuBarPeer* peer : std::exchange(menuPeers_, {}))
    peer->releaseWidget();
  forgetApplicationObjects();
}

void QtGuiBackend::forgetApplicationObjects() {
  if (app_ != nullptr) {
    if (app_->GuiBackend() == this) app_->SetGuiBackend(nullptr);
    app_->RemoveFreeNotification(watch_.get());
    app_ = nullptr;
  }
  watch_.reset();
  kept_ = nullptr;
}

void QtGuiBackend::shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  SetFileWatchPeerFactory(nullptr);
  // Peers only reach widgets through QPointers, so the order does not matter:
  // a child whose widget went with its parent's finds nothing left to delete.
  for (QtPeer* peer : allPeers())
    if (peer->control().Peer() == peer) peer->control().SetPeer(nullptr);
  // Their bars went with the form windows.
  for (MenuBarPeer* peer : std::exchange(menuPeers_, {}))
    peer->detach();
  if (QCoreApplication::instance() != nullptr)
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QObject::disconnect(idleConnection_);
  forgetApplicationObjects();
}

// ---- Event loop and idle steps ------------------------------------------------------

void QtGuiBackend::runEventLoop(TApplication& app) {
  if (shutDown_ || QCoreApplication::instance() == nullptr) return;
  QEventLoop loop;
  {
    Pushed<std::pair<QEventLoop*, TApplication*>> running(runLoops_, {&loop, &app});
    loop.exec();
  }
  rethrowKept();
}

void QtGuiBackend::processMessages() {
  if (shutDown_ || QCoreApplication::instance() == nullptr) return;
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  rethrowKept();
}

bool QtGuiBackend::post(std::function<void()> call) {
  QCoreApplication* qtApp = QCoreApplication::instance();
  // The backend may be gone by the time the call runs: it is looked up then.
  auto run = [call = std::move(call)] {
    if (auto* backend = dynamic_cast<QtGuiBackend*>(GuiBackend())) backend->dispatch(call);
  };
  return qtApp != nullptr && QMetaObject::invokeMethod(qtApp, run, Qt::QueuedConnection);
}

void QtGuiBackend::quit() {
  for (const auto& entry : runLoops_)
    entry.first->exit(0);
  for (const auto& entry : modalLoops_)
    entry.first->exit(0);
}

TApplication* QtGuiBackend::idleTarget() const {
  return runLoops_.empty() ? app_ : runLoops_.back().second;
}

void QtGuiBackend::idle() {
  // An idle handler that runs a loop of its own (a message box) gets no idle
  // steps from it.
  if (inIdle_ || shutDown_) return;
  TApplication* app = idleTarget();
  if (app == nullptr) return;
  inIdle_ = true;
  bool done = true;
  try {
    if (!dispatching()) {
      done = app->Idle();
    } else {
      // A modal loop run from an event handler: forms queued for release stay
      // queued, as one of them may be the form whose handler is waiting here.
      app->RaiseIdle(done);
    }
  } catch (const Exception& e) {
    report(e);
  } catch (...) {
    report(ForeignException());
  }
  inIdle_ = false;
  // Not done: make the loop go round at once instead of waiting, so that it is
  // about to wait again and the next idle step follows.
  if (!done)
    if (QAbstractEventDispatcher* dispatcher = guiDispatcher()) dispatcher->wakeUp();
}

// ---- Exceptions from event handlers ---------------------------------------------------

void QtGuiBackend::report(const Exception& e) {
  TApplication* app = app_ != nullptr ? app_ : Application();
  try {
    app->HandleException(e);
  } catch (...) {
    // The handler for exceptions failed itself: say so the plain way.
    try {
      ShowMessage(e.Message());
    } catch (...) {
      keep(std::current_exception());
    }
  }
}

void QtGuiBackend::keep(std::exception_ptr error) {
  if (!kept_) kept_ = std::move(error);
  // Unwind to the code that started our loops; it throws the exception again.
  for (const auto& entry : runLoops_)
    entry.first->exit(1);
  for (const auto& entry : modalLoops_)
    entry.first->exit(1);
  for (const QPointer<QDialog>& box : boxes_)
    if (box) box->done(0);
}

void QtGuiBackend::rethrowKept() {
  if (!kept_) return;
  std::rethrow_exception(std::exchange(kept_, nullptr));
}

// ---- Message box ----------------------------------------------------------------------

void QtGuiBackend::showMessage(const std::string& text) {
  if (answerer_) {
    const auto answer = answerer_; // a copy: the answer may replace it
    answer(text);
    return;
  }
  if (shutDown_ || QCoreApplication::instance() == nullptr) {
    std::fprintf(stderr, "%s\n", text.c_str());
    return;
  }
  std::string title = app_ != nullptr ? app_->Title() : std::string();
  if (title.empty()) title = ChangeFileExt(ExtractFileName(TApplication::ExeName()), "");
  // No parent widget: the box must survive any form being freed while it waits.
  // It is stacked over the host window as a transient window instead.
  QMessageBox box(QMessageBox::NoIcon, toQString(title), toQString(text), QMessageBox::Ok);
  box.setTextFormat(Qt::PlainText);
  box.setWindowModality(Qt::ApplicationModal);
  // Above a stay-on-top window (a splash), or it would hide the box's button.
  const QWidgetList tops = QApplication::topLevelWidgets();
  if (std::any_of(tops.begin(), tops.end(), [](const QWidget* w) {
        return w->isVisible() && w->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
      })) {
    // A window manager keeps a transient in its parent's layer, below such a
    // window: this box stays a transient of the whole program.
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
  } else {
    (void)box.winId(); // its native window, to be given the transient parent
    stackOverHost(box);
  }
  {
    Pushed<QPointer<QDialog>> shown(boxes_, QPointer<QDialog>(&box));
    box.exec();
  }
  rethrowKept();
}

bool QtGuiBackend::runModal(TControl& form) {
  QWidget* window = widgetOf(&form);
  if (shutDown_ || window == nullptr || !window->isWindow()) return false;
  QEventLoop loop;
  // The window may go with its form while the loop runs.
  QObject::connect(window, &QObject::destroyed, &loop, [&loop] { loop.exit(0); });
  {
    Pushed<std::pair<QEventLoop*, const TControl*>> running(modalLoops_, {&loop, &form});
    loop.exec(QEventLoop::DialogExec);
  }
  rethrowKept();
  return true;
}

void QtGuiBackend::endModal(TControl& form) {
  for (const auto& entry : modalLoops_)
    if (entry.second == &form) entry.first->exit(0);
}

bool QtGuiBackend::inModalLoop() const {
  // A dialog of anyone's (a plug-in's own, one run from an idle step) counts too.
  if (!boxes_.empty() || !modalLoops_.empty() || runLoops_.size() > 1) return true;
  return QCoreApplication::instance() != nullptr && QApplication::activeModalWidget() != nullptr;
}

// ---- Peers ------------------------------------------------------------------------------

std::unique_ptr<TControlPeer> QtGuiBackend::createPeer(TControl& control) {
  if (shutDown_ || QCoreApplication::instance() == nullptr) return nullptr;
  const TWinControl* parent = control.Parent();
  QWidget* parentWidget = widgetOf(parent);
  // A form without a parent is a window of its own; anything else needs a shown parent.
  if (parentWidget == nullptr && (parent != nullptr || ObjectAs<TForm>(&control) == nullptr))
    return nullptr;
  std::unique_ptr<QtPeer> peer = makePeer(control, parentWidget);
  if (auto* win = ObjectAs<TWinControl>(&control)) buildChildren(*win);
  peer->applyAll();
  if (parent != nullptr) restack(*parent);
  return peer;
}

std::unique_ptr<QtPeer> QtGuiBackend::makePeer(TControl& control, QWidget* parentWidget) {
  if (auto* form = ObjectAs<TForm>(&control)) return makeFormPeer(*this, *form, parentWidget);
  if (ObjectAs<TButton>(&control) != nullptr) return makeButtonPeer(*this, control, parentWidget);
  if (ObjectAs<TEdit>(&control) != nullptr) return makeEditPeer(*this, control, parentWidget);
  if (ObjectAs<TLabel>(&control) != nullptr) return makeLabelPeer(*this, control, parentWidget);
  if (ObjectAs<TBevel>(&control) != nullptr) return makeBevelPeer(*this, control, parentWidget);
  if (ObjectAs<TGauge>(&control) != nullptr) return makeGaugePeer(*this, control, parentWidget);
  if (auto peer = makeCommonControlPeer(*this, control, parentWidget)) return peer;
  std::unique_ptr<QtPeer> peer = makePlainPeer(*this, control, parentWidget);
  if (peer->widget() != nullptr) fillSurface(control, *peer->widget());
  return peer;
}

void QtGuiBackend::buildChildren(TWinControl& parent) {
  if (widgetOf(&parent) == nullptr) return;
  // Qt's focus chain follows the order widgets are made in (and cannot always be
  // rearranged afterwards): windowed controls are made in their tab order.
  std::vector<TControl*> children;
  for (int i = 0; i < parent.ControlCount(); ++i)
    children.push_back(parent.Controls(i));
  auto tabOrder = [](const TControl* c) {
    const auto* win = ObjectAs<TWinControl>(c);
    return win != nullptr ? win->TabOrder() : -1;
  };
  std::stable_sort(children.begin(), children.end(),
                   [&](const TControl* a, const TControl* b) { return tabOrder(a) < tabOrder(b); });
  for (TControl* child : children) {
    QtPeer* existing = peerOf(child);
    if (existing != nullptr && existing->widget() != nullptr) {
      // Made for an earlier parent: it moves into this one.
      existing->changed(TControlChange::Parent);
      continue;
    }
    // None yet, or one whose widget went with an earlier window of the parent.
    child->SetPeer(createPeer(*child));
  }
  restack(parent);
  if (QtPeer* peer = peerOf(&parent)) peer->changed(TControlChange::TabOrder);
}

void QtGuiBackend::restack(const TWinControl& parent) {
  std::vector<QWidget*> drawn;
  for (int i = 0; i < parent.ControlCount(); ++i) {
    const TControl* child = parent.Controls(i);
    QWidget* w = widgetOf(child);
    if (w == nullptr) continue;
    if (ObjectAs<TWinControl>(child) != nullptr)
      w->raise(); // windowed ones in the parent's order, whatever order they were made in
    else
      drawn.push_back(w);
  }
  // Lowering the last first leaves them at the bottom in the parent's order.
  for (auto it = drawn.rbegin(); it != drawn.rend(); ++it)
    (*it)->lower();
}

void QtGuiBackend::registerPeer(const TControl& control, QtPeer* peer) {
  peers_[&control] = peer;
}

void QtGuiBackend::unregisterPeer(const TControl& control, QtPeer* peer) {
  // A control whose peer is replaced registers the new one before the old goes.
  auto it = peers_.find(&control);
  if (it != peers_.end() && it->second == peer) peers_.erase(it);
}

void QtGuiBackend::registerMenuPeer(MenuBarPeer* peer) {
  menuPeers_.push_back(peer);
}

void QtGuiBackend::unregisterMenuPeer(MenuBarPeer* peer) {
  std::erase(menuPeers_, peer);
}

QWidget* QtGuiBackend::hostWindow() const {
  QWidget* w = app_ != nullptr ? widgetOf(app_->MainForm()) : nullptr;
  return w != nullptr ? w->window() : nullptr;
}

void QtGuiBackend::stackOverHost(QWidget& window, QWidget* over) const {
  QWindow* own = window.windowHandle();
  if (own == nullptr || !window.isWindow()) return;
  QWidget* host = over != nullptr && over != &window && over->isVisible() ? over : hostWindow();
  if (host == &window) return;
  // Not to a hidden one (a host that is ending): some window managers keep the
  // transients of a withdrawn window off the screen, a modal box included.
  own->setTransientParent(host != nullptr && host->isVisible() ? host->windowHandle() : nullptr);
}

QtPeer* QtGuiBackend::peerOf(const TControl* control) const {
  if (control == nullptr) return nullptr;
  auto it = peers_.find(control);
  return it != peers_.end() ? it->second : nullptr;
}

QWidget* QtGuiBackend::widgetOf(const TControl* control) const {
  QtPeer* peer = peerOf(control);
  return peer != nullptr ? peer->widget() : nullptr;
}

// ---- Screen, text and pictures -----------------------------------------------------------

int QtGuiBackend::screenWidth() const {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen != nullptr ? screen->geometry().width() : kFallbackScreenWidth;
}

int QtGuiBackend::screenHeight() const {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen != nullptr ? screen->geometry().height() : kFallbackScreenHeight;
}

bool QtGuiBackend::measureText(const TFont& font, const std::string& text, int& width,
                               int& height) {
  if (QCoreApplication::instance() == nullptr) return false;
  const QFontMetrics metrics(toQFont(font));
  width = metrics.horizontalAdvance(toQString(text));
  height = metrics.height();
  return true;
}

bool QtGuiBackend::grabToPng(const TControl& control, const std::string& path) {
  QWidget* w = widgetOf(&control);
  if (w == nullptr) return false;
  // The client area: below the menu bar.
  const int top = menuBarHeight(w);
  return w->grab(QRect(0, top, w->width(), w->height() - top)).save(toQString(path), "PNG");
}

// ---- What plug-in modules leave behind ------------------------------------------------------

void QtGuiBackend::watchModule(void* module) {
  ModuleObjects::instance().watch(module);
}

std::size_t QtGuiBackend::releaseModuleObjects(void* module) {
  // A peer's widget, and everything inside it, goes with its component.
  std::unordered_set<const QObject*> peerWidgets;
  for (const auto& entry : peers_)
    if (const QWidget* w = entry.second->widget(); w != nullptr && entry.second->ownsWidget())
      peerWidgets.insert(w);
  return ModuleObjects::instance().release(module, [&](const QObject* object) {
    for (; object != nullptr; object = object->parent())
      if (peerWidgets.contains(object)) return true;
    return false;
  });
}

void QtGuiBackend::forgetModule(void* module) {
  ModuleObjects::instance().forget(module);
}

} // namespace keltk::qt

// ---- Installing ---------------------------------------------------------------------------

namespace keltk {

namespace {

struct QtState {
  qt::QtGuiBackend* backend = nullptr;
  QApplication* ownApplication = nullptr;
  bool quitOnLastWindowClosed = true; // the application's own policy, given back
};

// Where the QApplication, which every toolkit copy in the process shares, names
// the backend that serves it.
constexpr const char* kBackendProperty = "keltkGuiBackend";

// Plain pointers: nothing here is destroyed behind the program's back.
QtState& qtState() {
  static QtState state;
  return state;
}

// For a program that ends (or a copy of the toolkit that is unloaded) with the
// backend still installed. Made after the application object, so it runs before
// the application and its forms are destroyed. Qt cannot be taken down safely at
// this point (its own globals may be gone already), so the forms only let go of
// their windows and Qt stays as it is until the process is gone.
struct ExitHook {
  ~ExitHook() {
    if (qtState().backend != nullptr) qtState().backend->abandon();
  }
};

qt::QtGuiBackend& installedBackend() {
  if (qtState().backend == nullptr)
    throw EInvalidOperation("The Qt window system is not installed");
  return *qtState().backend;
}

} // namespace

void InstallQtBackend(int& argc, char** argv) {
  QtState& state = qtState();
  if (state.backend != nullptr) return;
  TApplication* app = Application();
  static ExitHook hook;
  if (QCoreApplication::instance() == nullptr)
    state.ownApplication = new QApplication(argc, argv);
  else if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr)
    throw EInvalidOperation("The Qt window system needs a QApplication");
  // The model decides when the program ends (its main form closing), not Qt.
  state.quitOnLastWindowClosed = QApplication::quitOnLastWindowClosed();
  QApplication::setQuitOnLastWindowClosed(false);
  state.backend = new qt::QtGuiBackend(*app);
  QCoreApplication::instance()->setProperty(kBackendProperty,
                                            QVariant::fromValue<void*>(state.backend));
}

bool UninstallQtBackend() {
  QtState& state = qtState();
  if (state.backend == nullptr) return true;
  if (state.backend->busy()) return false;
  state.backend->shutdown();
  if (QCoreApplication* qapp = QCoreApplication::instance())
    qapp->setProperty(kBackendProperty, QVariant());
  delete state.backend;
  state.backend = nullptr;
  if (state.ownApplication == nullptr && QCoreApplication::instance() != nullptr)
    QApplication::setQuitOnLastWindowClosed(state.quitOnLastWindowClosed);
  delete state.ownApplication;
  state.ownApplication = nullptr;
  return true;
}

void AdoptMenuBar(TMenu& menu, QMenuBar& bar) {
  qt::adoptBar(installedBackend(), menu, bar);
}

void AdoptWindow(TForm& form, QWidget& window) {
  qt::QtGuiBackend& backend = installedBackend();
  if (!window.isWindow()) throw EInvalidOperation("Only a top-level window can be adopted");
  qt::adoptWindow(backend, form, window);
}

TMenuItem* AdoptedItem(const TMenu& menu, const QAction& action) {
  const auto* peer = dynamic_cast<const qt::MenuBarPeer*>(menu.Peer());
  return peer != nullptr ? peer->adoptedItem(action) : nullptr;
}

bool GrabOpenMenuToPng(const TForm& form, const TMenuItem& item, const std::string& path) {
  QWidget* window = PeerWidget(form);
  if (window == nullptr || form.Menu() == nullptr) return false;
  return qt::grabOpenMenu(*window, *form.Menu(), item, qt::toQString(path));
}

TGuiBackend* ProcessGuiBackend() {
  if (qtState().backend != nullptr) return qtState().backend;
  const QCoreApplication* qapp = QCoreApplication::instance();
  if (qapp == nullptr) return nullptr;
  return static_cast<TGuiBackend*>(qapp->property(kBackendProperty).value<void*>());
}

bool QtBackendInstalled() {
  return qtState().backend != nullptr;
}

QWidget* PeerWidget(const TControl& control) {
  const qt::QtGuiBackend* backend = qtState().backend;
  return backend != nullptr ? backend->widgetOf(&control) : nullptr;
}

} // namespace keltk
