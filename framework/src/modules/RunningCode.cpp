#include "RunningCode.h"

#include "ModuleLoader.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <execinfo.h>
#include <fcntl.h>
#include <filesystem>
#include <link.h>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <semaphore.h>
#include <span>
#include <string>
#include <sys/single_threaded.h>
#include <unistd.h>
#include <unwind.h>
#include <utility>
#include <vector>

namespace kelvarin {

namespace {

// Deeper than any stack a thread runs on; a walk that goes on beyond says yes.
constexpr int kMostFrames = 1 << 16;

// Whether one of the addresses lies in the module of `target`. A return address
// may sit just past the end of the calling function; the frame a signal
// interrupted reports the instruction itself: both places count.
bool inModule(void* const* frames, std::size_t count, const link_map* target) {
  for (std::size_t i = 0; i < count; ++i) {
    for (auto* at : {static_cast<char*>(frames[i]) - 1, static_cast<char*>(frames[i])}) {
      dl_find_object found{};
      if (::_dl_find_object(at, &found) == 0 && found.dlfo_link_map == target) return true;
    }
  }
  return false;
}

// One thread is asked at a time: the sampler names it in `asked`, the thread's
// handler claims the question by negating it, fills the one buffer and clears it.
std::atomic<pid_t> asked{0};
void* sampledFrames[kMostFrames];
int sampledCount = 0;
sem_t answered;

// How long a thread has to start its answer, and to finish one it has started.
constexpr long kAnswerStartMs = 200;
constexpr long kAnswerFinishMs = 1000;

void onSample(int, siginfo_t*, void*) {
  const int saved = errno;
  pid_t me = ::gettid();
  if (asked.compare_exchange_strong(me, -me, std::memory_order_acquire)) {
    sampledCount = ::backtrace(sampledFrames, kMostFrames);
    asked.store(0, std::memory_order_release);
    ::sem_post(&answered);
  }
  errno = saved;
}

// The first real-time signal nobody handles, taken for sampling; 0 when none is free.
int installSampler() {
  // backtrace loads the unwinder on its first call, which a signal handler must not.
  void* warmUp[1];
  (void)::backtrace(warmUp, 1);
  if (::sem_init(&answered, 0, 0) != 0) return 0;
  for (int sig = SIGRTMAX; sig >= SIGRTMIN; --sig) {
    struct sigaction current {};
    if (::sigaction(sig, nullptr, &current) != 0 || (current.sa_flags & SA_SIGINFO) != 0 ||
        current.sa_handler != SIG_DFL)
      continue;
    struct sigaction action {};
    action.sa_sigaction = onSample;
    // Interrupted system calls go on: the threads asked never notice.
    action.sa_flags = SA_SIGINFO | SA_RESTART | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    if (::sigaction(sig, &action, nullptr) == 0) return sig;
  }
  return 0;
}

// The other threads of the process; nothing when they cannot be listed.
std::optional<std::vector<pid_t>> otherThreads() try {
  std::vector<pid_t> others;
  const pid_t self = ::gettid();
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    const auto tid = static_cast<pid_t>(std::stol(task.path().filename().string()));
    if (tid != self) others.push_back(tid);
  }
  return others;
} catch (...) {
  return std::nullopt;
}

// Whether thread `tid` blocks `sig` (then it cannot answer while it does).
bool blocks(pid_t tid, int sig) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/self/task/%d/status", static_cast<int>(tid));
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char text[4096];
  const ssize_t size = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  if (size <= 0) return false;
  text[size] = '\0';
  const char* line = std::strstr(text, "\nSigBlk:");
  if (line == nullptr) return false;
  const std::uint64_t mask = std::strtoull(line + 8, nullptr, 16);
  return ((mask >> (sig - 1)) & 1U) != 0;
}

timespec after(long ms) {
  timespec at{};
  ::clock_gettime(CLOCK_MONOTONIC, &at);
  at.tv_sec += ms / 1000;
  at.tv_nsec += ms % 1000 * 1000000;
  if (at.tv_nsec >= 1000000000) {
    at.tv_sec += 1;
    at.tv_nsec -= 1000000000;
  }
  return at;
}

