// The plug-ins of this framework copy that run in the host's context, and the
// objects that were current before the first of them made the host's current.
// Plug-ins that share a toolkit copy share its current objects: the copy's own
// come back only when the last of them goes, not under the feet of the others.
#pragma once

#include <keltk/Application.h>
#include <optional>
#include <vector>

namespace kelvarin {

class TulmKel;

struct HostContext {
  keltk::TApplication* application = nullptr;
  keltk::TScreen* screen = nullptr;
};

class HostContextRegistry {
public:
  // The one registry of this framework copy.
  static HostContextRegistry& instance();

  // Records `plugin` as running in the host's context; the first one keeps the
  // objects current now for the last one's departure.
  void enter(const TulmKel* plugin);

  // What a plug-in's destruction puts back. `restore` is set once no user is
  // left: the saved objects when `plugin` was the last user, otherwise `own`,
  // the context of a module that never took the host's.
  struct Departure {
    bool wasUser = false;
    std::optional<HostContext> restore;
  };
  Departure leave(const TulmKel* plugin, HostContext own);

private:
  std::vector<const TulmKel*> plugins_;
  HostContext saved_;
};

} // namespace kelvarin
