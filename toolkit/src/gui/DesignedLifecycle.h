// The lifecycle that forms and data modules share: a designed class reads its
// stored forms after construction and raises OnCreate and OnDestroy around its life.
#pragma once

#include "keltk/Component.h"
#include "keltk/NotifyEvent.h"

#include <mutex>

namespace keltk {

// Reads the stored forms of `self`'s classes below `base`; raises EResNotFound
// when there are none.
void readStoredFormsBelow(TComponent& self, const TClassInfo& base);

// Calls `handler` with `sender`; an exception from it goes to the application's
// HandleException.
void raiseDesignedEvent(const TNotifyEvent& handler, TObject* sender);

// Unless `self` is a plain `base`, a bare object or a designed one, reads its
// stored forms under the global name-space lock, creating right after reading
// when `oldCreateOrder` (which the forms may set) is on; otherwise creates once
// construction is done.
template <class ReadStoredForm, class DoCreate>
void constructDesigned(TComponent& self, const TClassInfo& base, bool createNew,
                       const bool& oldCreateOrder, ReadStoredForm readStoredForm,
                       DoCreate doCreate) {
  {
    std::lock_guard<std::recursive_mutex> lock(GlobalNameSpace());
    if (!createNew && self.ClassName() != base.name && !self.HasState(csDesigning)) {
      readStoredForm();
      if (oldCreateOrder) doCreate();
    }
  }
  if (!oldCreateOrder) doCreate();
}

} // namespace keltk
