// Where Notes keeps its notes and the draft: one text file per note and
// draft.txt, in $XDG_DATA_HOME/kelvarin-notes (~/.local/share/kelvarin-notes).
// Nothing here knows about windows, so it is easy to reason about on its own.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace notes {

struct Note {
  std::filesystem::path file;
  std::string text;
};

// The folder the notes belong in by default.
std::filesystem::path DefaultFolder();

class Store {
public:
  explicit Store(std::filesystem::path folder) : folder_(std::move(folder)) {}
  const std::filesystem::path& Folder() const { return folder_; }
  std::filesystem::path DraftFile() const { return folder_ / "draft.txt"; }

  // Each write goes to a temporary file first and replaces the old one only once
  // it is complete, so a full disk never leaves half a note behind. They return
  // "" when the text is saved and otherwise the reason, for the user to read.
  std::string SaveDraft(const std::string& text) const;
  std::string SaveNote(Note& note) const; // an empty file name gets a new one
  std::string Remove(const Note& note) const;

  // The draft left by the last session ("" when there is none).
  std::string Draft() const;
  // The saved notes, oldest first.
  std::vector<Note> Notes() const;

private:
  std::filesystem::path folder_;
};

// The first line of the text (what the list shows), or "(empty)".
std::string Title(const std::string& text);

} // namespace notes
