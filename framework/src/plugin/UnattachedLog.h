// Where a plug-in's log lines go before any manager has adopted it: nowhere,
// unless a tool that builds plug-ins outside a host (the form check) listens.
#pragma once

#include "kelvarin/Log.h"

#include <string_view>

namespace kelvarin::detail {

using UnattachedLogSink = void (*)(void* context, std::string_view message, TLogKind kind);

// Installs `sink` for this framework copy (null removes it). Not thread-safe:
// set it before plug-ins are created.
void SetUnattachedLogSink(UnattachedLogSink sink, void* context);

// Hands a line of a plug-in without a manager to the sink, if one listens.
void LogUnattached(std::string_view message, TLogKind kind);

} // namespace kelvarin::detail
