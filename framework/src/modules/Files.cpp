#include "kelvarin/Files.h"

#include "ModuleLoader.h"

#include <keltk/StrUtils.h>
#include <string>
#include <sys/stat.h>

namespace kelvarin {

namespace {

bool isFolder(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace

bool FolderExists(std::string_view path) {
  try {
    if (keltk::Trim(path).empty()) return false;
    std::string untrimmed(path);
    if (isFolder(untrimmed)) return true;
    if (untrimmed.back() != '/') return false;
    untrimmed.pop_back();
    return isFolder(untrimmed);
  } catch (...) {
    return false;
  }
}

std::int64_t FileSizeOf(std::string_view path) {
  struct stat info {};
  return FileSizeOf(path, info);
}

std::int64_t FileSizeOf(std::string_view path, struct stat& info) {
  try {
    if (::stat(std::string(path).c_str(), &info) != 0 || S_ISDIR(info.st_mode)) return 0;
    return static_cast<std::int64_t>(info.st_size);
  } catch (...) {
    return 0;
  }
}

} // namespace kelvarin
