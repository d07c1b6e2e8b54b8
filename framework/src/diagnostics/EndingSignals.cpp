#include "kelvarin/EndingSignals.h"

#include "AlternateStacks.h"
#include "CrashRecord.h"
#include "DumpFile.h"
#include "FrameworkAccess.h"
#include "ManagerOperation.h"
#include "RunningCode.h"
#include "kelvarin/Log.h"
#include "kelvarin/manager.h"
#include "kelvarin/plugin.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <execinfo.h>
#include <fcntl.h>
#include <keltk/Application.h>
#include <keltk/Backend.h>
#include <keltk/Forms.h>
#include <thread>
#include <ucontext.h>
#include <unistd.h>

namespace kelvarin {

namespace {

constexpr int kTerminations[] = {SIGTERM, SIGINT, SIGHUP};
constexpr int kCrashes[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
int wakePipe[2] = {-1, -1};

const char* signalName(int sig) {
  switch (sig) {
  case SIGSEGV:
    return "SIGSEGV";
  case SIGBUS:
    return "SIGBUS";
  case SIGILL:
    return "SIGILL";
  case SIGFPE:
    return "SIGFPE";
  case SIGABRT:
    return "SIGABRT";
  default:
    return "a signal";
  }
}

// A text assembled in a fixed buffer, for the signal handler.
class FixedText {
public:
  void add(std::string_view s) {
    const std::size_t n = std::min(s.size(), sizeof text_ - 1 - size_);
    std::memcpy(text_ + size_, s.data(), n);
    size_ += n;
  }
  void addHex(std::uintptr_t value) {
    char digits[2 + 2 * sizeof value];
    std::size_t n = 0;
    do {
      digits[n++] = "0123456789abcdef"[value & 0xF];
      value >>= 4;
    } while (value != 0);
    add("0x");
    while (n > 0)
      add(std::string_view(&digits[--n], 1));
  }
  std::string_view view() const { return {text_, size_}; }
  void clear() { size_ = 0; }

private:
  char text_[8192];
  std::size_t size_ = 0;
};

enum class Register { ProgramCounter, StackPointer };

std::uintptr_t registerOf(void* context, Register which) {
  const auto* uc = static_cast<const ucontext_t*>(context);
  if (uc == nullptr) return 0;
  const bool pc = which == Register::ProgramCounter;
#if defined(__x86_64__)
  return static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[pc ? REG_RIP : REG_RSP]);
#elif defined(__aarch64__)
  return static_cast<std::uintptr_t>(pc ? uc->uc_mcontext.pc : uc->uc_mcontext.sp);
#else
  return 0;
#endif
}

// The file mappings of the process and the end of the stack in use, read from
// /proc/self/maps with plain system calls into fixed tables (the loader's own
// lookups take locks).
struct Mapping {
  std::uintptr_t low = 0;
  std::uintptr_t high = 0;
  std::size_t pathAt = 0;
  std::size_t pathSize = 0;
  bool executable = false;
};

class Mappings {
public:
  void read(std::uintptr_t stackPointer) {
    count_ = 0;
    pathsUsed_ = 0;
    stackEnd_ = 0;
    const int fd = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    std::size_t kept = 0;
    for (;;) {
      const ssize_t n = ::read(fd, buffer_ + kept, sizeof buffer_ - kept);
      if (n <= 0) break;
      const std::size_t size = kept + static_cast<std::size_t>(n);
      std::size_t start = 0;
      for (std::size_t i = 0; i < size; ++i) {
        if (buffer_[i] != '\n') continue;
        note(std::string_view(buffer_ + start, i - start), stackPointer);
        start = i + 1;
      }
      kept = size - start;
      if (kept == sizeof buffer_) kept = 0; // a line longer than the buffer
      std::memmove(buffer_, buffer_ + start, kept);
    }
    ::close(fd);
  }

  // The file name of the mapping that holds `address`; empty when none does.
  std::string_view moduleAt(std::uintptr_t address, bool executableOnly = false) const {
    for (std::size_t i = 0; i < count_; ++i) {
      const Mapping& m = table_[i];
      if (address < m.low || address >= m.high || (executableOnly && !m.executable)) continue;
      const std::string_view path(paths_ + m.pathAt, m.pathSize);
      return path.substr(path.rfind('/') + 1);
    }
    return {};
  }

  // Where the file mapped at `address` starts: its first mapping, which holds
  // the file's start (0 when no file is mapped there).
  std::uintptr_t baseOf(std::uintptr_t address) const {
    for (std::size_t i = 0; i < count_; ++i) {
      if (address < table_[i].low || address >= table_[i].high) continue;
      while (i > 0 && table_[i - 1].pathAt == table_[i].pathAt)
        --i;
      return table_[i].low;
    }
    return 0;
  }

