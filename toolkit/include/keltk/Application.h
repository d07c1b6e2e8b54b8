// The application and screen objects. Every copy of the toolkit (the shared
// runtime module, or a program or module that carries the toolkit inside) has
// its own current application and screen objects; a plug-in with its own copy
// can be made to use the host's by replacing them (SetApplication, SetScreen).
#pragma once

#include "keltk/Component.h"
#include "keltk/Event.h"

#include <string>
#include <vector>

namespace keltk {

class TForm;

using TIdleEvent = Event<void(TObject* Sender, bool& Done)>;
using TNotifyEvent = Event<void(TObject* Sender)>;

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

  // One idle step: raises OnIdle with Done starting True and returns Done.
  bool Idle();

  TForm* MainForm() const { return mainForm_; }
  void SetMainForm(TForm* form) { mainForm_ = form; }
  // Creates a form of class T owned by the application; the first becomes MainForm.
  template <class T> T* CreateForm() {
    T* form = CreateObject<T>(this);
    if (mainForm_ == nullptr) mainForm_ = form;
    return form;
  }

  const std::string& Title() const { return title_; }
  void SetTitle(const std::string& title) { title_ = title; }
  // The running program's full path.
  static std::string ExeName();

  // Handles the window system's pending events, if a window system is running.
  void ProcessMessages();
  // Runs the event loop until Terminate (or the main form closes).
  void Run();
  void Terminate();
  bool Terminated() const { return terminated_; }

protected:
  void Notification(TComponent* component, TOperation operation) override;

private:
  TIdleEvent onIdle_;
  TForm* mainForm_ = nullptr;
  std::string title_;
  bool terminated_ = false;
};

class TScreen : public TComponent {
public:
  explicit TScreen(TComponent* owner);
  ~TScreen() override;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }

  int Width() const;
  int Height() const;
  int PixelsPerInch() const { return 96; }
  // Shown forms, in the order they were made.
  int FormCount() const { return static_cast<int>(forms_.size()); }
  TForm* Forms(int index) const { return forms_.at(static_cast<std::size_t>(index)); }
  void AddForm(TForm* form);
  void RemoveForm(TForm* form);

private:
  std::vector<TForm*> forms_;
};

// The current application and screen objects of this toolkit copy. The first call
// creates this copy's own objects; they live until the copy is unloaded.
TApplication* Application();
TScreen* Screen();
void SetApplication(TApplication* application);
void SetScreen(TScreen* screen);
// This copy's own objects, whichever are current.
TApplication* OwnApplicationObject();
TScreen* OwnScreenObject();

} // namespace keltk
