#include "RunningCode.h"

#include <dlfcn.h>
#include <execinfo.h>
#include <link.h>
#include <vector>

namespace kelvarin {

namespace {

// Deep enough for any event loop; a stack deeper still is read whole by growing.
constexpr int kFirstFrameCount = 128;
constexpr int kMostFrames = 1 << 16;

const link_map* linkMapOf(void* module) {
  link_map* map = nullptr;
  if (module == nullptr || ::dlinfo(module, RTLD_DI_LINKMAP, &map) != 0) return nullptr;
  return map;
}

std::vector<void*> returnAddresses() {
  std::vector<void*> frames(kFirstFrameCount);
  for (;;) {
    const int count = ::backtrace(frames.data(), static_cast<int>(frames.size()));
    if (count < static_cast<int>(frames.size()) || frames.size() >= kMostFrames) {
      frames.resize(static_cast<std::size_t>(count > 0 ? count : 0));
      return frames;
    }
    frames.resize(frames.size() * 2);
  }
}

} // namespace

bool ModuleCodeOnStack(void* module) {
  const link_map* target = linkMapOf(module);
  if (target == nullptr) return false;
  for (void* address : returnAddresses()) {
    // A return address may sit just past the end of the calling function.
    auto* inCaller = static_cast<char*>(address) - 1;
    dl_find_object found{};
    if (::_dl_find_object(inCaller, &found) == 0 && found.dlfo_link_map == target) return true;
  }
  return false;
}

} // namespace kelvarin