  // The end of the stack mapping that holds the stack pointer given to read().
  std::uintptr_t stackEnd() const { return stackEnd_; }

private:
  void note(std::string_view line, std::uintptr_t stackPointer) {
    std::size_t at = 0;
    auto hex = [&] {
      std::uintptr_t v = 0;
      for (; at < line.size(); ++at) {
        const char c = line[at];
        const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (d < 0) break;
        v = v * 16 + static_cast<std::uintptr_t>(d);
      }
      ++at;
      return v;
    };
    const std::uintptr_t low = hex();
    const std::uintptr_t high = hex();
    if (stackPointer >= low && stackPointer < high) stackEnd_ = high;
    const std::size_t slash = line.find('/');
    if (slash == std::string_view::npos || count_ == std::size(table_)) return;
    const std::string_view path = line.substr(slash);
    Mapping m{low, high, pathsUsed_, path.size(), at + 2 < line.size() && line[at + 2] == 'x'};
    // The mappings of one file come one after the other: its name is kept once.
    if (count_ > 0 &&
        std::string_view(paths_ + table_[count_ - 1].pathAt, table_[count_ - 1].pathSize) == path) {
      m.pathAt = table_[count_ - 1].pathAt;
    } else {
      if (pathsUsed_ + path.size() > sizeof paths_) return;
      std::memcpy(paths_ + pathsUsed_, path.data(), path.size());
      pathsUsed_ += path.size();
    }
    table_[count_++] = m;
  }