bool before(const timespec& a, const timespec& b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

bool alive(pid_t tid) {
  return ::tgkill(::getpid(), tid, 0) == 0 || errno != ESRCH;
}

// A thread blocks every signal for a moment while it starts or ends, or leaves the
// one sent to it pending as it ends: it is looked at again this often.
constexpr long kLookMs = 5;

enum class Reply { Answered, Gone, Silent };

// Waits for thread `tid` to answer. Posts left over from answers given too late
// only make the loop look again.
Reply awaitAnswer(pid_t tid) {
  timespec deadline = after(kAnswerStartMs);
  bool started = false;
  for (;;) {
    if (asked.load(std::memory_order_acquire) == 0) return Reply::Answered;
    const timespec look = after(kLookMs);
    const timespec& until = before(look, deadline) ? look : deadline;
    if (::sem_clockwait(&answered, CLOCK_MONOTONIC, &until) == 0 || errno == EINTR) continue;
    const bool gone = !alive(tid);
    if (!gone && &until == &look) continue;
    pid_t unanswered = tid;
    if (asked.compare_exchange_strong(unanswered, 0)) return gone ? Reply::Gone : Reply::Silent;
    // Its handler is writing the answer: that ends soon, unless the thread was stopped
    // right then; the next sampler then finds the buffer still taken.
    if (started) return Reply::Silent;
    started = true;
    deadline = after(kAnswerFinishMs);
  }
}

// Thread `tid`'s return addresses into `sampledFrames`.
Reply ask(pid_t tid, int sig) {
  constexpr timespec kPause{0, 500000};
  for (long pauses = 0; blocks(tid, sig); ++pauses) {
    if (!alive(tid)) return Reply::Gone;
    if (pauses == kLookMs * 2) return Reply::Silent;
    ::nanosleep(&kPause, nullptr);
  }
  asked.store(tid, std::memory_order_release);
  if (::tgkill(::getpid(), tid, sig) != 0) {
    const Reply reply = errno == ESRCH ? Reply::Gone : Reply::Silent;
    asked.store(0);
    return reply;
  }
  return awaitAnswer(tid);
}

// Whether thread `tid` holds the module's code, or could not tell.
bool threadHolds(pid_t tid, int sig, const link_map* target) {
  switch (ask(tid, sig)) {
  case Reply::Gone:
    return false;
  case Reply::Silent:
    return true;
  case Reply::Answered:
    break;
  }
  const auto count = static_cast<std::size_t>(sampledCount > 0 ? sampledCount : 0);
  return count >= kMostFrames || inModule(sampledFrames, count, target);
}

struct StackBounds {
  const char* low = nullptr;
  const char* top = nullptr;
};

// The calling thread's own stack; empty when unknown. Asked once per thread (for
// the main thread the system reads the process's maps).
StackBounds stackBounds() {
  // Aligned for the leak checker's sake: see currentAssignment in the toolkit's reader.
  alignas(64) thread_local const StackBounds bounds = [] {
    pthread_attr_t attributes;
    if (::pthread_getattr_np(::pthread_self(), &attributes) != 0) return StackBounds{};
    void* low = nullptr;
    std::size_t size = 0;
    const bool known = ::pthread_attr_getstack(&attributes, &low, &size) == 0;
    ::pthread_attr_destroy(&attributes);
    if (!known) return StackBounds{};
    return StackBounds{static_cast<char*>(low), static_cast<char*>(low) + size};
  }();
  return bounds;
}

// The highest candidate when the words could not be read: the walk goes to the end.
constexpr std::uintptr_t kUnread = UINTPTR_MAX;

// The address of the highest word of the live stack, from `from` up, that holds
// an address in [first, last]: nothing when no word does, kUnread when the stack
// is not the thread's own (an alternate signal stack, say). The words of other
// frames are read as they are, padding included.
__attribute__((no_sanitize("address"))) std::optional<std::uintptr_t>
highestWordIn(const char* from, std::uintptr_t first, std::uintptr_t last) {
  const auto [low, top] = stackBounds();
  if (top == nullptr || from < low || from >= top) return kUnread;
  const auto* word = reinterpret_cast<const std::uintptr_t*>(
      reinterpret_cast<std::uintptr_t>(from) & ~(sizeof(std::uintptr_t) - 1));
  const auto* end = reinterpret_cast<const std::uintptr_t*>(top);
  const std::uintptr_t span = last - first;
  // Without branches, so the compiler keeps it tight: the last hit is the highest.
  std::uintptr_t highest = 0;
  for (; word < end; ++word)
    highest = *word - first <= span ? reinterpret_cast<std::uintptr_t>(word) : highest;
  if (highest == 0) return std::nullopt;
  return highest;
}

// The program headers as the module's first page holds them, where every
// linker puts them (right after the file header, in the first segment, mapped
// from the file's start); nothing for a module laid out otherwise.
std::span<const ElfW(Phdr)> headersInFirstPage(const dl_find_object& found) {
  constexpr std::size_t kPage = 4096;
  const auto* start = static_cast<const unsigned char*>(found.dlfo_map_start);
  const auto* end = static_cast<const unsigned char*>(found.dlfo_map_end);
  if (end - start < static_cast<std::ptrdiff_t>(kPage)) return {};
  ElfW(Ehdr) header;
  std::memcpy(&header, start, sizeof header);
  const std::size_t tableSize = std::size_t{header.e_phnum} * sizeof(ElfW(Phdr));
  if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
      header.e_phentsize != sizeof(ElfW(Phdr)) || header.e_phoff % alignof(ElfW(Phdr)) != 0 ||
      header.e_phoff > kPage || tableSize > kPage - header.e_phoff)
    return {};
  return {reinterpret_cast<const ElfW(Phdr)*>(start + header.e_phoff), header.e_phnum};
}

