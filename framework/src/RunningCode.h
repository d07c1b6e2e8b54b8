// Whether a module's code is running: found on the stack itself, so that every
// road into a plug-in counts (the framework's own dispatch, an event the window
// system delivers to a plug-in's handler, a host handler a plug-in replaced, a
// call the host makes into plug-in code directly).
#pragma once

namespace kelvarin {

// True when a return address on the calling thread's stack lies in `module` (a
// handle from OpenModule). Releasing such a module would return into unmapped code.
bool ModuleCodeOnStack(void* module);

} // namespace kelvarin
