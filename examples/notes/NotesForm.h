// The Notes window: the list of saved notes, the text being written, and a timer
// that keeps a draft of it on disk.
#pragma once

#include "NotesStore.h"

#include <functional>
#include <keltk/ExtCtrls.h>
#include <keltk/Forms.h>
#include <keltk/Menus.h>
#include <keltk/StdCtrls.h>
#include <string>
#include <vector>

class TNotesForm : public keltk::TForm {
public:
  explicit TNotesForm(keltk::TComponent* owner);
  ~TNotesForm() override;
  static const keltk::TClassInfo& StaticClass();
  const keltk::TClassInfo& ClassType() const override { return StaticClass(); }

  // The components of the stored form, found once it has been read.
  keltk::TListBox* List_Notes = nullptr;
  keltk::TMemo* Memo_Text = nullptr;
  keltk::TCheckBox* Check_Wrap = nullptr;
  keltk::TComboBox* Combo_DraftEvery = nullptr;
  keltk::TLabel* Label_Status = nullptr;
  keltk::TTimer* Timer_Draft = nullptr;

  // Told each new reason why the draft could not be saved.
  std::function<void(const std::string& message)> OnProblem;

  // Writes what is not on disk yet; returns "" or a message saying where the
  // text went instead. Called before the window goes.
  std::string Flush();

  // Handlers bound by the stored form.
  void SaveClick(keltk::TObject* Sender);
  void NewClick(keltk::TObject* Sender);
  void DeleteClick(keltk::TObject* Sender);
  void ListClick(keltk::TObject* Sender);
  void TextChange(keltk::TObject* Sender);
  void WrapClick(keltk::TObject* Sender);
  void DraftEveryChange(keltk::TObject* Sender);
  void DraftTimer(keltk::TObject* Sender);

protected:
  void Loaded() override;

private:
  // Reads the notes again into the list, with `chosen` chosen.
  void showNotes(int chosen);
  // Shows note `index` (-1: a new, empty one).
  void show(int index);
  bool saveNote();
  void setText(const std::string& text);
  bool saveDraft();
  void tell(const std::string& status);

  notes::Store store_{notes::DefaultFolder()};
  std::vector<notes::Note> notes_;
  int shown_ = -1;            // the note in Memo_Text; -1 for one not saved yet
  bool draftPending_ = false; // typed since the draft was written
  bool notePending_ = false;  // typed since the note was saved
  std::string lastProblem_;
};
