// Stacks for the crash handler: a thread whose own stack overflowed can run a
// signal handler only on a stack set aside for it (sigaltstack), and each thread
// needs one of its own.
#pragma once

namespace kelvarin {

// Gives the calling thread an alternate signal stack, and from now on every
// thread that pthread_create starts, each for as long as that thread lives. A
// thread that has one large enough already (a sanitizer's, for one) keeps it.
void GiveThreadsAlternateStacks();

} // namespace kelvarin
