// How a host's process ends when it is not closed by its user. A library must
// not take signals on its own, so this is one call the host makes at start-up,
// after its backend (window system) is installed and before its forms exist.
#pragma once

namespace kelvarin {

// From this call on:
// - SIGTERM, SIGINT and SIGHUP close the application's main form on the event
//   loop's thread, as its user would (plug-ins unloaded, "Manager Closed
//   Normally.", statistics), and end the application. The close waits until no
//   manager operation (a load, an unload, a command) and no modal loop (a message
//   box) is running, and is carried out at an idle step: also without a window
//   system, where the application's idle steps are its loop. The idle handler
//   installed here chains to the one it finds; a host that sets its own later
//   calls the one it found. A second such signal ends the process at once,
//   killed by that signal.
// - SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGABRT write, into every live log's dump
//   file, the entries not yet written and a last error entry naming the signal and
//   the module (and plug-in) the faulting code belongs to; the process then dies
//   of the same signal, so its exit status and core dump stay as they were.
// Only what is safe in a signal handler runs there (prepared buffers, write).
// Calling it again does nothing.
void HandleEndingSignals();

} // namespace kelvarin
