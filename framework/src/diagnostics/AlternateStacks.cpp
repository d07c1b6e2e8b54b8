#include "AlternateStacks.h"

#include "ModuleLoader.h"
#include "RunningCode.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <new>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

namespace kelvarin {

namespace {

// Room for the crash handler and the signal frame of the widest register set.
constexpr std::size_t kStackSize = 64 * 1024;

std::atomic<bool> giving{false};

// An mmap'ed stack with a guard page below it: a handler that overflows it too
// faults there instead of writing over whatever lies beneath. One the thread has
// already (a sanitizer runtime's) is kept when it is large enough; a smaller one
// is put back when ours goes, for its owner to release.
class AlternateStack {
public:
  AlternateStack() {
    if (::sigaltstack(nullptr, &previous_) != 0) return;
    if ((previous_.ss_flags & SS_DISABLE) == 0 && previous_.ss_size >= kStackSize) return;
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    void* base = ::mmap(nullptr, page + kStackSize, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (base == MAP_FAILED) return;
    stack_t stack{};
    stack.ss_sp = static_cast<char*>(base) + page;
    stack.ss_size = kStackSize;
    if (::mprotect(base, page, PROT_NONE) != 0 || ::sigaltstack(&stack, nullptr) != 0) {
      ::munmap(base, page + kStackSize);
      return;
    }
    base_ = base;
    size_ = page + kStackSize;
  }
  ~AlternateStack() {
    if (base_ == nullptr) return;
    // Fails while a handler runs on ours (one that ends the thread): then it stays.
    previous_.ss_flags &= SS_DISABLE;
    if (::sigaltstack(&previous_, nullptr) == 0) ::munmap(base_, size_);
  }
  AlternateStack(const AlternateStack&) = delete;
  AlternateStack& operator=(const AlternateStack&) = delete;

private:
  stack_t previous_{};
  void* base_ = nullptr;
  std::size_t size_ = 0;
};

// Made on a thread's first call and released by the thread's own exit, however
// it ends (return, pthread_exit, cancellation).
void giveThisThreadAStack() {
  // Aligned for the leak checker's sake: see currentAssignment in the toolkit's reader.
  alignas(64) thread_local AlternateStack stack;
}

using ThreadStart = void* (*)(void*);
using CreateThread = int (*)(pthread_t*, const pthread_attr_t*, ThreadStart, void*);

// The pthread_create that ours stands in front of: the C library's, or a
// sanitizer runtime's, which hands on to it in turn.
CreateThread nextCreateThread() {
  static const auto next = reinterpret_cast<CreateThread>(NextDefinitionOf("pthread_create"));
  return next;
}

struct Start {
  ThreadStart routine;
  void* argument;
};

void* startWithAStack(void* data) {
  const Start start = *static_cast<Start*>(data);
  delete static_cast<Start*>(data);
  if (giving.load(std::memory_order_acquire)) giveThisThreadAStack();
  // Libraries that start their threads with every signal blocked (GLib's) would
  // leave them unable to answer whether they run a module's code, and then hold
  // every module mapped: the signal that asks is ours alone, and stays open.
  if (const int sampling = ThreadSamplingSignal(); sampling != 0) {
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, sampling);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  }
  return start.routine(start.argument);
}

} // namespace

void GiveThreadsAlternateStacks() {
  giveThisThreadAStack();
  giving.store(true, std::memory_order_release);
}

} // namespace kelvarin

// Every thread the process starts through pthread_create passes here: the C++
// runtime's, the window system's and plug-ins' threads alike. Programs that
// limit their exports must export this symbol (hosts carrying the framework
// inside), or only the framework's own calls come here.
extern "C" [[gnu::visibility("default")]] int pthread_create(pthread_t* thread,
                                                             const pthread_attr_t* attributes,
                                                             void* (*routine)(void*),
                                                             void* argument) noexcept {
  using namespace kelvarin;
  const CreateThread next = nextCreateThread();
  if (next == nullptr) return EAGAIN;
  auto* start = new (std::nothrow) Start{routine, argument};
  if (start == nullptr) return next(thread, attributes, routine, argument);
  const int result = next(thread, attributes, startWithAStack, start);
  if (result != 0) delete start;
  return result;
}
