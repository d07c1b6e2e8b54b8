// The plain notification event that most toolkit classes raise.
#pragma once

#include "keltk/Event.h"

namespace keltk {

class TObject;

using TNotifyEvent = Event<void(TObject* Sender)>;

} // namespace keltk
