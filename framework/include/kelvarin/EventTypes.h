// Event types that the manager and the plug-ins both publish. Events are method
// references (object plus code); an unassigned event is skipped.
#pragma once

#include "kelvarin/MethodResult.h"
#include "kelvarin/Types.h"

#include <cstdint>
#include <keltk/Component.h>
#include <keltk/Event.h>
#include <keltk/VarRec.h>
#include <string>

namespace kelvarin {

using TEventOnMessage = keltk::Event<TKelMethodResult(std::int32_t MsgID, keltk::TVarRecs Params)>;
using TEventOnLogChanged =
    keltk::Event<void(keltk::TComponent* Origin, const std::string& FullMsg)>;
// The pointers lead to the old and the new value, valid only during the call.
using TEventOnPropertyModified =
    keltk::Event<void(TPropToMonitor ModifiedProperty, const void* OldValue, const void* NewValue)>;

} // namespace kelvarin
