#include "DumpFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvarin {

namespace {

DumpOpen failed(int error, bool created = false) {
  return {-1, created, error};
}

DumpOpen createNew(const char* name) {
  // O_EXCL with O_NOFOLLOW: a link planted between the look and the open fails.
  const int fd = ::open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return failed(errno, true);
  return {fd, true, 0};
}

} // namespace

DumpOpen OpenDumpFile(const char* name) noexcept {
  struct stat info {};
  if (::lstat(name, &info) != 0) return errno == ENOENT ? createNew(name) : failed(errno);
  int flags = O_WRONLY | O_APPEND | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW;
  if (S_ISLNK(info.st_mode)) {
    if (info.st_uid != ::geteuid() && info.st_uid != 0) return failed(kDumpForeignLink);
    flags &= ~O_NOFOLLOW;
    if (::stat(name, &info) != 0) return failed(errno);
  }
  if (S_ISDIR(info.st_mode)) return failed(EISDIR);
  if (!S_ISREG(info.st_mode)) return failed(kDumpNotRegular);
  const int fd = ::open(name, flags);
  if (fd < 0) return failed(errno);
  // The path may have been swapped since it was looked at.
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return failed(kDumpNotRegular);
  }
  return {fd, false, 0};
}

bool WriteAll(int fd, const char* data, unsigned long size) noexcept {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<unsigned long>(n);
  }
  return true;
}

void MakeFolders(const std::string& folder) {
  for (std::size_t at = folder.find('/', 1); at != std::string::npos; at = folder.find('/', at + 1))
    ::mkdir(folder.substr(0, at).c_str(), 0700);
  ::mkdir(folder.c_str(), 0700);
}

const char* DumpOpenReason(int error) noexcept {
  switch (error) {
  case kDumpNotRegular:
    return "not a regular file";
  case kDumpForeignLink:
    return "a symbolic link owned by another user";
  default:
    return std::strerror(error);
  }
}

std::optional<std::size_t> DumpFileNameInto(std::string_view pattern, std::string_view program,
                                            char* out, std::size_t capacity) noexcept {
  static constexpr std::string_view placeholder = "%HOSTAPP%";
  auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
  std::size_t at = std::string_view::npos;
  for (std::size_t i = 0; at == std::string_view::npos && i + placeholder.size() <= pattern.size();
       ++i) {
    std::size_t k = 0;
    while (k < placeholder.size() && upper(pattern[i + k]) == placeholder[k])
      ++k;
    if (k == placeholder.size()) at = i;
  }
  std::size_t size = 0;
  auto add = [&](std::string_view text) {
    if (size + text.size() >= capacity) return false;
    std::memcpy(out + size, text.data(), text.size());
    size += text.size();
    return true;
  };
  if (at == std::string_view::npos) {
    if (!add(pattern)) return std::nullopt;
  } else {
    // The extension goes: what follows the last dot of the last path part.
    const std::size_t slash = program.rfind('/');
    const std::size_t dot = program.rfind('.');
    if (dot != std::string_view::npos && (slash == std::string_view::npos || dot > slash))
      program = program.substr(0, dot);
    if (!add(pattern.substr(0, at)) || !add(program) ||
        !add(pattern.substr(at + placeholder.size())))
      return std::nullopt;
  }
  out[size] = '\0';
  return size;
}

} // namespace kelvarin
