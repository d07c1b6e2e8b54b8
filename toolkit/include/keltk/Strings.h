// Lists of text lines, each with an object slot.
//
// TStrings is the abstract interface every line list offers (the lines of a
// control, a description, a log); TStringList keeps its lines itself, compactly:
// one 16-byte entry per line plus the line's bytes, so that lists of a million
// lines cost little more than their text.
#pragma once

#include "keltk/Component.h"
#include "keltk/NotifyEvent.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace keltk {

class TStrings : public TPersistent {
public:
  ~TStrings() override;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }

  virtual int Count() const = 0;
  // Raise EListError for an index outside 0..Count()-1.
  virtual std::string Strings(int index) const = 0;
  virtual void SetStrings(int index, const std::string& value);
  // The object slot holds a TObject* or any pointer-sized value.
  virtual std::uintptr_t Data(int index) const = 0;
  virtual void SetData(int index, std::uintptr_t value) = 0;
  TObject* Objects(int index) const { return reinterpret_cast<TObject*>(Data(index)); }
  void SetObjects(int index, TObject* object) {
    SetData(index, reinterpret_cast<std::uintptr_t>(object));
  }

  int Add(const std::string& line) { return AddObject(line, nullptr); }
  virtual int AddObject(const std::string& line, TObject* object);
  void AddStrings(const TStrings& other);
  void Insert(int index, const std::string& line) { InsertObject(index, line, nullptr); }
  // Index may be Count() (append); anything else outside raises EListError.
  virtual void InsertObject(int index, const std::string& line, TObject* object) = 0;
  virtual void Delete(int index) = 0;
  virtual void Clear() = 0;
  virtual void Exchange(int index1, int index2);
  void Move(int curIndex, int newIndex);

  // First line equal to `line` without regard to case, or -1.
  virtual int IndexOf(std::string_view line) const;
  int IndexOfObject(const TObject* object) const;

  // Lines joined by CR LF, each one ended by CR LF (an empty list gives "").
  std::string Text() const;
  // Splits on CR LF, LF or CR; a final line break does not start another line.
  void SetText(std::string_view text);

  // name=value lines: names compare without regard to case; the first line whose
  // part before the first '=' matches is the one meant.
  int IndexOfName(std::string_view name) const;
  std::string Values(std::string_view name) const;
  // Replaces the first matching line's value, appends name=value when none matches,
  // and deletes the line when `value` is empty.
  void SetValues(std::string_view name, const std::string& value);
  std::string Names(int index) const;          // "" for a line without '='
  std::string ValueFromIndex(int index) const; // "" for a line without '='

  std::vector<std::string> ToVector() const;
  void SetLines(const std::vector<std::string>& lines);

  // Copies lines and objects from another line list.
  void Assign(const TPersistent* source) override;

  // While an update is open, OnChanging/OnChange are held back; the last EndUpdate
  // raises them once if anything changed.
  void BeginUpdate();
  void EndUpdate();
  int UpdateCount() const { return updateCount_; }

  const TNotifyEvent& OnChange() const { return onChange_; }
  void SetOnChange(const TNotifyEvent& handler) { onChange_ = handler; }
  const TNotifyEvent& OnChanging() const { return onChanging_; }
  void SetOnChanging(const TNotifyEvent& handler) { onChanging_ = handler; }

protected:
  TStrings() = default;
  // Implementations call these around every change of lines or objects.
  void Changing();
  void Changed();
  void checkIndex(int index, int limit) const;

private:
  TNotifyEvent onChange_;
  TNotifyEvent onChanging_;
  int updateCount_ = 0;
  bool changedInUpdate_ = false;
};

class TStringList : public TStrings {
public:
  TStringList();
  ~TStringList() override;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }

  int Count() const override { return static_cast<int>(items_.size()); }
  std::string Strings(int index) const override { return std::string(Line(index)); }
  void SetStrings(int index, const std::string& value) override;
  std::uintptr_t Data(int index) const override;
  void SetData(int index, std::uintptr_t value) override;
  int AddObject(const std::string& line, TObject* object) override;
  void InsertObject(int index, const std::string& line, TObject* object) override;
  void Delete(int index) override;
  void Clear() override;
  void Exchange(int index1, int index2) override;
  int IndexOf(std::string_view line) const override;

  // The line without a copy; valid until the list is next modified.
  std::string_view Line(int index) const;

  // Bytes held by the list (index, text storage and its bookkeeping).
  std::size_t MemoryUsed() const;

private:
  struct Item {
    const char* text; // length-prefixed bytes in the text store; null for ""
    std::uintptr_t data;
  };
  class TextStore;

  const char* storeText(std::string_view line);
  void releaseText(const char* text);
  void growIfFull();

  std::vector<Item> items_;
  std::unique_ptr<TextStore> store_;
};

} // namespace keltk
