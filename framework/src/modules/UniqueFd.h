// One owner per file descriptor.
#pragma once

#include <unistd.h>
#include <utility>

namespace kelvarin {

class UniqueFd {
public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) noexcept : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const noexcept { return fd_; }
  explicit operator bool() const noexcept { return fd_ >= 0; }
  int release() noexcept { return std::exchange(fd_, -1); }
  // Linux frees the descriptor even when close is interrupted: closing it again
  // could close one another thread has just been given.
  void reset(int fd = -1) noexcept {
    if (const int old = std::exchange(fd_, fd); old >= 0) (void)::close(old);
  }

private:
  int fd_ = -1;
};

} // namespace kelvarin
