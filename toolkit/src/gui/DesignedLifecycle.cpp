#include "DesignedLifecycle.h"

#include "keltk/Application.h"
#include "keltk/Exception.h"
#include "keltk/Resources.h"

#include <fmt/format.h>

namespace keltk {

void readStoredFormsBelow(TComponent& self, const TClassInfo& base) {
  if (!InitInheritedComponent(&self, base))
    throw EResNotFound(fmt::format("Resource {} not found", self.ClassName()));
}

void raiseDesignedEvent(const TNotifyEvent& handler, TObject* sender) {
  if (!handler) return;
  try {
    handler(sender);
  } catch (const Exception& e) {
    Application()->HandleException(e);
  }
}

} // namespace keltk
