// The bracket around each public manager operation (load, unload, commands).
// A close that a termination signal asked for frees the main form and the
// manager with it, so it waits until no operation is on the stack: a message box
// or a plug-in's ProcessMessages inside one runs the event loop, which would
// otherwise carry the close out under the operation.
#pragma once

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

} // namespace kelvarin