// The lowest and highest address of the module's executable segments, the only
// places a return address can lead; nothing when they cannot be told. The
// loader's list of objects is walked only for a module laid out unlike any
// linker's.
std::optional<std::pair<std::uintptr_t, std::uintptr_t>> codeOf(const link_map* target,
                                                                const dl_find_object& found) {
  struct Code {
    std::uintptr_t first = UINTPTR_MAX;
    std::uintptr_t last = 0;
    void add(std::uintptr_t base, std::span<const ElfW(Phdr)> headers) {
      for (const ElfW(Phdr) & h : headers)
        if (h.p_type == PT_LOAD && (h.p_flags & PF_X) != 0 && h.p_memsz > 0) {
          first = std::min<std::uintptr_t>(first, base + h.p_vaddr);
          last = std::max<std::uintptr_t>(last, base + h.p_vaddr + h.p_memsz - 1);
        }
    }
  } code;
  if (const auto headers = headersInFirstPage(found); !headers.empty()) {
    code.add(target->l_addr, headers);
  } else {
    struct Search {
      const link_map* target;
      Code* code;
    } search{target, &code};
    ::dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* data) {
          auto* s = static_cast<Search*>(data);
          if (info->dlpi_addr != s->target->l_addr || info->dlpi_name != s->target->l_name)
            return 0;
          s->code->add(info->dlpi_addr, {info->dlpi_phdr, info->dlpi_phnum});
          return 1;
        },
        &search);
  }
  if (code.first > code.last) return std::nullopt;
  return std::pair{code.first, code.last};
}

// Where the highest word of the calling thread's live stack that may be a
// return address into the module lies; nothing when no word points into its
// code. Unwinding costs far more than reading the words, and is left for the
// stacks this cannot clear; a word that points to the module's data (a class
// record left in a frame, say) needs none.
std::optional<std::uintptr_t> highestCandidate(const link_map* target) {
  // Read from this frame up: the callee frames below hold the addresses asked about.
  const char* here = static_cast<const char*>(__builtin_frame_address(0));
  dl_find_object found{};
  if (target->l_ld == nullptr || ::_dl_find_object(target->l_ld, &found) != 0 ||
      found.dlfo_link_map != target)
    return kUnread;
  const auto code = codeOf(target, found);
  if (!code) return kUnread;
  return highestWordIn(here, code->first, code->second);
}

// Whether a frame of the calling thread runs the module's code. The walk ends
// once a frame lies wholly above `highest`: the frames beyond return to addresses
// read from words higher up still (return address slots, or the context a signal
// saved), none of which leads into the module.
bool unwindFindsModule(const link_map* target, std::uintptr_t highest) {
  struct Walk {
    const link_map* target;
    std::uintptr_t highest;
    bool found = false;
    int frames = 0;
  } walk{target, highest};
  ::_Unwind_Backtrace(
      [](_Unwind_Context* context, void* data) {
        auto* w = static_cast<Walk*>(data);
        void* const ip[] = {reinterpret_cast<void*>(_Unwind_GetIP(context))};
        if (ip[0] == nullptr) return _URC_END_OF_STACK;
        if (inModule(ip, 1, w->target) || ++w->frames >= kMostFrames) {
          w->found = true;
          return _URC_END_OF_STACK;
        }
        // The walk's CFA here is the callee's: the lowest address of this frame.
        return _Unwind_GetCFA(context) > w->highest ? _URC_END_OF_STACK : _URC_NO_REASON;
      },
      &walk);
  return walk.found;
}

} // namespace

bool ModuleCodeOnStack(void* module) {
  const link_map* target = LinkMapOf(module);
  if (target == nullptr) return false;
  const std::optional<std::uintptr_t> highest = highestCandidate(target);
  return highest && unwindFindsModule(target, *highest);
}

int ThreadSamplingSignal() {
  static const int sig = installSampler();
  return sig;
}

bool ModuleCodeOnAnyThread(void* module) {
  return ModuleCodeOnStack(module) || ModuleCodeOnOtherThreads(module);
}

bool ModuleCodeOnOtherThreads(void* module) {
  const link_map* target = LinkMapOf(module);
  if (target == nullptr) return false;
  // No thread was ever started: nothing else to ask, and nothing to set up.
  if (__libc_single_threaded) return false;
  const int sig = ThreadSamplingSignal();
  static std::mutex samplers;
  const std::lock_guard lock(samplers);
  const std::optional<std::vector<pid_t>> others = otherThreads();
  if (!others) return true;
  if (others->empty()) return false;
  if (sig == 0 || asked.load(std::memory_order_acquire) != 0) return true;
  for (const pid_t tid : *others)
    if (threadHolds(tid, sig, target)) return true;
  return false;
}

} // namespace kelvarin
