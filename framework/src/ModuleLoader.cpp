#include "ModuleLoader.h"

#include "ModuleCheck.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <fmt/format.h>
#include <unistd.h>

namespace kelvarin {

namespace {

// The loader trusts the file it maps: a module cut short, with a damaged dynamic
// section or built for another machine is refused here, with the reason.
std::string checkBeforeLoading(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return {};
  const struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  const std::string why = CheckModuleFile(fd);
  return why.empty() ? why : fmt::format("{}: {}", path, why);
}

} // namespace

void* OpenModule(const std::string& path, std::string& error) {
  error.clear();
  // Without a '/' the loader would search the library path instead.
  const std::string name = path.find('/') == std::string::npos ? "./" + path : path;
  error = checkBeforeLoading(name);
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
