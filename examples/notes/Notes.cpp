// Notes: a plug-in with a window of its own. Its "Notes" entry, merged into the
// host's Plugins menu as the plug-in initializes, opens the window; the window is
// made on first use and freed when the plug-in finalizes, before its code goes.
#include "NotesForm.h"

#include <keltk/Dialogs.h>
#include <keltk/PropInfo.h>
#include <kelvarin/PluginModule.h>
#include <kelvarin/plugin.h>

namespace {

class TkelNotes : public kelvarin::TulmKel {
public:
  using TulmKel::TulmKel;
  static const keltk::TClassInfo& StaticClass();
  const keltk::TClassInfo& ClassType() const override { return StaticClass(); }

  // A host that frees the plug-in without finalizing it still gets the window
  // back, and the text in it is still written.
  ~TkelNotes() override {
    if (window_ != nullptr) (void)window_->Flush();
    keltk::FreeObject(window_);
  }

  // Bound by name from Notes.kfm.
  void NotesMenuClick(keltk::TObject* /*Sender*/) { showWindow(); }
  kelvarin::TKelMethodResult Show_Notes(keltk::TVarRecs /*Params*/) {
    showWindow();
    return kelvarin::smrOk;
  }
  kelvarin::TKelMethodResult OnFinalize() {
    if (window_ == nullptr) return kelvarin::smrOk;
    // The window's timer and handlers are this module's code: all of it goes now.
    const std::string problem = window_->Flush();
    keltk::FreeObject(window_);
    if (!problem.empty()) {
      LogIt(problem, kelvarin::lkError);
      keltk::ShowMessage(problem);
    }
    return kelvarin::smrOk;
  }

protected:
  // The window may be freed by others (a host that frees every form): forget it then.
  void Notification(keltk::TComponent* component, keltk::TOperation operation) override {
    TulmKel::Notification(component, operation);
    if (operation == keltk::TOperation::opRemove && component == window_) window_ = nullptr;
  }

private:
  void showWindow() {
    if (window_ == nullptr) {
      // Owned by nobody: this plug-in frees it. Closing it only hides it, so the
      // text stays for the next time the menu entry is chosen.
      window_ = keltk::CreateObject<TNotesForm>(nullptr);
      window_->FreeNotification(this);
      window_->OnProblem = [this](const std::string& message) {
        LogIt(message, kelvarin::lkError);
      };
    }
    window_->Show();
  }

  TNotesForm* window_ = nullptr;
};

const keltk::TClassInfo& TkelNotes::StaticClass() {
  static keltk::TClassInfo info("TkelNotes", &TulmKel::StaticClass(), [](keltk::TClassInfo& i) {
    keltk::ClassBuilder<TkelNotes> b(i);
    b.method<&TkelNotes::NotesMenuClick>("NotesMenuClick");
    b.method<&TkelNotes::Show_Notes>("Show_Notes");
    b.method<&TkelNotes::OnFinalize>("OnFinalize");
  });
  return info;
}

} // namespace

extern "C" kelvarin::TulmKel* RegisterKelvarin() {
  return kelvarin::RegisterPlugin<TkelNotes>();
}
