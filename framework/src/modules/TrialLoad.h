// The first load of a module file is tried in a short-lived process of its own
// (the program kelvarin-trial-load): the system loader crashes or aborts on some
// damaged files, and the host must not be the process it does that in. Files
// that passed are remembered by device, inode, size and modification time, so
// loading one again costs one stat; so are files loaded where no trial program
// is found, once they passed the checks made here.
#pragma once

#include <string>
#include <sys/stat.h>

namespace kelvarin {

// Empty when `path` may be mapped in this process: it passed a trial load now or
// before, or no trial could be made (no trial program, a file the loader refuses
// cleanly, which then says why itself). Otherwise why it must not be mapped, e.g.
// "the system loader crashed on this file (SIGSEGV) in a trial load".
std::string TrialLoad(const std::string& path);

// Why an earlier trial load of the file whose status is `file` (as stat or fstat
// gave it) failed; empty when none did.
std::string TrialLoadFailure(const struct stat& file);

// Whether `path`, as the file is now, passed before every check this process can
// make (a trial load, where a trial program is there): it needs no second look.
// `seen`, when given, is the file's status now; otherwise it is read.
bool ProvenLoadable(const std::string& path, const struct stat* seen = nullptr);

} // namespace kelvarin
