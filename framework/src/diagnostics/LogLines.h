// The storage behind a log's entries. Lines are stored back to back in large
// blocks, so a line costs its characters plus one small slot and no allocation of
// its own; a line never moves once stored.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace kelvarin {

class LogLines {
public:
  LogLines() = default;
  LogLines(const LogLines&) = delete;
  LogLines& operator=(const LogLines&) = delete;

  std::size_t Count() const { return count_; }
  bool Empty() const { return count_ == 0; }
  std::string_view operator[](std::size_t index) const {
    const Slot& s = slot(index);
    return {s.text, s.size};
  }
  std::string_view Last() const {
    assert(count_ > 0 && "Last() of an empty log");
    return (*this)[count_ - 1];
  }

  // Whether the line has been written to the dump file.
  bool Dumped(std::size_t index) const { return slot(index).dumped; }
  void MarkDumped(std::size_t index) { slot(index).dumped = true; }

  // Appends a line, not yet dumped; returns the stored copy.
  std::string_view Add(std::string_view line);
  void Clear();

  // Bytes held for the lines and their slots (blocks and slot array capacity).
  std::size_t BytesHeld() const;

private:
  struct Slot {
    const char* text;
    std::uint32_t size;
    bool dumped;
  };
  // Slots live in fixed-size chunks, so adding never copies or moves earlier ones.
  static constexpr std::size_t kSlotChunkBits = 12;
  static constexpr std::size_t kSlotChunk = std::size_t{1} << kSlotChunkBits;
  Slot& slot(std::size_t index) const {
    assert(index < count_ && "log line index out of range");
    return slotChunks_[index >> kSlotChunkBits][index & (kSlotChunk - 1)];
  }
  char* reserve(std::size_t size);

  std::vector<std::unique_ptr<char[]>> blocks_;
  std::size_t blockBytes_ = 0; // all blocks together
  char* free_ = nullptr;       // next free byte of the newest block
  std::size_t freeLeft_ = 0;   // bytes left in it
  std::vector<std::unique_ptr<Slot[]>> slotChunks_;
  std::size_t count_ = 0;
};

} // namespace kelvarin
