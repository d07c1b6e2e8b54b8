// Loading and releasing plug-in modules.
#pragma once

#include <string>

namespace kelvarin {

// Loads the module `path` (now, with local symbols). A name without a folder is
// taken from the current folder, not from the library search path. On failure
// answers null and puts the reason into `error`: the loader's own text, or why
// the file was refused before the loader saw it (CheckModuleFile: a module cut
// short, damaged or built for another machine, which would fault or mislead the
// loader).
void* OpenModule(const std::string& path, std::string& error);
// OpenModule on a private copy of `path`, made beside it (so that the module's
// $ORIGIN still finds its libraries) and unlinked once mapped: the file itself
// may then be overwritten in place without touching the pages that run. Where
// no copy can be made there, `path` itself is loaded.
void* OpenModuleCopy(const std::string& path, std::string& error);
void CloseModule(void* module);
// The handle of the module mapped from `path` if one is, else null; takes no reference.
void* MappedModule(const std::string& path);

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

// The module file that holds `address` (empty when none does).
std::string ModuleFileOf(const void* address);

} // namespace kelvarin
