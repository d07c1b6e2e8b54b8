// The bracket around each public manager operation (load, unload, commands).
// A close that a termination signal asked for frees the main form and the
// manager with it, so it waits until no operation is on the stack: a message box
// or a plug-in's ProcessMessages inside one runs the event loop, which would
// otherwise carry the close out under the operation.
#pragma once

#include "ExceptionReport.h"
#include "ThreadCheck.h"

#include <keltk/Dialogs.h>
#include <utility>

namespace kelvarin {

class ManagerOperation {
public:
  ManagerOperation() noexcept;
  ~ManagerOperation();
  ManagerOperation(const ManagerOperation&) = delete;
  ManagerOperation& operator=(const ManagerOperation&) = delete;

  // True while an operation of any manager of this framework copy runs.
  static bool Active() noexcept;
};

// A public manager operation whole: refused off the manager's thread, bracketed
// as above, guarded under its own step frame (at step 1 when the body starts).
// The body fills the result; an exception leaves it smrUnexpectedError. With
// `showError`, a failure is also shown to the user once the guard is left.
template <class Body>
TKelMethodResult RunOperation(TulmKelMan& manager, const char* location, Body&& body,
                              bool showError = false) {
  if (TKelMethodResult refused; !OnManagerThread(manager, location, &refused)) return refused;
  const ManagerOperation operation;
  MethodFrame site{location};
  TKelMethodResult result = smrUnexpectedError;
  site.step = 1;
  GuardedSwallow(&manager, site, [&] { std::forward<Body>(body)(site, result); });
  if (showError && !result.Success) keltk::ShowMessage(result.ErrorMsg);
  return result;
}

} // namespace kelvarin
