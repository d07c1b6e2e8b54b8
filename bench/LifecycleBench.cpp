// The cost of a plug-in's whole life through the manager, against the bare
// operating-system cycle of the same module; and the same life while a thousand
// other plug-ins are loaded. Measure in a Release build; the ratios are reported
// as counters of the manager benchmarks (against the raw cycle measured first in
// the same run).
#include <benchmark/benchmark.h>
#include <chrono>
#include <dlfcn.h>
#include <keltk/Application.h>
#include <kelvarin/PluginModule.h>
#include <kelvarin/kelvarin.h>
#include <string>
#include <unistd.h>

namespace {

using namespace kelvarin;

std::string fixture(const char* name) {
  return std::string(KELVARIN_FIXTURE_DIR) + "/" + name + ".kel";
}

// The toolkit runtime module stays loaded once a manager has loaded a plug-in
// that uses it; the raw cycle gets the same footing.
void keepToolkitModule() {
  static void* module = [] {
    void* probe = ::dlopen(fixture("Minimal").c_str(), RTLD_NOW | RTLD_LOCAL);
    Dl_info info{};
    void* keep = nullptr;
    if (probe != nullptr) {
      void* symbol = ::dlsym(probe, "_ZN5keltk11ApplicationEv");
      if (symbol != nullptr && ::dladdr(symbol, &info) != 0)
        keep = ::dlopen(info.dli_fname, RTLD_NOW | RTLD_LOCAL);
      ::dlclose(probe);
    }
    return keep;
  }();
  benchmark::DoNotOptimize(module);
}

TulmKelMan* newManager(const char* dumpName) {
  auto* manager = keltk::CreateObject<TulmKelMan>(nullptr);
  manager->Log()->SetDumpFile(std::string("/tmp/") + dumpName + "-" + std::to_string(::getpid()) +
                              ".kel.log");
  manager->Log()->SetDumpOn(doNever);
  return manager;
}

void BM_RawDlopenCycle(benchmark::State& state) {
  keepToolkitModule();
  const std::string path = fixture("Minimal");
  for (auto _ : state) {
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    auto info = reinterpret_cast<TGetPluginInfoFunc>(::dlsym(module, "GetPluginInfo"));
    auto factory = reinterpret_cast<TRegisterKelvarinFunc>(::dlsym(module, "RegisterKelvarin"));
    benchmark::DoNotOptimize(info);
    keltk::FreeObject(factory());
    ::dlclose(module);
  }
}

// The raw cycle once more, timed by hand, so that the ratios have a base even
// when only the manager benchmarks are selected.
double measureRawCycle() {
  keepToolkitModule();
  const std::string path = fixture("Minimal");
  constexpr int rounds = 300;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < rounds; ++i) {
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    auto factory = reinterpret_cast<TRegisterKelvarinFunc>(::dlsym(module, "RegisterKelvarin"));
    benchmark::DoNotOptimize(::dlsym(module, "GetPluginInfo"));
    keltk::FreeObject(factory());
    ::dlclose(module);
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  return std::chrono::duration<double, std::nano>(elapsed).count() / rounds;
}

void cycle(benchmark::State& state, TulmKelMan& manager, const std::string& path) {
  for (auto _ : state) {
    TulmKel* plugin = nullptr;
    if (!manager.LoadPlugin(path, &plugin).Success) state.SkipWithError("load failed");
    manager.UnloadPlugin(plugin);
  }
}

double cycleNs(TulmKelMan& manager, const std::string& path) {
  constexpr int rounds = 300;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < rounds; ++i) {
    TulmKel* plugin = nullptr;
    manager.LoadPlugin(path, &plugin);
    manager.UnloadPlugin(plugin);
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  return std::chrono::duration<double, std::nano>(elapsed).count() / rounds;
}

void BM_LoadUnloadCycle(benchmark::State& state) {
  keltk::ObjectPtr<TulmKelMan> manager(newManager("cycle"));
  const std::string path = fixture("Minimal");
  cycle(state, *manager, path);
  // Ratios from back-to-back runs, so that both see the same machine load.
  const double raw = measureRawCycle();
  const double managed = cycleNs(*manager, path);
  state.counters["vs_raw"] = managed / raw;
}

void BM_LoadUnloadWith1000Loaded(benchmark::State& state) {
  keltk::ObjectPtr<TulmKelMan> manager(newManager("crowd"));
  const std::string path = fixture("Minimal");
  const double base = cycleNs(*manager, path); // nothing else loaded yet
  const std::string crowd = fixture("Crowd");
  for (int i = 0; i < 1000; ++i)
    if (!manager->LoadPlugin(crowd).Success) state.SkipWithError("crowd load failed");
  cycle(state, *manager, path);
  const double crowded = cycleNs(*manager, path);
  state.counters["vs_cycle"] = crowded / base;
}

} // namespace

BENCHMARK(BM_RawDlopenCycle)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LoadUnloadCycle)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LoadUnloadWith1000Loaded)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
