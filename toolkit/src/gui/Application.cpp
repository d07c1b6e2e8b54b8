#include "keltk/Application.h"

#include "keltk/Backend.h"
#include "keltk/Dialogs.h"
#include "keltk/Exception.h"
#include "keltk/Forms.h"

#include <algorithm>
#include <climits>
#include <fmt/format.h>
#include <memory>
#include <unistd.h>

namespace keltk {

TControlPeer::~TControlPeer() = default;
TTimerPeer::~TTimerPeer() = default;
TGuiBackend::~TGuiBackend() = default;
bool TGuiBackend::measureText(const TFont&, const std::string&, int&, int&) {
  return false;
}

// ---- TApplication -------------------------------------------------------------

TApplication::TApplication(TComponent* owner) : TComponent(owner) {}

TApplication::~TApplication() {
  closing_ = true;
  // Queued components are freed like the owned ones; the queue must not outlive
  // us. What their destructors queue in turn gets a few more rounds.
  constexpr int kMostRounds = 8;
  for (int round = 0; round < kMostRounds && !releaseQueue_.empty(); ++round)
    FreeReleased();
}

const TClassInfo& TApplication::StaticClass() {
  static TClassInfo info("TApplication", &TComponent::StaticClass());
  return info;
}

void TApplication::SetMainForm(TForm* form) {
  if (form == mainForm_) return;
  mainForm_ = form;
  if (form != nullptr) form->FreeNotification(this);
}

bool TApplication::Idle() {
  runPosted();
  FreeReleased();
  bool done = true;
  RaiseIdle(done);
  return done;
}

void TApplication::AddIdleHandler(const TIdleEvent& handler) {
  if (!handler ||
      std::find(idleHandlers_.begin(), idleHandlers_.end(), handler) != idleHandlers_.end())
    return;
  idleHandlers_.push_back(handler);
}

void TApplication::RemoveIdleHandler(const TIdleEvent& handler) {
  std::erase(idleHandlers_, handler);
}

void TApplication::RaiseIdle(bool& Done) {
  if (onIdle_) onIdle_(this, Done);
  if (idleHandlers_.empty()) return;
  // A handler may add or remove handlers: one removed meanwhile is not called.
  const std::vector<TIdleEvent> handlers = idleHandlers_;
  for (const TIdleEvent& handler : handlers)
    if (std::find(idleHandlers_.begin(), idleHandlers_.end(), handler) != idleHandlers_.end())
      handler(this, Done);
}

std::string TApplication::ExeName() {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof(buf) - 1);
  if (n <= 0) return {};
  return std::string(buf, static_cast<std::size_t>(n));
}

void TApplication::ProcessMessages() {
  if (backend_ != nullptr) backend_->processMessages();
  runPosted();
}

void TApplication::Post(std::function<void()> call) {
  if (!call) return;
  if (backend_ != nullptr && backend_->post(call)) return;
  const std::lock_guard lock(postedMutex_);
  posted_.push_back(std::move(call));
}

bool TApplication::HasPostedCall(const std::function<bool(const std::type_info&)>& match) {
  const std::lock_guard lock(postedMutex_);
  return std::any_of(posted_.begin(), posted_.end(),
                     [&](const std::function<void()>& call) { return match(call.target_type()); });
}

void TApplication::runPosted() {
  std::vector<std::function<void()>> due;
  {
    const std::lock_guard lock(postedMutex_);
    due.swap(posted_);
  }
  // A failing call is reported like any handler's; the others still run.
  for (const auto& call : due)
    runReporting(call);
}

void RunOnMainThread(std::function<void()> call) {
  Application()->Post(std::move(call));
}

void TApplication::Run() {
  if (mainForm_ != nullptr && !terminated_) mainForm_->Show();
  if (backend_ != nullptr) {
    if (!terminated_) backend_->runEventLoop(*this);
  } else {
    // Idle steps until one is done; a step that raised counts as done.
    for (bool done = false; !terminated_ && !done;) {
      done = true;
      runReporting([&] { done = Idle(); });
    }
  }
  FreeReleased();
}

void TApplication::runReporting(const std::function<void()>& call) {
  try {
    call();
  } catch (const Exception& e) {
    reportSafely(e);
  } catch (...) {
    reportSafely(ForeignException());
  }
}

void TApplication::reportSafely(const Exception& e) {
  try {
    HandleException(e);
  } catch (...) {
    // The handler for exceptions failed itself: the plain way.
    try {
      ShowMessage(e.Message());
    } catch (...) {
    }
  }
}

void TApplication::Terminate() {
  terminated_ = true;
  if (backend_ != nullptr) backend_->quit();
}

void TApplication::HandleException(const Exception& e) {
  if (onException_)
    onException_(this, e);
  else
    ShowMessage(e.Message());
}

void TApplication::ReleaseLater(TComponent* component) {
  if (component == nullptr) return;
  if (std::find(releaseQueue_.begin(), releaseQueue_.end(), component) != releaseQueue_.end())
    return;
  releaseQueue_.push_back(component);
  component->FreeNotification(this);
}

