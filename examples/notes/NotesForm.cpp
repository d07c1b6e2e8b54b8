#include "NotesForm.h"

#include <filesystem>
#include <keltk/PropInfo.h>

// Known to the form reader while the module is loaded, so that the build checks
// the window's stored form as well.
const keltk::ClassRegistrar<TNotesForm> registerNotesForm;

const keltk::TClassInfo& TNotesForm::StaticClass() {
  static keltk::TClassInfo info("TNotesForm", &TForm::StaticClass(), [](keltk::TClassInfo& i) {
    keltk::ClassBuilder<TNotesForm> b(i);
    b.componentFactory();
    b.method<&TNotesForm::SaveClick>("SaveClick");
    b.method<&TNotesForm::NewClick>("NewClick");
    b.method<&TNotesForm::DeleteClick>("DeleteClick");
    b.method<&TNotesForm::ListClick>("ListClick");
    b.method<&TNotesForm::TextChange>("TextChange");
    b.method<&TNotesForm::WrapClick>("WrapClick");
    b.method<&TNotesForm::DraftEveryChange>("DraftEveryChange");
    b.method<&TNotesForm::DraftTimer>("DraftTimer");
  });
  return info;
}

TNotesForm::TNotesForm(keltk::TComponent* owner) : TForm(owner) {}

TNotesForm::~TNotesForm() = default;

void TNotesForm::Loaded() {
  TForm::Loaded();
  List_Notes = keltk::ObjectAs<keltk::TListBox>(FindComponent("List_Notes"));
  Memo_Text = keltk::ObjectAs<keltk::TMemo>(FindComponent("Memo_Text"));
  Check_Wrap = keltk::ObjectAs<keltk::TCheckBox>(FindComponent("Check_Wrap"));
  Combo_DraftEvery = keltk::ObjectAs<keltk::TComboBox>(FindComponent("Combo_DraftEvery"));
  Label_Status = keltk::ObjectAs<keltk::TLabel>(FindComponent("Label_Status"));
  Timer_Draft = keltk::ObjectAs<keltk::TTimer>(FindComponent("Timer_Draft"));
  showNotes(-1);
  // The last session's unsaved text comes back first thing.
  setText(store_.Draft());
  notePending_ = !Memo_Text->Text().empty();
}

void TNotesForm::showNotes(int chosen) {
  notes_ = store_.Notes();
  keltk::TStrings* items = List_Notes->Items();
  items->BeginUpdate();
  items->Clear();
  for (const notes::Note& note : notes_)
    items->Add(notes::Title(note.text));
  items->EndUpdate();
  List_Notes->SetItemIndex(chosen);
}

// Shows a text that is already on disk: nothing to save.
void TNotesForm::setText(const std::string& text) {
  Memo_Text->SetText(text);
  draftPending_ = false;
  notePending_ = false;
}

void TNotesForm::tell(const std::string& status) {
  Label_Status->SetCaption(status);
}

bool TNotesForm::saveDraft() {
  const std::string reason = store_.SaveDraft(Memo_Text->Text());
  if (reason.empty()) {
    draftPending_ = false;
    lastProblem_.clear();
    return true;
  }
  tell("Draft not saved: " + reason + ". The text stays in this window.");
  if (reason != lastProblem_ && OnProblem) OnProblem("Draft not saved: " + reason + ".");
  lastProblem_ = reason;
  return false;
}

std::string TNotesForm::Flush() {
  if (!draftPending_ || saveDraft()) return {};
  // The window is going: put the text somewhere it can be found again.
  const notes::Store fallback(std::filesystem::temp_directory_path() / "kelvarin-notes");
  if (fallback.SaveDraft(Memo_Text->Text()).empty())
    return "Notes could not save the draft in \"" + store_.Folder().string() + "\"; it is in \"" +
           fallback.DraftFile().string() + "\".";
  return "Notes could not save the draft anywhere: " + lastProblem_ + ".";
}

bool TNotesForm::saveNote() {
  notes::Note note = shown_ >= 0 ? notes_[shown_] : notes::Note{};
  note.text = Memo_Text->Text();
  if (const std::string reason = store_.SaveNote(note); !reason.empty()) {
    tell("Not saved: " + reason + ".");
    return false;
  }
  showNotes(-1);
  for (int i = 0; i < static_cast<int>(notes_.size()); ++i)
    if (notes_[i].file == note.file) shown_ = i;
  List_Notes->SetItemIndex(shown_);
  // The note holds the text now; an empty draft means nothing is waiting.
  notePending_ = draftPending_ = false;
  (void)store_.SaveDraft("");
  tell("Saved.");
  return true;
}

void TNotesForm::show(int index) {
  shown_ = index;
  List_Notes->SetItemIndex(index);
  setText(index >= 0 ? notes_[index].text : std::string());
}

void TNotesForm::SaveClick(keltk::TObject* /*Sender*/) {
  (void)saveNote();
}

void TNotesForm::NewClick(keltk::TObject* /*Sender*/) {
  if (notePending_ && !saveNote()) return;
  show(-1);
}

void TNotesForm::DeleteClick(keltk::TObject* /*Sender*/) {
  if (shown_ < 0) return;
  if (const std::string reason = store_.Remove(notes_[shown_]); !reason.empty()) {
    tell("Not deleted: " + reason + ".");
    return;
  }
  showNotes(-1);
  show(-1);
  tell("Deleted.");
}

void TNotesForm::ListClick(keltk::TObject* /*Sender*/) {
  const int chosen = List_Notes->ItemIndex();
  if (chosen == shown_) return;
  // What was typed is saved before another note is shown (new notes go last, so
  // the chosen one keeps its place); if it cannot be, it stays on screen.
  if (notePending_ && !saveNote()) {
    List_Notes->SetItemIndex(shown_);
    return;
  }
  show(chosen);
}

void TNotesForm::TextChange(keltk::TObject* /*Sender*/) {
  draftPending_ = true;
  notePending_ = true;
}

void TNotesForm::WrapClick(keltk::TObject* /*Sender*/) {
  Memo_Text->SetWordWrap(Check_Wrap->Checked());
}

void TNotesForm::DraftEveryChange(keltk::TObject* /*Sender*/) {
  static constexpr int kIntervals[] = {2000, 10000, 0}; // the lines of Combo_DraftEvery
  const int index = Combo_DraftEvery->ItemIndex();
  const int interval = index >= 0 && index < 3 ? kIntervals[index] : 0;
  Timer_Draft->SetInterval(interval);
  Timer_Draft->SetEnabled(interval > 0);
}

void TNotesForm::DraftTimer(keltk::TObject* /*Sender*/) {
  if (draftPending_ && saveDraft()) tell("Draft saved.");
}
