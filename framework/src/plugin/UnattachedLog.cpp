#include "UnattachedLog.h"

namespace kelvarin::detail {

namespace {
UnattachedLogSink unattachedSink = nullptr;
void* unattachedContext = nullptr;
} // namespace

void SetUnattachedLogSink(UnattachedLogSink sink, void* context) {
  unattachedSink = sink;
  unattachedContext = context;
}

void LogUnattached(std::string_view message, TLogKind kind) {
  if (unattachedSink != nullptr) unattachedSink(unattachedContext, message, kind);
}

} // namespace kelvarin::detail
