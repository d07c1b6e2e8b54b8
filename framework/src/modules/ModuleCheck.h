// The checks a module file must pass before the system's loader maps it: the
// loader trusts the file and faults inside itself on a damaged one, or answers a
// module for another machine with a misleading text. Shared by the manager's
// module loader and kelinfo, so both refuse the same files for the same reason.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace kelvarin {

// Why the module open on `fd` must not be loaded, or empty when nothing speaks
// against it. A file that is not ELF at all gives empty: the loader (or the
// caller) says so in its own words. `foreign` (when given) tells a module built
// for another machine, class or byte order from a damaged one.
std::string CheckModuleFile(int fd, bool* foreign = nullptr);
// The same for a regular file of `fileSize` bytes whose first bytes the caller
// has read already (`head`): what lies in them is not read again.
std::string CheckModuleFile(int fd, std::uint64_t fileSize, std::span<const std::uint8_t> head,
                            bool* foreign);

} // namespace kelvarin
