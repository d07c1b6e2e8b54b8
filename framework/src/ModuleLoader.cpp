#include "ModuleLoader.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <fmt/format.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kelvarin {

namespace {

// Reads exactly `size` bytes at `offset`.
bool readAt(int fd, void* out, std::size_t size, off_t offset) {
  auto* bytes = static_cast<char*>(out);
  while (size > 0) {
    const ssize_t n = ::pread(fd, bytes, size, offset);
    if (n <= 0) return false;
    bytes += n;
    size -= static_cast<std::size_t>(n);
    offset += n;
  }
  return true;
}

// The loader maps a module's segments straight from the file and faults on a
// page past its end. A file that claims segments it does not hold is refused
// here; anything that is no ELF file of this machine's kind is left to the
// loader, which refuses it with its own words.
std::string checkSegmentsPresent(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat info {};
  if (::fstat(fd, &info) != 0) return {};
  const auto fileSize = static_cast<std::uint64_t>(info.st_size);

  ElfW(Ehdr) header{};
  if (!readAt(fd, &header, sizeof header, 0)) return {};
  if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
      header.e_ident[EI_CLASS] != (sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32) ||
      header.e_phentsize != sizeof(ElfW(Phdr)))
    return {};
  const std::uint64_t tableEnd = static_cast<std::uint64_t>(header.e_phoff) +
                                 std::uint64_t{header.e_phnum} * sizeof(ElfW(Phdr));
  if (tableEnd > fileSize) return fmt::format("{}: file too short", path);

  std::vector<ElfW(Phdr)> segments(header.e_phnum);
  if (!segments.empty() && !readAt(fd, segments.data(), segments.size() * sizeof(ElfW(Phdr)),
                                   static_cast<off_t>(header.e_phoff)))
    return fmt::format("{}: file too short", path);
  for (const ElfW(Phdr) & s : segments) {
    if (s.p_type != PT_LOAD && s.p_type != PT_DYNAMIC && s.p_type != PT_INTERP) continue;
    const std::uint64_t end = static_cast<std::uint64_t>(s.p_offset) + s.p_filesz;
    if (end < s.p_offset || end > fileSize)
      return fmt::format("{}: file too short (a segment ends at byte {} of {})", path, end,
                         fileSize);
  }
  return {};
}

} // namespace

void* OpenModule(const std::string& path, std::string& error) {
  error.clear();
  // Without a '/' the loader would search the library path instead.
  const std::string name = path.find('/') == std::string::npos ? "./" + path : path;
  error = checkSegmentsPresent(name);
  if (!error.empty()) return nullptr;
  void* module = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    const char* reason = ::dlerror();
    error = reason != nullptr ? reason : "the module could not be loaded";
  }
  return module;
}

void CloseModule(void* module) {
  if (module != nullptr) ::dlclose(module);
}

std::string ModuleFileOf(const void* address) {
  Dl_info info{};
  if (address == nullptr || ::dladdr(address, &info) == 0 || info.dli_fname == nullptr) return {};
  return info.dli_fname;
}

} // namespace kelvarin
