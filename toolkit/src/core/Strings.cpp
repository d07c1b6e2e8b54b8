#include "keltk/Strings.h"

#include "keltk/Exception.h"
#include "keltk/PropInfo.h"
#include "keltk/StrUtils.h"

#include <algorithm>
#include <cstring>
#include <fmt/format.h>

namespace keltk {

// ---- TStrings ----------------------------------------------------------------

TStrings::~TStrings() = default;

const TClassInfo& TStrings::StaticClass() {
  static TClassInfo info("TStrings", &TPersistent::StaticClass(), [](TClassInfo& i) {
    // Stored data writes the lines as `Name.Strings = ( 'line' ... )`.
    ClassBuilder<TStrings>(i).lines(
        "Strings", [](const TStrings& s) { return s.ToVector(); },
        [](TStrings& s, const std::vector<std::string>& lines) { s.SetLines(lines); });
  });
  return info;
}

void TStrings::checkIndex(int index, int limit) const {
  if (index < 0 || index >= limit)
    throw EListError(fmt::format("List index out of bounds ({})", index));
}

void TStrings::SetStrings(int index, const std::string& value) {
  const std::uintptr_t data = Data(index);
  BeginUpdate();
  Delete(index);
  InsertObject(index, value, reinterpret_cast<TObject*>(data));
  EndUpdate();
}

int TStrings::AddObject(const std::string& line, TObject* object) {
  const int index = Count();
  InsertObject(index, line, object);
  return index;
}

void TStrings::AddStrings(const TStrings& other) {
  BeginUpdate();
  const int n = other.Count();
  for (int i = 0; i < n; ++i)
    AddObject(other.Strings(i), other.Objects(i));
  EndUpdate();
}

void TStrings::Exchange(int index1, int index2) {
  checkIndex(index1, Count());
  checkIndex(index2, Count());
  if (index1 == index2) return;
  BeginUpdate();
  const std::string line1 = Strings(index1);
  const std::uintptr_t data1 = Data(index1);
  SetStrings(index1, Strings(index2));
  SetData(index1, Data(index2));
  SetStrings(index2, line1);
  SetData(index2, data1);
  EndUpdate();
}

void TStrings::Move(int curIndex, int newIndex) {
  if (curIndex == newIndex) return;
  checkIndex(curIndex, Count());
  checkIndex(newIndex, Count());
  BeginUpdate();
  const std::string line = Strings(curIndex);
  const std::uintptr_t data = Data(curIndex);
  Delete(curIndex);
  InsertObject(newIndex, line, reinterpret_cast<TObject*>(data));
  EndUpdate();
}

int TStrings::IndexOf(std::string_view line) const {
  const int n = Count();
  for (int i = 0; i < n; ++i)
    if (SameText(Strings(i), line)) return i;
  return -1;
}

int TStrings::IndexOfObject(const TObject* object) const {
  const auto wanted = reinterpret_cast<std::uintptr_t>(object);
  const int n = Count();
  for (int i = 0; i < n; ++i)
    if (Data(i) == wanted) return i;
  return -1;
}

std::string TStrings::Text() const {
  std::string out;
  const int n = Count();
  for (int i = 0; i < n; ++i) {
    out += Strings(i);
    out += "\r\n";
  }
  return out;
}

void TStrings::SetText(std::string_view text) {
  BeginUpdate();
  Clear();
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) {
      Add(std::string(text.substr(pos)));
      break;
    }
    Add(std::string(text.substr(pos, end - pos)));
    pos = end + 1;
    if (text[end] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
  }
  EndUpdate();
}

int TStrings::IndexOfName(std::string_view name) const {
  const int n = Count();
  for (int i = 0; i < n; ++i) {
    const std::string line = Strings(i);
    const std::size_t eq = line.find('=');
    if (eq != std::string::npos && SameText(std::string_view(line).substr(0, eq), name)) return i;
  }
  return -1;
}

std::string TStrings::Values(std::string_view name) const {
  const int i = IndexOfName(name);
  return i < 0 ? std::string() : ValueFromIndex(i);
}

void TStrings::SetValues(std::string_view name, const std::string& value) {
  const int i = IndexOfName(name);
  if (value.empty()) {
    if (i >= 0) Delete(i);
    return;
  }
  std::string line = std::string(name) + "=" + value;
  if (i < 0)
    Add(line);
  else
    SetStrings(i, line);
}

