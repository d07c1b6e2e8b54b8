// An ordered list of untyped pointers.
#pragma once

#include <vector>

namespace keltk {

class TList {
public:
  TList() = default;
  TList(const TList&) = default;
  TList& operator=(const TList&) = default;
  virtual ~TList();

  int Count() const { return static_cast<int>(items_.size()); }
  // Indexes outside 0..Count()-1 raise EListError.
  void* Items(int index) const;
  void SetItems(int index, void* item);
  void* operator[](int index) const { return Items(index); }

  int Add(void* item);
  // Index may be Count() (append).
  void Insert(int index, void* item);
  void Delete(int index);
  // Removes the first occurrence; returns its former index, or -1.
  int Remove(void* item);
  // Removes the first occurrence and returns it, or null when absent.
  void* Extract(void* item);
  int IndexOf(const void* item) const;
  void Exchange(int index1, int index2);
  void Move(int curIndex, int newIndex);
  void Clear() { items_.clear(); }
  void* First() const { return Items(0); }
  void* Last() const { return Items(Count() - 1); }

  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

private:
  void checkIndex(int index, int limit) const;

  std::vector<void*> items_;
};

} // namespace keltk
