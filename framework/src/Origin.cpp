#include "kelvarin/Origin.h"

#include <algorithm>
#include <vector>

namespace kelvarin {

namespace {
// Few objects live at a time, and the newest are asked about most.
std::vector<LiveOrigin>& liveOrigins() {
  static std::vector<LiveOrigin> origins;
  return origins;
}
} // namespace

void RegisterOrigin(keltk::TComponent* object, OriginKind kind) {
  if (object == nullptr || kind == OriginKind::None) return;
  UnregisterOrigin(object);
  liveOrigins().push_back({object, kind});
}

void UnregisterOrigin(const keltk::TComponent* object) {
  auto& origins = liveOrigins();
  origins.erase(std::remove_if(origins.begin(), origins.end(),
                               [object](const LiveOrigin& o) { return o.object == object; }),
                origins.end());
}

LiveOrigin FindLiveOrigin(const void* address) {
  if (address == nullptr) return {};
  const auto& origins = liveOrigins();
  for (auto it = origins.rbegin(); it != origins.rend(); ++it)
    if (static_cast<const void*>(it->object) == address) return *it;
  return {};
}

} // namespace kelvarin