void TApplication::FreeReleased() {
  // What is queued meanwhile waits for the next call: a component that queues
  // another in its destructor (to free something once running code returns)
  // cannot keep this loop going.
  for (std::size_t due = releaseQueue_.size(); due > 0 && !releaseQueue_.empty(); --due) {
    TComponent* next = releaseQueue_.front();
    releaseQueue_.erase(releaseQueue_.begin());
    FreeObject(next); // its Notification cannot find it in the queue any more
  }
}

void TApplication::Notification(TComponent* component, TOperation operation) {
  if (operation == TOperation::opRemove) {
    if (component == static_cast<TComponent*>(mainForm_)) mainForm_ = nullptr;
    releaseQueue_.erase(std::remove(releaseQueue_.begin(), releaseQueue_.end(), component),
                        releaseQueue_.end());
  }
  TComponent::Notification(component, operation);
}

// ---- TScreen ------------------------------------------------------------------

TScreen::TScreen(TComponent* owner) : TComponent(owner) {}

TScreen::~TScreen() {
  // The forms stay; they only stop reporting to this screen.
  auto forms = forms_;
  for (TForm* f : forms)
    RemoveForm(f);
}

const TClassInfo& TScreen::StaticClass() {
  static TClassInfo info("TScreen", &TComponent::StaticClass());
  return info;
}

int TScreen::Width() const {
  const TGuiBackend* gui = GuiBackend();
  return gui != nullptr ? gui->screenWidth() : kFallbackScreenWidth;
}

int TScreen::Height() const {
  const TGuiBackend* gui = GuiBackend();
  return gui != nullptr ? gui->screenHeight() : kFallbackScreenHeight;
}

TForm* TScreen::Forms(int index) const {
  if (index < 0 || index >= FormCount())
    throw EListError(fmt::format("List index out of bounds ({})", index));
  return forms_[static_cast<std::size_t>(index)];
}

void TScreen::AddForm(TForm* form) {
  if (form == nullptr || std::find(forms_.begin(), forms_.end(), form) != forms_.end()) return;
  forms_.push_back(form);
  form->FreeNotification(this);
}

void TScreen::RemoveForm(TForm* form) {
  auto it = std::find(forms_.begin(), forms_.end(), form);
  if (it == forms_.end()) return;
  forms_.erase(it);
  RemoveFreeNotification(form);
}

void TScreen::Notification(TComponent* component, TOperation operation) {
  if (operation == TOperation::opRemove)
    forms_.erase(std::remove(forms_.begin(), forms_.end(), component), forms_.end());
  TComponent::Notification(component, operation);
}

// ---- The current objects of this toolkit copy ----------------------------------

namespace {

// Plain pointers, constant-initialised: asking for the current objects (or the
// window system, from a message box shown while the program starts) never
// constructs anything.
TApplication* currentApplication = nullptr;
TScreen* currentScreen = nullptr;
TApplication* ownApplication = nullptr;
TScreen* ownScreen = nullptr;

// This copy's own objects, made on first use and destroyed with the copy (at
// exit, or when a module that carries the toolkit is unloaded).
struct OwnObjects {
  ObjectPtr<TApplication> application;
  ObjectPtr<TScreen> screen;

  // The application goes first: the forms it owns may still look at the screen.
  ~OwnObjects() {
    application.reset();
    if (currentApplication == ownApplication) currentApplication = nullptr;
    ownApplication = nullptr;
    screen.reset();
    if (currentScreen == ownScreen) currentScreen = nullptr;
    ownScreen = nullptr;
  }
};

OwnObjects& ownObjects() {
  static OwnObjects objects;
  return objects;
}

} // namespace

TApplication* AdoptedApplication() {
  return currentApplication != ownApplication ? currentApplication : nullptr;
}

TApplication* OwnApplicationObject() {
  if (ownApplication == nullptr) {
    OwnObjects& own = ownObjects();
    own.application.reset(CreateObject<TApplication>(nullptr));
    ownApplication = own.application.get();
  }
  return ownApplication;
}

TScreen* OwnScreenObject() {
  if (ownScreen == nullptr) {
    OwnObjects& own = ownObjects();
    own.screen.reset(CreateObject<TScreen>(nullptr));
    ownScreen = own.screen.get();
  }
  return ownScreen;
}

TApplication* Application() {
  if (currentApplication == nullptr) currentApplication = OwnApplicationObject();
  return currentApplication;
}

TScreen* Screen() {
  if (currentScreen == nullptr) currentScreen = OwnScreenObject();
  return currentScreen;
}

void SetApplication(TApplication* application) {
  currentApplication = application;
}
void SetScreen(TScreen* screen) {
  currentScreen = screen;
}

TGuiBackend* GuiBackend() {
  const TApplication* app = currentApplication != nullptr ? currentApplication : ownApplication;
  return app != nullptr ? app->GuiBackend() : nullptr;
}

} // namespace keltk
