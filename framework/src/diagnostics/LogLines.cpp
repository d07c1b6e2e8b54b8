#include "LogLines.h"

#include "kelvarin/Log.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace kelvarin {

namespace {
// Blocks grow with the log, each a quarter of what is held so far: a short log
// costs little, a long one makes few allocations, and the unused rest of the
// newest block stays a small share of the whole.
constexpr std::size_t kFirstBlock = 4 * 1024;
constexpr std::size_t kLargestBlock = 1024 * 1024;
} // namespace

char* LogLines::reserve(std::size_t size) {
  if (size > freeLeft_) {
    std::size_t next = std::clamp(blockBytes_ / 4, kFirstBlock, kLargestBlock);
    next = std::max(next, size);
    blocks_.push_back(std::make_unique_for_overwrite<char[]>(next));
    blockBytes_ += next;
    free_ = blocks_.back().get();
    freeLeft_ = next;
  }
  char* at = free_;
  free_ += size;
  freeLeft_ -= size;
  return at;
}

std::string_view LogLines::Add(std::string_view line) {
  line = line.substr(0, std::numeric_limits<std::uint32_t>::max());
  if ((count_ >> kSlotChunkBits) == slotChunks_.size())
    slotChunks_.push_back(std::make_unique_for_overwrite<Slot[]>(kSlotChunk));
  char* at = line.empty() ? nullptr : reserve(line.size());
  if (at != nullptr) std::memcpy(at, line.data(), line.size());
  ++count_;
  slot(count_ - 1) = {at, static_cast<std::uint32_t>(line.size()), false};
  return {at, line.size()};
}

void LogLines::Clear() {
  slotChunks_.clear();
  count_ = 0;
  blocks_.clear();
  blockBytes_ = 0;
  free_ = nullptr;
  freeLeft_ = 0;
}

std::size_t LogLines::BytesHeld() const {
  return slotChunks_.size() * kSlotChunk * sizeof(Slot) + blockBytes_;
}

TLogEntries::TLogEntries() : lines_(std::make_unique<LogLines>()) {}
TLogEntries::~TLogEntries() = default;

std::size_t TLogEntries::Count() const {
  return lines_->Count();
}
std::string_view TLogEntries::operator[](std::size_t index) const {
  return (*lines_)[index];
}
std::string_view TLogEntries::Last() const {
  return lines_->Last();
}
bool TLogEntries::Dumped(std::size_t index) const {
  return lines_->Dumped(index);
}

} // namespace kelvarin
