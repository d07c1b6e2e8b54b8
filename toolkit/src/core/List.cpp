#include "keltk/List.h"

#include "keltk/Exception.h"

#include <algorithm>
#include <fmt/format.h>

namespace keltk {

TList::~TList() = default;

void TList::checkIndex(int index, int limit) const {
  if (index < 0 || index >= limit)
    throw EListError(fmt::format("List index out of bounds ({})", index));
}

void* TList::Items(int index) const {
  checkIndex(index, Count());
  return items_[static_cast<std::size_t>(index)];
}

void TList::SetItems(int index, void* item) {
  checkIndex(index, Count());
  items_[static_cast<std::size_t>(index)] = item;
}

int TList::Add(void* item) {
  items_.push_back(item);
  return Count() - 1;
}

void TList::Insert(int index, void* item) {
  checkIndex(index, Count() + 1);
  items_.insert(items_.begin() + index, item);
}

void TList::Delete(int index) {
  checkIndex(index, Count());
  items_.erase(items_.begin() + index);
}

int TList::IndexOf(const void* item) const {
  auto it = std::find(items_.begin(), items_.end(), item);
  return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

int TList::Remove(void* item) {
  const int index = IndexOf(item);
  if (index >= 0) Delete(index);
  return index;
}

void* TList::Extract(void* item) {
  return Remove(item) >= 0 ? item : nullptr;
}

void TList::Exchange(int index1, int index2) {
  checkIndex(index1, Count());
  checkIndex(index2, Count());
  std::swap(items_[static_cast<std::size_t>(index1)], items_[static_cast<std::size_t>(index2)]);
}

void TList::Move(int curIndex, int newIndex) {
  if (curIndex == newIndex) return;
  checkIndex(curIndex, Count());
  checkIndex(newIndex, Count());
  void* item = items_[static_cast<std::size_t>(curIndex)];
  items_.erase(items_.begin() + curIndex);
  items_.insert(items_.begin() + newIndex, item);
}

} // namespace keltk
