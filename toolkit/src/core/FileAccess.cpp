#include "keltk/SysUtils.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

namespace keltk {

bool FileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {

std::string sizeInWords(std::size_t bytes) {
  constexpr std::size_t kMebibyte = 1024 * 1024;
  return bytes % kMebibyte == 0 ? fmt::format("{} MiB", bytes / kMebibyte)
                                : fmt::format("{} bytes", bytes);
}

} // namespace

std::optional<std::string> ReadRegularFile(const std::string& path, std::size_t limit,
                                           std::string& why) {
  why.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno != ENOENT && errno != ENOTDIR) why = std::strerror(errno);
    return std::nullopt;
  }
  const struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    why = "not a regular file";
    return std::nullopt;
  }
  // One byte past the limit tells a file that grew past it while being read.
  std::string text(std::min(static_cast<std::size_t>(info.st_size), limit) + 1, '\0');
  std::size_t got = 0;
  while (got < text.size()) {
    const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      why = std::strerror(errno);
      return std::nullopt;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  if (got > limit) {
    why = "larger than " + sizeInWords(limit);
    return std::nullopt;
  }
  text.resize(got);
  return text;
}

} // namespace keltk