std::string TStrings::Names(int index) const {
  const std::string line = Strings(index);
  const std::size_t eq = line.find('=');
  return eq == std::string::npos ? std::string() : line.substr(0, eq);
}

std::string TStrings::ValueFromIndex(int index) const {
  const std::string line = Strings(index);
  const std::size_t eq = line.find('=');
  return eq == std::string::npos ? std::string() : line.substr(eq + 1);
}

std::vector<std::string> TStrings::ToVector() const {
  std::vector<std::string> out;
  const int n = Count();
  out.reserve(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i)
    out.push_back(Strings(i));
  return out;
}

void TStrings::SetLines(const std::vector<std::string>& lines) {
  BeginUpdate();
  Clear();
  for (const std::string& line : lines)
    Add(line);
  EndUpdate();
}

void TStrings::Assign(const TPersistent* source) {
  const TStrings* other = ObjectAs<TStrings>(source);
  if (other == nullptr) {
    TPersistent::Assign(source);
    return;
  }
  if (other == this) return;
  BeginUpdate();
  Clear();
  AddStrings(*other);
  EndUpdate();
}

void TStrings::BeginUpdate() {
  if (updateCount_++ == 0) changedInUpdate_ = false;
}

void TStrings::EndUpdate() {
  if (updateCount_ == 0) return;
  if (--updateCount_ > 0 || !changedInUpdate_) return;
  changedInUpdate_ = false;
  if (onChange_) onChange_(this);
}

void TStrings::Changing() {
  if (updateCount_ > 0) {
    // Within an update only the first change announces itself.
    if (changedInUpdate_) return;
    changedInUpdate_ = true;
  }
  if (onChanging_) onChanging_(this);
}

void TStrings::Changed() {
  if (updateCount_ > 0) {
    changedInUpdate_ = true;
    return;
  }
  if (onChange_) onChange_(this);
}

// ---- TStringList text storage -------------------------------------------------

// Lines live back to back in large chunks, each behind its length (LEB128), so a
// line costs its bytes plus one or two. Replaced and deleted lines leave garbage
// that the list compacts away once it outweighs the live text.
class TStringList::TextStore {
public:
  const char* add(std::string_view s) {
    const std::size_t need = prefixSize(s.size()) + s.size();
    Chunk& chunk = chunkFor(need);
    char* at = chunk.bytes.get() + chunk.used;
    char* p = at;
    std::size_t len = s.size();
    do {
      auto byte = static_cast<unsigned char>(len & 0x7F);
      len >>= 7;
      if (len != 0) byte |= 0x80;
      *p++ = static_cast<char>(byte);
    } while (len != 0);
    if (!s.empty()) std::memcpy(p, s.data(), s.size());
    chunk.used += need;
    used_ += need;
    return at;
  }

  void release(const char* text) {
    if (text == nullptr) return;
    const std::string_view s = view(text);
    garbage_ += prefixSize(s.size()) + s.size();
  }

  static std::string_view view(const char* text) {
    if (text == nullptr) return {};
    std::size_t len = 0;
    int shift = 0;
    auto p = reinterpret_cast<const unsigned char*>(text);
    while (true) {
      const unsigned char byte = *p++;
      len |= static_cast<std::size_t>(byte & 0x7F) << shift;
      if ((byte & 0x80) == 0) break;
      shift += 7;
    }
    return {reinterpret_cast<const char*>(p), len};
  }

  bool wantsCompaction() const { return garbage_ > kChunk && garbage_ * 2 > used_; }
  std::size_t memory() const { return capacity_ + chunks_.capacity() * sizeof(Chunk); }

private:
  static constexpr std::size_t kChunk = 64 * 1024;
  static constexpr std::size_t kOwnChunk = kChunk / 4; // longer lines get a chunk each

  struct Chunk {
    std::unique_ptr<char[]> bytes;
    std::size_t size = 0;
    std::size_t used = 0;
  };

  static std::size_t prefixSize(std::size_t len) {
    std::size_t n = 1;
    while (len >= 0x80) {
      len >>= 7;
      ++n;
    }
    return n;
  }

