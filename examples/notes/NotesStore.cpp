#include "NotesStore.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>

namespace notes {

namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// "" on success, else a sentence naming the file and the system's reason.
std::string writeFile(const fs::path& file, const std::string& text) {
  std::error_code ec;
  fs::create_directories(file.parent_path(), ec);
  if (ec) return "cannot create \"" + file.parent_path().string() + "\": " + ec.message();
  const fs::path temporary = fs::path(file).concat(".new");
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (out) out << text;
    if (out) out.flush();
    if (!out) {
      const std::string reason = std::strerror(errno);
      fs::remove(temporary, ec);
      return "cannot write \"" + temporary.string() + "\": " + reason;
    }
  }
  fs::rename(temporary, file, ec);
  if (ec) return "cannot replace \"" + file.string() + "\": " + ec.message();
  return {};
}

bool isNoteFile(const fs::path& file) {
  const std::string stem = file.stem().string();
  return file.extension() == ".txt" && stem.rfind("note-", 0) == 0;
}

} // namespace

fs::path DefaultFolder() {
  if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && *data == '/')
    return fs::path(data) / "kelvarin-notes";
  const char* home = std::getenv("HOME");
  return fs::path(home != nullptr ? home : ".") / ".local/share/kelvarin-notes";
}

std::string Store::SaveDraft(const std::string& text) const {
  return writeFile(DraftFile(), text);
}

std::string Store::SaveNote(Note& note) const {
  if (note.file.empty()) {
    // The next free number keeps the notes in the order they were written.
    int last = 0;
    for (const Note& n : Notes())
      last = std::max(last, std::atoi(n.file.stem().string().c_str() + 5));
    char name[32];
    std::snprintf(name, sizeof name, "note-%06d.txt", last + 1);
    note.file = folder_ / name;
  }
  return writeFile(note.file, note.text);
}

std::string Store::Remove(const Note& note) const {
  std::error_code ec;
  fs::remove(note.file, ec);
  return ec ? "cannot remove \"" + note.file.string() + "\": " + ec.message() : std::string();
}

std::string Store::Draft() const {
  return readFile(DraftFile());
}

std::vector<Note> Store::Notes() const {
  std::vector<Note> found;
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder_, ec))
    if (isNoteFile(entry.path())) found.push_back({entry.path(), readFile(entry.path())});
  std::sort(found.begin(), found.end(),
            [](const Note& a, const Note& b) { return a.file < b.file; });
  return found;
}

std::string Title(const std::string& text) {
  const std::string first = text.substr(0, text.find('\n'));
  return first.empty() ? "(empty)" : first;
}

} // namespace notes
