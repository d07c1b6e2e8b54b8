// A manager answers only the thread that created it (the GUI thread): its
// plug-ins, handlers and log are not safe to touch from anywhere else.
#pragma once

#include "kelvarin/MethodResult.h"

#include <string_view>

namespace kelvarin {

class TulmKelMan;

// True on `manager`'s own thread. From any other thread the call is refused:
// `result`, when given, says why, an error entry saying the same is posted to
// the manager's thread, and the answer is false.
bool OnManagerThread(const TulmKelMan& manager, std::string_view operation,
                     TKelMethodResult* result = nullptr);

} // namespace kelvarin
