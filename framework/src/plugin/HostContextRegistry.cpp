#include "HostContextRegistry.h"

#include <algorithm>

namespace kelvarin {

HostContextRegistry& HostContextRegistry::instance() {
  static HostContextRegistry registry;
  return registry;
}

void HostContextRegistry::enter(const TulmKel* plugin) {
  if (plugins_.empty()) saved_ = {keltk::Application(), keltk::Screen()};
  plugins_.push_back(plugin);
}

HostContextRegistry::Departure HostContextRegistry::leave(const TulmKel* plugin, HostContext own) {
  Departure departure;
  const auto self = std::find(plugins_.begin(), plugins_.end(), plugin);
  departure.wasUser = self != plugins_.end();
  if (departure.wasUser) plugins_.erase(self);
  if (plugins_.empty()) departure.restore = departure.wasUser ? saved_ : own;
  return departure;
}

} // namespace kelvarin
