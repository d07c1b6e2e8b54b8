// The activity log: recording an entry against a bare {fmt} line, the closing
// dump against a plain buffered stream, and the memory an entry holds.
#include <benchmark/benchmark.h>
#include <cstdio>
#include <fmt/format.h>
#include <keltk/SysUtils.h>
#include <kelvarin/kelvarin.h>
#include <malloc.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using kelvarin::TulmKelMan;

// 60 characters, as the memory goal counts them.
const std::string kMessage = "Plugin Loaded: \"Splash\" (\"/opt/host/plugins/Splash.kel\").xyz";
constexpr int kDumpEntries = 1'000'000;

std::string scratchFile(const char* name) {
  return fmt::format("/tmp/kelvarin-bench-{}-{}", ::getpid(), name);
}

keltk::ObjectPtr<TulmKelMan> quietManager() {
  keltk::ObjectPtr<TulmKelMan> manager(keltk::CreateObject<TulmKelMan>(nullptr));
  manager->Log()->SetDumpFile(scratchFile("log"));
  manager->Log()->SetDumpOn(kelvarin::doClosingManager);
  return manager;
}

void BM_LogIt(benchmark::State& state) {
  auto manager = quietManager();
  kelvarin::TKelMethodResult result;
  for (auto _ : state) {
    manager->LogIt(kMessage, kelvarin::lkAction, result);
    benchmark::DoNotOptimize(result);
  }
  manager->Log()->SetDumpOn(kelvarin::doNever); // no closing dump of what was measured
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogIt)->Iterations(1'000'000);

// The same once the process records crashes: what crash safety costs each entry
// (goal: within 5% of BM_LogIt).
void BM_LogItCrashSafe(benchmark::State& state) {
  kelvarin::HandleEndingSignals();
  BM_LogIt(state);
}
BENCHMARK(BM_LogItCrashSafe)->Iterations(1'000'000);

void BM_LogLineFloor(benchmark::State& state) {
  const std::string stamp =
      keltk::FormatDateTime("yyyy/mm/dd hh:nn:ss.zzz", std::chrono::system_clock::now());
  std::vector<std::string> lines;
  lines.reserve(static_cast<std::size_t>(state.max_iterations));
  for (auto _ : state) {
    lines.push_back(fmt::format(" {}  {:<20} {}  {}", stamp, "MANAGER", 'A', kMessage));
    benchmark::DoNotOptimize(lines.back().data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogLineFloor)->Iterations(1'000'000);

// A log holding a million entries, none dumped yet.
keltk::ObjectPtr<TulmKelMan> filledManager() {
  auto manager = quietManager();
  for (int i = 1; i < kDumpEntries; ++i)
    (void)manager->LogIt(kMessage, kelvarin::lkAction);
  return manager;
}

void BM_ClosingDump1M(benchmark::State& state) {
  const std::string file = scratchFile("dump");
  std::size_t bytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::remove(file.c_str());
    auto manager = filledManager();
    manager->Log()->SetDumpFile(file);
    state.ResumeTiming();
    manager->DumpStats();
    state.PauseTiming();
    manager->Log()->SetDumpOn(kelvarin::doNever);
    manager.reset();
    std::FILE* f = std::fopen(file.c_str(), "rb");
    std::fseek(f, 0, SEEK_END);
    bytes = static_cast<std::size_t>(std::ftell(f));
    std::fclose(f);
    state.ResumeTiming();
  }
  std::remove(file.c_str());
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes) * state.iterations());
}
BENCHMARK(BM_ClosingDump1M)->Iterations(5)->Unit(benchmark::kMillisecond);

void BM_FwriteFloor1M(benchmark::State& state) {
  const std::string file = scratchFile("floor");
  std::vector<std::string> lines;
  {
    auto manager = filledManager();
    const kelvarin::TLogEntries& entries = manager->Log()->Entries();
    for (std::size_t i = 0; i < entries.Count(); ++i)
      lines.emplace_back(entries[i]);
    manager->Log()->SetDumpOn(kelvarin::doNever);
  }
  std::size_t bytes = 0;
  for (auto _ : state) {
    std::FILE* f = std::fopen(file.c_str(), "wb");
    bytes = 0;
    for (const std::string& line : lines) {
      std::fwrite(line.data(), 1, line.size(), f);
      std::fwrite("\r\n", 1, 2, f);
      bytes += line.size() + 2;
    }
    std::fclose(f);
  }
  std::remove(file.c_str());
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes) * state.iterations());
}
BENCHMARK(BM_FwriteFloor1M)->Iterations(5)->Unit(benchmark::kMillisecond);

std::size_t heapInUse() {
  const struct mallinfo2 info = ::mallinfo2();
  return info.uordblks + info.hblkhd;
}

// Bytes the heap holds per recorded entry, against the bytes of the line itself.
void BM_LogMemory1M(benchmark::State& state) {
  for (auto _ : state) {
    auto manager = quietManager();
    ::malloc_trim(0);
    const std::size_t before = heapInUse();
    for (int i = 1; i < kDumpEntries; ++i)
      (void)manager->LogIt(kMessage, kelvarin::lkAction);
    const std::size_t after = heapInUse();
    const kelvarin::TLogEntries& entries = manager->Log()->Entries();
    const double perEntry = static_cast<double>(after - before) / (kDumpEntries - 1);
    const double lineBytes = static_cast<double>(entries.Last().size());
    state.counters["bytes_per_entry"] = perEntry;
    state.counters["line_bytes"] = lineBytes;
    state.counters["ratio"] = perEntry / lineBytes;
    manager->Log()->SetDumpOn(kelvarin::doNever);
  }
}
BENCHMARK(BM_LogMemory1M)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
