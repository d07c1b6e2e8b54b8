// The Qt Widgets window system behind TGuiBackend.
#pragma once

#include "keltk/Backend.h"
#include "keltk/Exception.h"

#include <QMetaObject>
#include <QPointer>
#include <exception>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

class QDialog;
class QEventLoop;
class QWidget;

namespace keltk {
class TWinControl;
}

namespace keltk::qt {

class QtPeer;
class MenuBarPeer;
class ApplicationWatch;

class QtGuiBackend final : public TGuiBackend {
public:
  // Registers itself on `app` and raises its idle steps whenever the GUI thread's
  // event loop is about to wait.
  explicit QtGuiBackend(TApplication& app);
  ~QtGuiBackend() override;

  void runEventLoop(TApplication& app) override;
  void processMessages() override;
  void quit() override;
  bool post(std::function<void()> call) override;
  void showMessage(const std::string& text) override;
  bool runModal(TControl& form) override;
  void endModal(TControl& form) override;
  bool inModalLoop() const override;
  std::unique_ptr<TControlPeer> createPeer(TControl& control) override;
  int screenWidth() const override;
  int screenHeight() const override;
  bool measureText(const TFont& font, const std::string& text, int& width, int& height) override;
  bool grabToPng(const TControl& control, const std::string& path) override;
  // In QtTimer.cpp and QtPopupMenu.cpp.
  std::unique_ptr<TTimerPeer> startTimer(int interval, std::function<void()> tick) override;
  void popupMenu(TMenu& menu, int x, int y) override;
  void watchModule(void* module) override;
  std::size_t releaseModuleObjects(void* module) override;
  void forgetModule(void* module) override;

  // Takes every peer away (their widgets with them), stops the idle steps and
  // unregisters from the application. The backend is inert afterwards.
  void shutdown();
  // The same at program exit, without calling Qt: peers let go of their widgets
  // and Qt is left as it is.
  void abandon();
  // Inside runEventLoop, a message box of ours or an idle step: code of the
  // window system is on the stack.
  bool busy() const {
    return !runLoops_.empty() || !modalLoops_.empty() || !boxes_.empty() || inIdle_ || depth_ > 0;
  }

  // Calls into the model on behalf of a window-system event. Whatever a handler
  // throws goes to the application's HandleException (one outside the toolkit's
  // family as an EForeignException) and the loop goes on: nothing may unwind
  // through Qt, and a plug-in's exception must not end the host.
  template <class F> void dispatch(F&& call) {
    ++depth_;
    try {
      std::forward<F>(call)();
    } catch (const Exception& e) {
      report(e);
    } catch (...) {
      report(ForeignException());
    }
    --depth_;
  }
  // True while a model call made by dispatch is on the stack: widgets must not be
  // deleted outright then (the event that led here may be one of theirs).
  bool dispatching() const { return depth_ > 0; }

  void registerPeer(const TControl& control, QtPeer* peer);
  void unregisterPeer(const TControl& control, QtPeer* peer);
  void registerMenuPeer(MenuBarPeer* peer);
  void unregisterMenuPeer(MenuBarPeer* peer);
  QtPeer* peerOf(const TControl* control) const;
  QWidget* widgetOf(const TControl* control) const;
  // The window that plug-in forms and message boxes belong to: the main form's
  // (in a Qt program's host, the program's own window it stands for), or null.
  QWidget* hostWindow() const;
  // Makes the host window (or `over`, when it is shown) the transient parent of
  // the top-level `window`, so the window manager keeps it above that window (and
  // a modal one modal to it). The host window is used only once it has a native
  // window: making one for it here would freeze what a program may still set
  // before showing it.
  void stackOverHost(QWidget& window, QWidget* over = nullptr) const;
  // Puts drawn controls (labels, bevels, gauges) below the windowed ones, each
  // group in the parent's order, as the model paints them.
  void restack(const TWinControl& parent);
  // Peers for the controls inside `parent` that have none of ours yet; keyboard
  // focus moves through the windowed ones in their tab order.
  void buildChildren(TWinControl& parent);

  // The application this backend serves; null once it was freed.
  TApplication* application() const { return app_; }
  void forgetApplication() { app_ = nullptr; }

private:
  void idle();
  void forgetApplicationObjects();
  // A copy: taking peers away changes the registry.
  std::vector<QtPeer*> allPeers() const;
  void report(const Exception& e);
  void keep(std::exception_ptr error);
  void rethrowKept();
  std::unique_ptr<QtPeer> makePeer(TControl& control, QWidget* parentWidget);
  TApplication* idleTarget() const;

  TApplication* app_;
  std::unique_ptr<ApplicationWatch, void (*)(ApplicationWatch*)> watch_;
  QMetaObject::Connection idleConnection_;
  std::unordered_map<const TControl*, QtPeer*> peers_;
  std::vector<MenuBarPeer*> menuPeers_;
  std::vector<std::pair<QEventLoop*, TApplication*>> runLoops_;
  std::vector<std::pair<QEventLoop*, const TControl*>> modalLoops_;
  std::vector<QPointer<QDialog>> boxes_;
  std::exception_ptr kept_;
  int depth_ = 0;
  bool inIdle_ = false;
  bool shutDown_ = false;
};

} // namespace keltk::qt
