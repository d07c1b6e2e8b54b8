#include "ModuleLoader.h"

#include "CrashRecord.h"
#include "ModuleCheck.h"
#include "TrialLoad.h"
#include "UniqueFd.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <fmt/format.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvarin {

namespace {

// The loader trusts the file it maps: a module cut short, with a damaged dynamic
// section or built for another machine is refused here, with the reason.
std::string checkBeforeLoading(const std::string& path) {
  const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) return {};
  const std::string why = CheckModuleFile(fd.get());
  return why.empty() ? why : fmt::format("{}: {}", path, why);
}

// Without a '/' the loader would search the library path instead.
std::string loaderName(const std::string& path) {
  return path.find('/') == std::string::npos ? "./" + path : path;
}

// Copies the regular file `from` into the open file `to`; false on any failure.
bool copyInto(const std::string& from, int to) {
  const UniqueFd in(::open(from.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!in) return false;
  struct stat info {};
  if (::fstat(in.get(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  char buffer[1 << 16];
  for (;;) {
    const ssize_t got = ::read(in.get(), buffer, sizeof buffer);
    if (got == 0) return true;
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    for (ssize_t done = 0; done < got;) {
      const ssize_t put = ::write(to, buffer + done, static_cast<std::size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return false;
      done += put;
    }
  }
}

// The checks before the loader: the file's structure, then (unless `tried`
// already) a trial load in a process of its own.
std::string refusalOf(const std::string& name, bool tried, const struct stat* seen) {
  // Checked and tried before, as the file is now: nothing new to find.
  if (!tried && ProvenLoadable(name, seen)) return {};
  std::string why = checkBeforeLoading(name);
  if (!why.empty() || tried) return why;
  why = TrialLoad(name);
  return why.empty() ? why : fmt::format("{}: {}", name, why);
}

// `shown` is the file the caller asked for, which `path` may be a copy of.
ModuleHandle openModule(const std::string& path, std::string& error, bool tried,
                        const std::string& shown, const struct stat* seen) {
  const std::string name = loaderName(path);
  error = refusalOf(name, tried, seen);
  if (!error.empty()) return {};
  void* module = MapWithSystemLoader(name, error);
  if (module == nullptr) return {};
  NoteModuleForCrash(module, shown.substr(shown.rfind('/') + 1));
  return ModuleHandle(module);
}

} // namespace

void ModuleHandle::reset() noexcept {
  CloseModule(std::exchange(handle_, nullptr));
}

ModuleHandle OpenModule(const std::string& path, std::string& error, const struct stat* seen) {
  return openModule(path, error, false, path, seen);
}

ModuleHandle OpenModuleCopy(const std::string& path, std::string& error, const struct stat* seen) {
  const std::string name = loaderName(path);
  const std::size_t slash = name.rfind('/');
  std::string copy = name.substr(0, slash + 1) + "." + name.substr(slash + 1) + ".XXXXXX";
  UniqueFd out(::mkostemp(copy.data(), O_CLOEXEC));
  if (!out) return OpenModule(path, error);
  // The file is tried, not its copy (a new file each time).
  if (error = refusalOf(name, false, seen); !error.empty()) {
    out.reset();
    ::unlink(copy.c_str());
    return {};
  }
  const bool copied = copyInto(name, out.get());
  out.reset();
  ModuleHandle module = copied ? openModule(copy, error, true, path, nullptr) : ModuleHandle();
  ::unlink(copy.c_str());
  if (!copied) return OpenModule(path, error);
  // The reasons speak of the file the host asked for.
  for (std::size_t at = error.find(copy); at != std::string::npos;
       at = error.find(copy, at + name.size()))
    error.replace(at, copy.size(), name);
  return module;
}

ModuleHandle OpenModuleForInspection(const std::string& path, std::string& error) {
  void* module = MapWithSystemLoader(loaderName(path), error);
  // Noted as every reference CloseModule forgets, so the count of a module a
  // manager has loaded as well stays right.
  if (module != nullptr) NoteModuleForCrash(module, path.substr(path.rfind('/') + 1));
  return ModuleHandle(module);
}

void CloseModule(void* module) noexcept {
  if (module == nullptr) return;
  ForgetModuleForCrash(module);
  ::dlclose(module);
}

void* MappedModule(const std::string& path) {
  void* module = ::dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (module != nullptr) ::dlclose(module);
  return module;
}

void* LoadModuleForGood(const std::string& path) {
  std::string ignored;
  return MapWithSystemLoader(path, ignored);
}

void KeepModuleMapped(const std::string& path) {
  (void)::dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
}

const link_map* LinkMapOf(void* module) {
  link_map* map = nullptr;
  if (module == nullptr || ::dlinfo(module, RTLD_DI_LINKMAP, &map) != 0) return nullptr;
  return map;
}

ModuleSpan SpanOfModule(void* module) {
  const link_map* map = LinkMapOf(module);
  if (map == nullptr) return {};
  dl_find_object found{};
  if (::_dl_find_object(map->l_ld, &found) != 0) return {};
  return {static_cast<const char*>(found.dlfo_map_start),
          static_cast<const char*>(found.dlfo_map_end)};
}

} // namespace kelvarin
