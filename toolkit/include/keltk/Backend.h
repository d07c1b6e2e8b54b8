// The seam between the model classes and a window system.
//
// The model classes hold all state and work without a window system (tests and
// the framework need none). A GUI layer implements TGuiBackend and registers it on
// the application object; from then on the application delegates its event loop
// to it, forms that are shown get peers (native windows) and the message box
// becomes a modal dialog. The backend is found through the current application
// object, so a module with its own toolkit copy that adopts the host's
// application also uses the host's window system.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <utility>

namespace keltk {

class TApplication;
class TControl;
class TFont;
class TMenu;
class TMenuItem;

// The screen a program is told it has when no window system, or no screen, can say.
constexpr int kFallbackScreenWidth = 1024;
constexpr int kFallbackScreenHeight = 768;

// What changed on a control, so that its peer refreshes only that.
enum class TControlChange {
  Bounds, // Left, Top, Width, Height
  Visible,
  Enabled,
  Text, // Caption or Text
  Color,
  Font,
  Parent,     // moved to another parent control
  TabOrder,   // the tab order of the controls inside it
  Appearance, // any other drawn state (border, gauge progress, label layout...)
};

// The native counterpart of one control, owned by the control.
class TControlPeer {
public:
  virtual ~TControlPeer();
  virtual void changed(TControlChange what) = 0;
  // Marks the control for painting at the next opportunity.
  virtual void invalidate() = 0;
  // Paints what is marked, now.
  virtual void update() = 0;
  // Both: marks everything and paints it now.
  virtual void repaint() = 0;
};

// The native counterpart of a menu (a form's menu bar), owned by the menu.
class TMenuPeer {
public:
  virtual ~TMenuPeer();
  // `source` changed; with `rebuild` its sub-items were added, removed or moved
  // (or it turned into a separator or back, or was shown or hidden).
  virtual void itemChanged(TMenuItem* source, bool rebuild) = 0;
};

// A running timer of the window system; destroying it stops the timer.
class TTimerPeer {
public:
  virtual ~TTimerPeer();
};

class TGuiBackend {
public:
  virtual ~TGuiBackend();

  // Runs the event loop until quit(); calls app.Idle() whenever the loop is about
  // to wait, again at once while it answers that it is not done.
  virtual void runEventLoop(TApplication& app) = 0;
  // Handles pending window-system events and returns.
  virtual void processMessages() = 0;
  // Ends runEventLoop.
  virtual void quit() = 0;
  // Runs `call` on the event loop's thread once the loop gets to it; may be called
  // from any thread. False when this backend cannot.
  virtual bool post(std::function<void()> call) {
    (void)call;
    return false;
  }
  // A modal box with `text` and an OK button; returns when it is dismissed.
  virtual void showMessage(const std::string& text) = 0;
  // Runs a modal loop for `form`, which is shown: no other window takes input
  // until endModal(form) is called or the form's window goes. False when this
  // backend cannot run one.
  virtual bool runModal(TControl& form) {
    (void)form;
    return false;
  }
  virtual void endModal(TControl& form) { (void)form; }
  // True while a modal loop runs (a message box, a modal dialog, an event loop run
  // inside another): the code that waits for it is still on the stack.
  virtual bool inModalLoop() const { return false; }
  // A peer for `control` (and, for a form, for the controls inside it), or null
  // when the window system cannot make one.
  virtual std::unique_ptr<TControlPeer> createPeer(TControl& control) = 0;
  virtual int screenWidth() const = 0;
  virtual int screenHeight() const = 0;
  // The size `text` takes in `font` on one line; false when the backend cannot
  // tell (the model then estimates it).
  virtual bool measureText(const TFont& font, const std::string& text, int& width, int& height);
  // Calls `tick` every `interval` ms on the GUI thread, through the guarded
  // dispatch of events, until the returned peer is destroyed. Null when this
  // backend has no timers (the model then has nothing that waits).
  virtual std::unique_ptr<TTimerPeer> startTimer(int interval, std::function<void()> tick) {
    (void)interval;
    (void)tick;
    return nullptr;
  }
  // Shows `menu`'s items as a context menu at screen point (x, y) and returns
  // once it is closed; a chosen item is clicked (TMenuItem::Click).
  virtual void popupMenu(TMenu& menu, int x, int y) {
    (void)menu;
    (void)x;
    (void)y;
  }
  // Writes what `control` shows (a form: its client area) to a PNG file; false
  // when the control has no window or the file cannot be written.
  virtual bool grabToPng(const TControl& control, const std::string& path) {
    (void)control;
    (void)path;
    return false;
  }

  // Code of a plug-in module can leave window-system objects behind (timers with
  // its functions connected, objects of its classes) that would call into it once
  // it is unmapped. `module` is the handle dlopen returned. Watching starts right
  // after the module is opened.
  virtual void watchModule(void* module) { (void)module; }
  // After the plug-in object is gone and before the module is unmapped: deletes
  // the module's timers on the calling thread, and answers how many things of the
  // module still live (other objects its code made, calls it posted that are not
  // delivered yet). The module must stay mapped until that is 0; ask again later.
  // Peers of components are left to the components.
  virtual std::size_t releaseModuleObjects(void* module) {
    (void)module;
    return 0;
  }
  // The module is unmapped: nothing of it is watched any longer.
  virtual void forgetModule(void* module) { (void)module; }

  // Answers every message box in place of a user (a scripted run): `answer` gets
  // the text and the box returns as if its OK button were pressed. Empty: boxes
  // wait for the user again.
  void setMessageAnswerer(std::function<void(const std::string&)> answer) {
    answerer_ = std::move(answer);
  }

protected:
  std::function<void(const std::string&)> answerer_;
};

// The backend of the current application object, or null.
TGuiBackend* GuiBackend();
// The window system running in the process, whichever toolkit copy installed it,
// or null. A module's own toolkit copy finds it here before it adopts the host's
// application (a message box while its library starts up).
TGuiBackend* ProcessGuiBackend();

} // namespace keltk