  Chunk& chunkFor(std::size_t need) {
    if (need > kOwnChunk) {
      // Keep the shared chunk last so that short lines go on filling it.
      Chunk own{std::make_unique_for_overwrite<char[]>(need), need, 0};
      capacity_ += need;
      auto pos = chunks_.empty() ? chunks_.end() : chunks_.end() - 1;
      return *chunks_.insert(pos, std::move(own));
    }
    if (chunks_.empty() || chunks_.back().size - chunks_.back().used < need) {
      // Only the bytes written are ever read: zeroing a chunk made a list of
      // one line cost as much as writing 64 KiB.
      chunks_.push_back(Chunk{std::make_unique_for_overwrite<char[]>(kChunk), kChunk, 0});
      capacity_ += kChunk;
    }
    return chunks_.back();
  }

  std::vector<Chunk> chunks_;
  std::size_t used_ = 0;
  std::size_t garbage_ = 0;
  std::size_t capacity_ = 0;
};

// ---- TStringList --------------------------------------------------------------

TStringList::TStringList() : store_(std::make_unique<TextStore>()) {}
TStringList::~TStringList() = default;

const TClassInfo& TStringList::StaticClass() {
  static TClassInfo info("TStringList", &TStrings::StaticClass());
  return info;
}

std::string_view TStringList::Line(int index) const {
  checkIndex(index, Count());
  return TextStore::view(items_[static_cast<std::size_t>(index)].text);
}

const char* TStringList::storeText(std::string_view line) {
  return line.empty() ? nullptr : store_->add(line);
}

void TStringList::releaseText(const char* text) {
  store_->release(text);
  if (!store_->wantsCompaction()) return;
  auto fresh = std::make_unique<TextStore>();
  for (Item& item : items_)
    if (item.text != nullptr) item.text = fresh->add(TextStore::view(item.text));
  store_ = std::move(fresh);
}

void TStringList::growIfFull() {
  if (items_.size() < items_.capacity()) return;
  // Grow by a quarter rather than doubling: the index of a long list is a
  // noticeable share of its memory.
  items_.reserve(items_.size() + items_.size() / 4 + 16);
}

int TStringList::IndexOf(std::string_view line) const {
  for (std::size_t i = 0; i < items_.size(); ++i)
    if (SameText(TextStore::view(items_[i].text), line)) return static_cast<int>(i);
  return -1;
}

std::size_t TStringList::MemoryUsed() const {
  return sizeof(*this) + items_.capacity() * sizeof(Item) + sizeof(TextStore) + store_->memory();
}

void TStringList::SetStrings(int index, const std::string& value) {
  checkIndex(index, Count());
  Changing();
  Item& item = items_[static_cast<std::size_t>(index)];
  const char* old = item.text;
  item.text = storeText(value);
  releaseText(old);
  Changed();
}

std::uintptr_t TStringList::Data(int index) const {
  checkIndex(index, Count());
  return items_[static_cast<std::size_t>(index)].data;
}

void TStringList::SetData(int index, std::uintptr_t value) {
  checkIndex(index, Count());
  Changing();
  items_[static_cast<std::size_t>(index)].data = value;
  Changed();
}

int TStringList::AddObject(const std::string& line, TObject* object) {
  Changing();
  growIfFull();
  items_.push_back(Item{storeText(line), reinterpret_cast<std::uintptr_t>(object)});
  Changed();
  return Count() - 1;
}

void TStringList::InsertObject(int index, const std::string& line, TObject* object) {
  checkIndex(index, Count() + 1);
  Changing();
  growIfFull();
  items_.insert(items_.begin() + index,
                Item{storeText(line), reinterpret_cast<std::uintptr_t>(object)});
  Changed();
}

void TStringList::Delete(int index) {
  checkIndex(index, Count());
  Changing();
  const char* old = items_[static_cast<std::size_t>(index)].text;
  items_.erase(items_.begin() + index);
  releaseText(old);
  Changed();
}

void TStringList::Clear() {
  if (items_.empty()) return;
  Changing();
  items_ = {};
  store_ = std::make_unique<TextStore>();
  Changed();
}

void TStringList::Exchange(int index1, int index2) {
  checkIndex(index1, Count());
  checkIndex(index2, Count());
  if (index1 == index2) return;
  Changing();
  std::swap(items_[static_cast<std::size_t>(index1)], items_[static_cast<std::size_t>(index2)]);
  Changed();
}

} // namespace keltk
