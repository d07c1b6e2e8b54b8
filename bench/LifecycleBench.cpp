// The cost of a plug-in's whole life through the manager, against the bare
// operating-system cycle of the same module; and the same life while a thousand
// other plug-ins are loaded. Measure in a Release build; the ratios are reported
// as counters of the manager benchmarks (against the raw cycle measured first in
// the same run).
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <keltk/Application.h>
#include <kelvarin/PluginModule.h>
#include <kelvarin/kelvarin.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace kelvarin;

std::string fixture(const char* name) {
  return std::string(KELVARIN_FIXTURE_DIR) + "/" + name + ".kel";
}

// A new handle on the library of the Minimal module's dependencies that defines
// `symbol`.
void* holdLibraryOf(const char* symbol) {
  void* probe = ::dlopen(fixture("Minimal").c_str(), RTLD_NOW | RTLD_LOCAL);
  void* held = nullptr;
  Dl_info info{};
  if (probe != nullptr) {
    void* address = ::dlsym(probe, symbol);
    if (address != nullptr && ::dladdr(address, &info) != 0)
      held = ::dlopen(info.dli_fname, RTLD_NOW | RTLD_LOCAL);
    ::dlclose(probe);
  }
  return held;
}

// The toolkit runtime module stays loaded once a manager has loaded a plug-in
// that uses it; the raw cycle gets the same footing.
void keepToolkitModule() {
  static void* module = holdLibraryOf("_ZN5keltk11ApplicationEv");
  benchmark::DoNotOptimize(module);
}

// With argument 1 the shared framework library stays loaded during the run (as
// it does while any other plug-in is loaded), so that a cycle does not include
// loading and starting it.
struct FrameworkHold {
  explicit FrameworkHold(bool hold)
      : library(hold ? holdLibraryOf("_ZN8kelvarin19InitializeFrameworkEv") : nullptr) {}
  ~FrameworkHold() {
    if (library != nullptr) ::dlclose(library);
  }
  void* library;
};

TulmKelMan* newManager(const char* dumpName) {
  auto* manager = keltk::CreateObject<TulmKelMan>(nullptr);
  manager->Log()->SetDumpFile(std::string("/tmp/") + dumpName + "-" + std::to_string(::getpid()) +
                              ".kel.log");
  manager->Log()->SetDumpOn(doNever);
  return manager;
}

// Zeroes the stack below the caller, outside any timing. A raw cycle leaves the
// module's entry point there, and frames of the harness made later take that
// memory over: each unload through the manager would then find a word leading
// into the module's code and unwind its stack to clear it, a cost of the raw
// cycle that no host which does not map the module itself pays.
[[gnu::noinline]] void clearStackBelow() {
  char dead[64 * 1024];
  ::explicit_bzero(dead, sizeof dead);
}

// One raw cycle: map the module, look up both entry points, make and free the
// plug-in object, unmap. Not inlined, so that what it leaves on the stack lies
// below its caller, where clearStackBelow reaches.
[[gnu::noinline]] void rawCycle(const std::string& path) {
  void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  auto factory = reinterpret_cast<TRegisterKelvarinFunc>(::dlsym(module, "RegisterKelvarin"));
  benchmark::DoNotOptimize(::dlsym(module, "GetPluginInfo"));
  keltk::FreeObject(factory());
  ::dlclose(module);
}

// One cycle through the manager; false when the load or the unload failed.
bool managedCycle(TulmKelMan& manager, const std::string& path) {
  TulmKel* plugin = nullptr;
  const bool loaded = manager.LoadPlugin(path, &plugin).Success;
  const bool unloaded = manager.UnloadPlugin(plugin).Success;
  return loaded && unloaded;
}

// Nanoseconds per call of `body`, timed by hand, so that the ratios have a base
// even when only some benchmarks are selected.
template <class Body> double nsPerRound(Body&& body, int rounds = 300) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < rounds; ++i)
    body();
  const auto elapsed = std::chrono::steady_clock::now() - start;
  return std::chrono::duration<double, std::nano>(elapsed).count() / rounds;
}

