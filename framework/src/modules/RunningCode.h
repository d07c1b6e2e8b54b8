// Whether a module's code is running: found on the stack itself, so that every
// road into a plug-in counts (the framework's own dispatch, an event the window
// system delivers to a plug-in's handler, a host handler a plug-in replaced, a
// call the host makes into plug-in code directly).
#pragma once

namespace kelvarin {

// True when a return address on the calling thread's stack lies in `module` (a
// handle from OpenModule). Releasing such a module would return into unmapped code.
bool ModuleCodeOnStack(void* module);

// True when a return address on the stack of any thread of the process lies in
// `module`, or when a thread could not be asked (its signals blocked, or it did
// not answer in time): releasing the module is safe only when this is false.
// Other threads are sampled by a signal, one at a time; callers are serialized.
bool ModuleCodeOnAnyThread(void* module);
// The same for every thread but the calling one.
bool ModuleCodeOnOtherThreads(void* module);

// The signal that samples other threads. A thread that blocks every signal
// should leave this one open, or no module can be released while it lives.
int ThreadSamplingSignal();

} // namespace kelvarin
