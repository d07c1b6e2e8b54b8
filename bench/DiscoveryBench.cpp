// Describing a folder of 1,000 plug-in modules against the least that reading
// their metadata costs: each file's ELF header, section table, section names and
// metadata section read with pread, nothing parsed. And the time from the rename
// of a new build over a loaded plug-in to the plug-in answering from it.
#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <keltk/QtBackend.h>
#include <kelvarin/Discovery.h>
#include <kelvarin/kelvarin.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int kModules = 1000;
constexpr int kSettle = 100;

std::string fixture(const char* name) {
  return std::string(KELVARIN_FIXTURE_DIR) + "/" + name + ".kel";
}

// A folder of kModules modules: links to one fixture, so that the folder costs
// no disk space and both readers find the same bytes in the page cache.
struct ModuleFolder {
  ModuleFolder() {
    std::string pattern = (fs::temp_directory_path() / "kelvarin-bench-XXXXXX").string();
    path = ::mkdtemp(pattern.data());
    const fs::path source = fs::path(path) / "source.bin";
    fs::copy_file(fixture("ReloadableA"), source);
    for (int i = 0; i < kModules; ++i) {
      const std::string name = path + "/Plugin" + std::to_string(i) + ".kel";
      files.push_back(name);
      fs::create_hard_link(source, name);
    }
  }
  ~ModuleFolder() { fs::remove_all(path); }
  std::string path;
  std::vector<std::string> files;
};

ModuleFolder& folder() {
  static ModuleFolder f;
  return f;
}

bool preadAll(int fd, void* out, std::size_t size, off_t offset) {
  return ::pread(fd, out, size, offset) == static_cast<ssize_t>(size);
}

// The floor: the reads the reader cannot do without.
std::size_t readMetadataRaw(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  std::size_t got = 0;
  unsigned char header[64];
  if (preadAll(fd, header, sizeof header, 0)) {
    std::uint64_t tableOffset;
    std::uint16_t count, names;
    std::memcpy(&tableOffset, header + 0x28, 8);
    std::memcpy(&count, header + 0x3C, 2);
    std::memcpy(&names, header + 0x3E, 2);
    std::vector<unsigned char> table(std::size_t{count} * 64);
    if (preadAll(fd, table.data(), table.size(), static_cast<off_t>(tableOffset))) {
      auto field = [&](std::size_t index, std::size_t at, auto value) {
        std::memcpy(&value, table.data() + index * 64 + at, sizeof value);
        return value;
      };
      std::vector<char> nameTable(field(names, 32, std::uint64_t{}));
      if (preadAll(fd, nameTable.data(), nameTable.size(),
                   static_cast<off_t>(field(names, 24, std::uint64_t{})))) {
        for (std::size_t i = 0; i < count; ++i) {
          const std::uint32_t name = field(i, 0, std::uint32_t{});
          if (name >= nameTable.size() ||
              std::strcmp(nameTable.data() + name, ".kelvarin.meta") != 0)
            continue;
          std::vector<char> section(field(i, 32, std::uint64_t{}));
          if (preadAll(fd, section.data(), section.size(),
                       static_cast<off_t>(field(i, 24, std::uint64_t{}))))
            got = section.size();
          break;
        }
      }
    }
  }
  ::close(fd);
  return got;
}

void BM_ReadMetadataFloor1000(benchmark::State& state) {
  const ModuleFolder& f = folder();
  for (auto _ : state) {
    std::size_t total = 0;
    for (const std::string& file : f.files)
      total += readMetadataRaw(file);
    benchmark::DoNotOptimize(total);
  }
}
BENCHMARK(BM_ReadMetadataFloor1000)->Unit(benchmark::kMillisecond);

void BM_DiscoverFolder1000(benchmark::State& state) {
  const ModuleFolder& f = folder();
  for (auto _ : state) {
    const auto list = kelvarin::DescribePluginFolder(f.path, "kel");
    if (list.size() != kModules || list.front().State != kelvarin::TPluginFileState::Loadable)
      state.SkipWithError("the folder was not described");
    benchmark::DoNotOptimize(list.data());
  }
}
BENCHMARK(BM_DiscoverFolder1000)->Unit(benchmark::kMillisecond);

bool runLoopUntil(const std::function<bool()>& done, int ms) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    QEventLoop loop;
    QTimer::singleShot(1, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return true;
}

// Rename of the other build over the loaded plug-in, to its answer from that
// build; the settle delay is included (kSettle ms).
void BM_ReloadLatency(benchmark::State& state) {
  char dir[] = "/tmp/kelvarin-reload-XXXXXX";
  const std::string path = ::mkdtemp(dir);
  const std::string file = path + "/Reloadable.kel";
  fs::copy_file(fixture("ReloadableA"), file);
  auto* manager = keltk::CreateObject<kelvarin::TulmKelMan>(nullptr);
  manager->Log()->SetDumpOn(kelvarin::doNever);
  manager->SetReloadSettleDelay(kSettle);
  if (!manager->SetReloadOnChange(true) || !manager->LoadPlugin(file).Success) {
    state.SkipWithError("cannot load and watch the plug-in");
    keltk::FreeObject(manager);
    return;
  }
  const char* builds[] = {"ReloadableA", "ReloadableB"};
  int next = 1;
  for (auto _ : state) {
    const std::string beside = file + ".new";
    fs::copy_file(fixture(builds[next]), beside, fs::copy_options::overwrite_existing);
    const std::string answer = std::string("answer ") + (next == 0 ? "A" : "B");
    const auto start = std::chrono::steady_clock::now();
    fs::rename(beside, file);
    const bool answered = runLoopUntil(
        [&] {
          kelvarin::TulmKel* plugin = manager->PluginCount() == 1 ? manager->Plugins(0) : nullptr;
          return plugin != nullptr && manager->ExecuteCommand(plugin, "Answer").Success &&
                 manager->Log()->Entries().Last().find(answer) != std::string_view::npos;
        },
        5000);
    const auto took = std::chrono::steady_clock::now() - start;
    if (!answered) {
      state.SkipWithError("the new build did not answer");
      break;
    }
    state.SetIterationTime(std::chrono::duration<double>(took).count());
    next = 1 - next;
  }
  keltk::FreeObject(manager);
  fs::remove_all(path);
}
BENCHMARK(BM_ReloadLatency)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

} // namespace

int main(int argc, char** argv) {
  if (std::getenv("DISPLAY") == nullptr && std::getenv("QT_QPA_PLATFORM") == nullptr)
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication qt(argc, argv);
  keltk::InstallQtBackend(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  keltk::UninstallQtBackend();
  return 0;
}
