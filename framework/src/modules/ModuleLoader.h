// Loading and releasing plug-in modules: the one place that calls the system
// loader. Its inline part needs no framework library, so that the trial-load
// program maps a module with the very call a manager makes.
#pragma once

#include <cstdint>
#include <dlfcn.h>
#include <string>
#include <string_view>
#include <utility>

struct link_map;
struct stat;

namespace kelvarin {

// The system loader alone, with the flags every module is mapped with (now, with
// local symbols); `name` as the loader takes it. On failure answers null and the
// loader's reason.
inline void* MapWithSystemLoader(const std::string& name, std::string& error) {
  void* module = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module != nullptr) return module;
  const char* reason = ::dlerror();
  error = reason != nullptr ? reason : "the module could not be loaded";
  return nullptr;
}

// The definition of `symbol` that the calling library's own one stands in front
// of. Inline: the loader takes "next" after the object the call is made from.
inline void* NextDefinitionOf(const char* symbol) {
  return ::dlsym(RTLD_NEXT, symbol);
}

// A loaded module and the one reference that closes it (CloseModule).
class ModuleHandle {
public:
  ModuleHandle() = default;
  explicit ModuleHandle(void* handle) noexcept : handle_(handle) {}
  ~ModuleHandle() { reset(); }
  ModuleHandle(ModuleHandle&& other) noexcept : handle_(other.release()) {}
  ModuleHandle& operator=(ModuleHandle&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = other.release();
    }
    return *this;
  }
  ModuleHandle(const ModuleHandle&) = delete;
  ModuleHandle& operator=(const ModuleHandle&) = delete;

  void* get() const noexcept { return handle_; }
  explicit operator bool() const noexcept { return handle_ != nullptr; }
  // The module's export `name` as a `T` (a function pointer type); null when missing.
  template <class T> T Symbol(const char* name) const {
    return handle_ == nullptr ? nullptr : reinterpret_cast<T>(::dlsym(handle_, name));
  }
  // Hands the reference on: the caller closes it now.
  [[nodiscard]] void* release() noexcept { return std::exchange(handle_, nullptr); }
  void reset() noexcept;

private:
  void* handle_ = nullptr;
};

// FileSizeOf, which also hands out the file's status as stat gave it, to pass
// on to OpenModule.
std::int64_t FileSizeOf(std::string_view path, struct stat& status);

// Loads the module `path` (now, with local symbols). A name without a folder is
// taken from the current folder, not from the library search path. On failure
// answers none and puts the reason into `error`: the loader's own text, or why
// the file was refused before the loader saw it (CheckModuleFile: a module cut
// short, damaged or built for another machine, which would fault or mislead the
// loader). `seen`, when given, is the file's status read so recently that it
// still stands for the file (nothing that could have replaced it ran since): a
// file already checked is then known without reading its status again.
ModuleHandle OpenModule(const std::string& path, std::string& error,
                        const struct stat* seen = nullptr);
// OpenModule on a private copy of `path`, made beside it (so that the module's
// $ORIGIN still finds its libraries) and unlinked once mapped: the file itself
// may then be overwritten in place without touching the pages that run. Where
// no copy can be made there, `path` itself is loaded.
ModuleHandle OpenModuleCopy(const std::string& path, std::string& error,
                            const struct stat* seen = nullptr);
// `path` loaded to look into it (a tool's check of a module it has built): none
// of OpenModule's checks.
ModuleHandle OpenModuleForInspection(const std::string& path, std::string& error);
// Closes a reference that OpenModule handed out and its owner released.
void CloseModule(void* module) noexcept;
// The handle of the module mapped from `path` if one is, else null; takes no reference.
void* MappedModule(const std::string& path);
// Another reference to the library at `path`, never closed; null when it cannot be loaded.
void* LoadModuleForGood(const std::string& path);
// The library already mapped from `path` stays mapped to the end of the process,
// whatever closes it later.
void KeepModuleMapped(const std::string& path);
// The loader's record of a loaded module; null for a null or unknown handle.
const link_map* LinkMapOf(void* module);

// Where a loaded module is mapped: every address of its code and data lies in
// [begin, end). Empty for a null or unknown handle.
struct ModuleSpan {
  const char* begin = nullptr;
  const char* end = nullptr;
  bool holds(const void* address) const {
    const auto* at = static_cast<const char*>(address);
    return at != nullptr && begin <= at && at < end;
  }
};
ModuleSpan SpanOfModule(void* module);

// The module file that holds `address` (empty when none does). Inline for the
// module reader's own programs, which link no framework library.
inline std::string ModuleFileOf(const void* address) {
  Dl_info info{};
  if (address == nullptr || ::dladdr(address, &info) == 0 || info.dli_fname == nullptr) return {};
  return info.dli_fname;
}

} // namespace kelvarin