// The ratio of `body` to `base`, timed in short alternating blocks and taken as
// the median of the blocks' ratios: a shared machine's speed drifts within a
// run by more than the difference measured, and neighbouring blocks see the same.
template <class Body, class Base> double medianRatio(Body&& body, Base&& base) {
  constexpr int blocks = 101;
  constexpr int rounds = 20;
  std::vector<double> ratios;
  ratios.reserve(blocks);
  for (int i = 0; i < blocks; ++i) {
    const double measured = nsPerRound(body, rounds);
    ratios.push_back(measured / nsPerRound(base, rounds));
    clearStackBelow();
  }
  std::nth_element(ratios.begin(), ratios.begin() + blocks / 2, ratios.end());
  return ratios[blocks / 2];
}

void BM_RawDlopenCycle(benchmark::State& state) {
  keepToolkitModule();
  const FrameworkHold hold(state.range(0) != 0);
  const std::string path = fixture("Minimal");
  for (auto _ : state)
    rawCycle(path);
  clearStackBelow();
}

// Whatever the caller holds loaded stays loaded here too.
double measureRawCycle() {
  keepToolkitModule();
  const std::string path = fixture("Minimal");
  const double ns = nsPerRound([&] { rawCycle(path); });
  clearStackBelow();
  return ns;
}

void cycle(benchmark::State& state, TulmKelMan& manager, const std::string& path) {
  for (auto _ : state)
    if (!managedCycle(manager, path)) state.SkipWithError("load failed");
}

double cycleNs(TulmKelMan& manager, const std::string& path) {
  return nsPerRound([&] { managedCycle(manager, path); });
}

void BM_LoadUnloadCycle(benchmark::State& state) {
  const FrameworkHold hold(state.range(0) != 0);
  keltk::ObjectPtr<TulmKelMan> manager(newManager("cycle"));
  const std::string path = fixture("Minimal");
  cycle(state, *manager, path);
  // Against the raw cycle in the same process, with the same libraries held.
  keepToolkitModule();
  state.counters["vs_raw"] =
      medianRatio([&] { managedCycle(*manager, path); }, [&] { rawCycle(path); });
}

void BM_LoadUnloadWith1000Loaded(benchmark::State& state) {
  keltk::ObjectPtr<TulmKelMan> manager(newManager("crowd"));
  const std::string path = fixture("Minimal");
  const std::string crowd = fixture("Crowd");
  // The base: the same cycle with one other plug-in loaded, which keeps the
  // framework library loaded as the thousand do.
  if (!manager->LoadPlugin(crowd).Success) state.SkipWithError("crowd load failed");
  const double base = cycleNs(*manager, path);
  for (int i = 1; i < 1000; ++i)
    if (!manager->LoadPlugin(crowd).Success) state.SkipWithError("crowd load failed");
  cycle(state, *manager, path);
  const double crowded = cycleNs(*manager, path);
  state.counters["vs_cycle"] = crowded / base;
}

// The first load of a file the process has not seen: its trial load in a
// process of its own comes first. Each round loads a new copy (a new inode).
void BM_FirstLoadOfANewFile(benchmark::State& state) {
  const FrameworkHold hold(true);
  keltk::ObjectPtr<TulmKelMan> manager(newManager("first"));
  const std::string source = fixture("Minimal");
  const std::string copy = "/tmp/kelvarin-first-load-" + std::to_string(::getpid()) + ".kel";
  const auto fresh = [&] {
    ::unlink(copy.c_str());
    const std::string command = "cp '" + source + "' '" + copy + "'";
    return std::system(command.c_str()) == 0;
  };
  for (auto _ : state) {
    state.PauseTiming();
    if (!fresh()) state.SkipWithError("copy failed");
    state.ResumeTiming();
    if (!managedCycle(*manager, copy)) state.SkipWithError("load failed");
  }
  ::unlink(copy.c_str());
  const double raw = measureRawCycle();
  double total = 0;
  constexpr int rounds = 20;
  for (int i = 0; i < rounds; ++i) {
    if (!fresh()) break;
    const auto start = std::chrono::steady_clock::now();
    managedCycle(*manager, copy);
    total +=
        std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
  }
  ::unlink(copy.c_str());
  state.counters["vs_raw"] = total / rounds / raw;
}

} // namespace

BENCHMARK(BM_RawDlopenCycle)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LoadUnloadCycle)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LoadUnloadWith1000Loaded)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FirstLoadOfANewFile)->Unit(benchmark::kMicrosecond)->Iterations(30);

BENCHMARK_MAIN();
