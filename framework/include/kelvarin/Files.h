// Small file-system questions the manager asks about plug-in files and folders.
#pragma once

#include <cstdint>
#include <string_view>

namespace kelvarin {

// True when `path` names an existing folder; one trailing '/' more than the
// folder's own name is tolerated. False for a blank path and on any failure.
bool FolderExists(std::string_view path);

// The size in bytes of the file `path` names; 0 when there is none, when it is a
// folder, or on any failure.
std::int64_t FileSizeOf(std::string_view path);

} // namespace kelvarin
