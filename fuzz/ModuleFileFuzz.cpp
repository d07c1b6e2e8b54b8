// The file reader behind discovery and the check before a module is loaded, on
// arbitrary files read from a real descriptor: the structural check, then the
// metadata read by path as discovery does it. Anything but an answer is a fault.
#include "ModuleCheck.h"

#include <cstddef>
#include <cstdint>
#include <kelvarin/Discovery.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const int fd = ::memfd_create("module", MFD_CLOEXEC);
  if (fd < 0) return 0;
  if (::write(fd, data, size) == static_cast<ssize_t>(size) && ::lseek(fd, 0, SEEK_SET) == 0) {
    (void)kelvarin::CheckModuleFile(fd);
    (void)kelvarin::DescribePluginFile("/proc/self/fd/" + std::to_string(fd));
  }
  ::close(fd);
  return 0;
}