  char buffer_[8192];
  Mapping table_[4096];
  std::size_t count_ = 0;
  char paths_[256 * 1024];
  std::size_t pathsUsed_ = 0;
  std::uintptr_t stackEnd_ = 0;
};

// The C and C++ runtime (and the sanitizers' runtimes that stand in for parts
// of it) only carry out what other code asked for (abort, an exception nobody
// catches): a crash there is told by the code that called them.
bool isRuntime(std::string_view module) {
  constexpr std::string_view runtimes[] = {"libc.so",  "libstdc++.so", "libgcc_s.so",
                                           "ld-linux", "libasan.so",   "libubsan.so"};
  for (const std::string_view runtime : runtimes)
    if (module.starts_with(runtime)) return true;
  return false;
}

// Whether the code just before `address` is a call, as it is before a return
// address (x86-64: E8 rel32, or FF /2 through a register or memory operand).
// Function pointers and other code addresses on the stack are not.
bool followsCall(const Mappings& maps, std::uintptr_t address) {
  constexpr std::uintptr_t kLongestCall = 7;
  if (address < kLongestCall || maps.moduleAt(address - kLongestCall, true).empty()) return false;
  const auto* code = reinterpret_cast<const unsigned char*>(address);
  if (code[-5] == 0xE8) return true;
  for (std::uintptr_t length = 2; length <= kLongestCall; ++length)
    if (code[-static_cast<std::ptrdiff_t>(length)] == 0xFF &&
        ((code[1 - static_cast<std::ptrdiff_t>(length)] >> 3) & 7) == 2)
      return true;
  return false;
}

// The first return address on the stack into code other than the runtime's. The
// stack is read word by word, since frames need not keep a frame pointer.
std::uintptr_t firstCallerOutsideRuntime(const Mappings& maps, std::uintptr_t stackPointer) {
  constexpr std::uintptr_t kMostScanned = 1024 * 1024;
  const std::uintptr_t end = std::min(maps.stackEnd(), stackPointer + kMostScanned);
  for (std::uintptr_t at = stackPointer & ~(sizeof(std::uintptr_t) - 1);
       at + sizeof(std::uintptr_t) <= end; at += sizeof(std::uintptr_t)) {
    const std::uintptr_t word = *reinterpret_cast<const std::uintptr_t*>(at);
    const std::string_view module = maps.moduleAt(word, true);
    if (!module.empty() && !isRuntime(module) && followsCall(maps, word)) return word;
  }
  return 0;
}

// The same through the unwinder, which steps over the signal frame and reads the
// runtime's frames as they are, where a word on the stack may be a stale return
// address. From the interrupted frame (`pc`) on; 0 when the unwinder cannot get
// there (a stack it cannot read).
std::uintptr_t unwoundCallerOutsideRuntime(const Mappings& maps, std::uintptr_t pc) {
  static void* frames[256];
  const int count = ::backtrace(frames, static_cast<int>(std::size(frames)));
  int at = 0;
  while (at < count && reinterpret_cast<std::uintptr_t>(frames[at]) != pc)
    ++at;
  for (; at < count; ++at) {
    const auto address = reinterpret_cast<std::uintptr_t>(frames[at]);
    const std::string_view module = maps.moduleAt(address, true);
    if (!module.empty() && !isRuntime(module)) return address;
  }
  return 0;
}

// The plug-in of a live manager whose module file is `shortName`.
const TulmKel* pluginOfModule(std::string_view shortName) {
  for (const auto& slot : LogsForCrash()) {
    const TLog* log = slot.load(std::memory_order_acquire);
    if (log == nullptr || log->Manager() == nullptr) continue;
    const TulmKelMan* manager = log->Manager();
    for (int i = manager->GetPluginCount() - 1; i >= 0; --i)
      if (const TulmKel* p = manager->GetPlugins(i);
          p != nullptr && p->ShortFileName() == shortName)
        return p;
  }
  return nullptr;
}

CodePlace placeOf(const Mappings& maps, std::uintptr_t address) {
  if (const std::optional<CodePlace> known = KnownModulePlaceOf(address)) return *known;
  // Not one of the plug-ins (the host, a library): the file's first mapping is
  // where a position-independent file's addresses start.
  return {maps.moduleAt(address), address - maps.baseOf(address)};
}

// Static, so that nothing needs constructing (or locking) in the handler.
Mappings mappings;

// What the handler found: written to the logs, and told on standard error.
struct CrashFacts {
  int signal = 0;
  std::uintptr_t address = 0;
  CodePlace place;
  const TulmKel* plugin = nullptr;
};

CrashFacts findCrash(int sig, void* context) {
  std::uintptr_t pc = registerOf(context, Register::ProgramCounter);
  const std::uintptr_t stackPointer = registerOf(context, Register::StackPointer);
  mappings.read(stackPointer);
  bool returnAddress = false;
  if (pc != 0 && isRuntime(mappings.moduleAt(pc))) {
    std::uintptr_t caller = unwoundCallerOutsideRuntime(mappings, pc);
    if (caller == 0) caller = firstCallerOutsideRuntime(mappings, stackPointer);
    returnAddress = caller != 0;
    if (returnAddress) pc = caller;
  }
  // A return address may follow a call that never returns, at the very end of
  // its function: the offset is the call's own, whose line addr2line then names.
  CrashFacts facts{sig, pc, pc == 0 ? CodePlace{} : placeOf(mappings, pc - (returnAddress ? 1 : 0)),
                   nullptr};
  if (!facts.place.module.empty()) facts.plugin = pluginOfModule(facts.place.module);
  return facts;
}

// "Commander.kel+0x1a2b"
void addPlace(FixedText& text, const CodePlace& place) {
  text.add(place.module);
  text.add("+");
  text.addHex(place.offset);
}

void describeCrash(const CrashFacts& facts, FixedText& text) {
  text.add("Program ended by signal ");
  text.add(signalName(facts.signal));
  text.add(" at address ");
  text.addHex(facts.address);
  if (facts.place.module.empty()) {
    text.add(" outside any module.");
    return;
  }
  text.add(" (");
  addPlace(text, facts.place);
  text.add(") in module \"");
  text.add(facts.place.module);
  text.add("\"");
  if (facts.plugin != nullptr) {
    text.add(" (plugin \"");
    text.add(facts.plugin->DeepName());
    text.add("\")");
  }
  text.add(".");
}

// One line where the user looks, since the shell only says that it crashed:
// "tavlo: ended by signal SIGSEGV in plugin "Notes" (Notes.kel+0x1a2b); details
// in the log /home/me/tavlo.kel.log"
void tellCrash(const CrashFacts& facts, const char* logFile, FixedText& text) {
  text.add(program_invocation_short_name);
  text.add(": ended by signal ");
  text.add(signalName(facts.signal));
  if (facts.place.module.empty()) {
    text.add(" at address ");
    text.addHex(facts.address);
  } else {
    text.add(facts.plugin != nullptr ? " in plugin \"" : " in module \"");
    text.add(facts.plugin != nullptr ? std::string_view(facts.plugin->DeepName())
                                     : facts.place.module);
    text.add("\" (");
    addPlace(text, facts.place);
    text.add(")");
  }
  if (logFile != nullptr) {
    text.add("; details in the log ");
    text.add(logFile);
  }
  text.add("\n");
  WriteAll(STDERR_FILENO, text.view().data(), text.view().size());
}

FixedText crashText;

void onCrash(int sig, siginfo_t*, void* context) {
  const CrashFacts facts = findCrash(sig, context);
  describeCrash(facts, crashText);
  // The first log written is the one named; the next record reuses its buffer.
  static char logFile[4096];
  logFile[0] = '\0';
  for (const auto& slot : LogsForCrash()) {
    TLog* log = slot.load(std::memory_order_acquire);
    const char* written =
        log != nullptr ? FrameworkAccess::writeCrashRecord(*log, crashText.view()) : nullptr;
    if (written == nullptr || logFile[0] != '\0') continue;
    const std::size_t size = std::min(std::strlen(written), sizeof logFile - 1);
    std::memcpy(logFile, written, size);
    logFile[size] = '\0';
  }
  crashText.clear();
  tellCrash(facts, logFile[0] != '\0' ? logFile : nullptr, crashText);
  // The handler was reset on entry: the signal, raised again, ends the process
  // as it would have without us (exit status, core dump).
  ::raise(sig);
}

// Set by the first termination signal, in its handler.
std::atomic<bool> closeAsked{false};
static_assert(std::atomic<bool>::is_always_lock_free, "read in a signal handler");
bool closeStarted = false;

// The second signal does not wait for anything: the default action, now. The
// signal is blocked while its handler runs, so it is unblocked first.
void endNow(int sig) {
  ::signal(sig, SIG_DFL);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, sig);
  pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  ::raise(sig);
}

void onTermination(int sig) {
  if (closeAsked.exchange(true)) endNow(sig);
  const int saved = errno;
  const auto byte = static_cast<unsigned char>(sig);
  [[maybe_unused]] const ssize_t n = ::write(wakePipe[1], &byte, 1);
  errno = saved;
}

// Closes the main form as its user would once nothing waits on the stack that the
// close would free: no manager operation and no modal loop. Until then each idle
// step tries again; the application ends with the form.
void closeWhenFree() {
  if (closeStarted || !closeAsked.load()) return;
  if (ManagerOperation::Active()) return;
  if (const keltk::TGuiBackend* backend = keltk::GuiBackend(); backend && backend->inModalLoop())
    return;
  closeStarted = true;
  keltk::TApplication* app = keltk::Application();
  if (keltk::TForm* form = app->MainForm()) form->Close();
  app->Terminate();
}

// Carries the close out at idle steps: also without a window system, where nothing
// can be posted, and after whatever held it up has returned.
class IdleClose : public keltk::TObject {
public:
  void install() {
    keltk::Application()->AddIdleHandler(keltk::TIdleEvent::bind<&IdleClose::onIdle>(this));
  }

private:
  void onIdle(keltk::TObject*, bool&) { closeWhenFree(); }
};

// Waits for termination signals outside the handler, where the event loop can be
// woken to close the host. Without a window system the idle steps find the request.
// The sampling signal stays open: a thread that cannot be asked for its stack
// would hold every module in memory.
void watchTerminations() {
  sigset_t all;
  sigfillset(&all);
  if (const int sampling = ThreadSamplingSignal(); sampling != 0) sigdelset(&all, sampling);
  pthread_sigmask(SIG_BLOCK, &all, nullptr);
  for (;;) {
    unsigned char sig = 0;
    const ssize_t n = ::read(wakePipe[0], &sig, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    if (keltk::TGuiBackend* backend = keltk::GuiBackend()) (void)backend->post(closeWhenFree);
  }
}

void install(const int* signals, std::size_t count, struct sigaction& action) {
  for (std::size_t i = 0; i < count; ++i)
    ::sigaction(signals[i], &action, nullptr);
}

} // namespace

void HandleEndingSignals() {
  static bool done = false;
  if (done) return;
  done = true;
  PrepareForCrash();

  // Stacks of their own, so that a stack overflow is recorded too, on any thread.
  GiveThreadsAlternateStacks();

  struct sigaction crash {};
  crash.sa_sigaction = onCrash;
  crash.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
  sigemptyset(&crash.sa_mask);
  install(kCrashes, std::size(kCrashes), crash);

  if (::pipe2(wakePipe, O_CLOEXEC) != 0) return;
  static IdleClose idleClose;
  idleClose.install();
  std::thread(watchTerminations).detach();
  struct sigaction termination {};
  termination.sa_handler = onTermination;
  termination.sa_flags = SA_RESTART;
  sigemptyset(&termination.sa_mask);
  install(kTerminations, std::size(kTerminations), termination);
}

} // namespace kelvarin
