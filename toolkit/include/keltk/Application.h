// The application and screen objects. Every copy of the toolkit (the shared
// runtime module, or a program or module that carries the toolkit inside) has
// its own current application and screen objects; a plug-in with its own copy
// can be made to use the host's by replacing them (SetApplication, SetScreen).
#pragma once

#include "keltk/Component.h"
#include "keltk/Event.h"
#include "keltk/NotifyEvent.h"

#include <functional>
#include <mutex>
#include <string>
#include <typeinfo>
#include <vector>

namespace keltk {

class TForm;
class TGuiBackend;

class Exception;

using TIdleEvent = Event<void(TObject* Sender, bool& Done)>;
using TExceptionEvent = Event<void(TObject* Sender, const Exception& E)>;

class TApplication : public TComponent {
public:
  explicit TApplication(TComponent* owner);
  ~TApplication() override;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }

  // Raised when the event loop has nothing else to do. A handler that leaves Done
  // False asks for another idle call at once.
  const TIdleEvent& OnIdle() const { return onIdle_; }
  void SetOnIdle(const TIdleEvent& handler) { onIdle_ = handler; }
  // Idle handlers besides OnIdle, for work that must go on whoever replaces
  // OnIdle (a plug-in manager's queue, a host's script). Each is added once; they
  // run after OnIdle, in the order added, and may leave Done False too.
  void AddIdleHandler(const TIdleEvent& handler);
  void RemoveIdleHandler(const TIdleEvent& handler);
  const std::vector<TIdleEvent>& IdleHandlers() const { return idleHandlers_; }
  // What an idle step raises: OnIdle, then the added idle handlers.
  void RaiseIdle(bool& Done);

  // One idle step: frees the components queued by ReleaseLater, then raises the
  // idle handlers (RaiseIdle) with Done starting True and returns Done.
  bool Idle();

  TForm* MainForm() const { return mainForm_; }
  // The main form is forgotten when it is freed.
  void SetMainForm(TForm* form);
  // Creates a form of class T owned by the application; the first becomes MainForm.
  template <class T> T* CreateForm() {
    T* form = CreateObject<T>(this);
    if (mainForm_ == nullptr) SetMainForm(form);
    return form;
  }

  const std::string& Title() const { return title_; }
  void SetTitle(const std::string& title) { title_ = title; }
  // The running program's full path.
  static std::string ExeName();

  // Prepares the application for its forms. Nothing needs preparing here; a host
  // calls it first out of habit, and it does no harm.
  void Initialize() {}

  // Handles the window system's pending events, if a window system is running.
  // Components queued by ReleaseLater stay queued: the code that called this may
  // belong to one of them.
  void ProcessMessages();
  // Runs the event loop until Terminate (or the main form closes). The main form,
  // when there is one, is shown first. Without a window system there is nothing to
  // wait for: the loop runs idle steps while they ask for more and returns. No
  // exception leaves Run: what an event handler throws goes to HandleException
  // and the loop goes on.
  void Run();
  void Terminate();
  bool Terminated() const { return terminated_; }
  // True while the application is being destroyed (the program ends): what its
  // destructor frees must not queue anything again.
  bool Closing() const { return closing_; }

  // Runs `call` on the thread that runs this application's event loop: through
  // the window system when one runs, else at the next idle step or
  // ProcessMessages. May be called from any thread.
  void Post(std::function<void()> call);
  // Whether a call posted here and not yet run is of a type `match` accepts (the
  // type of a lambda tells the module that made it).
  bool HasPostedCall(const std::function<bool(const std::type_info&)>& match);

  // Frees `component` at the next idle step (or when Run returns), outside the code
  // that asked (a form that closes itself from its own event handler).
  void ReleaseLater(TComponent* component);
  // Frees every component queued so far, now; those queued meanwhile wait for
  // the next call.
  void FreeReleased();

  // Reports an exception that an event handler let escape where nobody can take
  // it (a form's OnCreate, for one): OnException when assigned, else a message box
  // with the exception's message.
  void HandleException(const Exception& e);
  const TExceptionEvent& OnException() const { return onException_; }
  void SetOnException(const TExceptionEvent& handler) { onException_ = handler; }

  // The window system this application runs on, or null (model only).
  TGuiBackend* GuiBackend() const { return backend_; }
  void SetGuiBackend(TGuiBackend* backend) { backend_ = backend; }

  // The message box of the toolkit copy that made this object: its handler, or
  // its window system. A module whose copy adopted the host's application shows
  // its boxes through here, so that the host's handler sees them.
  virtual void ShowMessageBox(const std::string& text);

protected:
  void Notification(TComponent* component, TOperation operation) override;

private:
  // Runs `call`; an exception from it is handed to HandleException.
  void runReporting(const std::function<void()>& call);
  // HandleException that never raises.
  void reportSafely(const Exception& e);

  TIdleEvent onIdle_;
  std::vector<TIdleEvent> idleHandlers_;
  TExceptionEvent onException_;
  TForm* mainForm_ = nullptr;
  std::string title_;
  bool terminated_ = false;
  bool closing_ = false;
  void runPosted();

  std::vector<TComponent*> releaseQueue_;
  std::mutex postedMutex_; // guards posted_, which other threads append to
  std::vector<std::function<void()>> posted_;
  TGuiBackend* backend_ = nullptr;
};

class TScreen : public TComponent {
public:
  explicit TScreen(TComponent* owner);
  ~TScreen() override;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }

  // The window system's screen, or 1024 by 768 without one.
  int Width() const;
  int Height() const;
  int PixelsPerInch() const { return 96; }
  // Existing forms, in the order they were made.
  int FormCount() const { return static_cast<int>(forms_.size()); }
  TForm* Forms(int index) const;
  void AddForm(TForm* form);
  void RemoveForm(TForm* form);

protected:
  void Notification(TComponent* component, TOperation operation) override;

private:
  std::vector<TForm*> forms_;
};

// The current application and screen objects of this toolkit copy. The first call
// creates this copy's own objects; they live until the copy is unloaded.
TApplication* Application();
TScreen* Screen();
// Null puts this copy's own object back.
void SetApplication(TApplication* application);
void SetScreen(TScreen* screen);
// This copy's own objects, whichever are current.
TApplication* OwnApplicationObject();

// Runs `call` on the GUI thread (the current application's Post). Worker
// threads hand their work to the GUI thread this way.
void RunOnMainThread(std::function<void()> call);
TScreen* OwnScreenObject();
// The current application when it is not this copy's own (a module's copy that
// took over the host's), or null. Constructs nothing.
TApplication* AdoptedApplication();

} // namespace keltk
