// Opening the log's dump file safely, in a form that also serves a signal
// handler: no allocation, no exceptions, only system calls.
#pragma once

#include "kelvarin/Log.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kelvarin {

// Refusals that are no errno value.
inline constexpr int kDumpNotRegular = -1;  // a FIFO, device, socket...
inline constexpr int kDumpForeignLink = -2; // a link planted by another user

struct DumpOpen {
  int fd = -1;
  bool created = false; // the file did not exist (or the attempt was to create it)
  int error = 0;        // errno, or one of the refusals above
};

// Opens `name` for appending, creating it when it does not exist. A symbolic link
// is followed only when it belongs to this process's user or to root; anything
// but a regular file is refused, and opening never blocks.
DumpOpen OpenDumpFile(const char* name) noexcept;

// Writes all of `size` bytes; false on any failure.
bool WriteAll(int fd, const char* data, unsigned long size) noexcept;

// Creates `folder` and the folders above it that are missing, private to the user.
void MakeFolders(const std::string& folder);

// The text for DumpOpen::error.
const char* DumpOpenReason(int error) noexcept;

// The header lines that start each run's part of the dump file.
std::string DumpHeaderText();
// The dump file's name for `pattern`: its first "%HostApp%" (any letter case)
// replaced by `program` without its extension. Written with a closing NUL into
// `out`, without allocating, since a crash handler asks too; the name's length, or
// nullopt when it does not fit in `capacity`.
std::optional<std::size_t> DumpFileNameInto(std::string_view pattern, std::string_view program,
                                            char* out, std::size_t capacity) noexcept;
// Where a log goes when its DumpFileName cannot be written (told on standard
// error): "<program>.kel.log" in $XDG_STATE_HOME/kelvarin, else in
// ~/.local/state/kelvarin; empty when neither is known.
std::string FallbackDumpFileName();
// The statistics block of the closing dump for these counters (indexed by
// TLogKind); nullopt when no entry was counted.
std::optional<std::string> StatisticsBlock(const std::array<std::int32_t, kLogKindCount>& counts);
// The running program's full path.
std::string RunningProgramPath();

} // namespace kelvarin
