// Start-up time of tavlo against a minimal Qt Widgets program.
//
//   startup_bench [--runs N] [--tavlo PATH] [--baseline PATH] [--plugins DIR]
//
// Each round starts both programs once, in turn, and times each from the start
// of the process to its exit: tavlo with a script that loads Splash and closes
// at once (so the time covers the framework, the main form from stored data, one
// plug-in load and unload, and the log dump), the baseline showing one window and
// quitting at its first idle step. Reports the medians over N rounds (default
// 25) and their ratio; the goal is tavlo within 1.5 times the baseline.
// Without a display both run on Qt's offscreen platform.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kGoal = 1.5;

struct Options {
  int runs = 25;
  std::string tavlo = KELVARIN_BENCH_TAVLO;
  std::string baseline = KELVARIN_BENCH_BASELINE;
  std::string plugins = KELVARIN_BENCH_PLUGINS;
};

bool parse(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) return false;
    const std::string value = argv[++i];
    if (arg == "--runs")
      options.runs = std::atoi(value.c_str());
    else if (arg == "--tavlo")
      options.tavlo = value;
    else if (arg == "--baseline")
      options.baseline = value;
    else if (arg == "--plugins")
      options.plugins = value;
    else
      return false;
  }
  return options.runs >= 1;
}

// Milliseconds from spawning `argv` in `dir` to its exit; negative on failure.
double timeRun(const std::vector<std::string>& args, const std::string& dir) {
  std::vector<std::string> store = args;
  std::vector<char*> argv;
  for (std::string& a : store)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  const auto start = Clock::now();
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  const auto end = Clock::now();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return std::chrono::duration<double, std::milli>(end - start).count();
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse(argc, argv, options)) {
    std::fprintf(stderr, "usage: %s [--runs N] [--tavlo PATH] [--baseline PATH] [--plugins DIR]\n",
                 argv[0]);
    return 2;
  }
  if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr)
    setenv("QT_QPA_PLATFORM", "offscreen", 1);

  // A folder of its own: tavlo appends its log next to itself.
  std::string dir = (fs::temp_directory_path() / "tavlo-startup-XXXXXX").string();
  if (mkdtemp(dir.data()) == nullptr) return 1;
  fs::copy_file(options.tavlo, dir + "/tavlo");
  fs::copy_file(options.plugins + "/Splash.kel", dir + "/Splash.kel");
  fs::create_directory(dir + "/runtime");
  fs::permissions(dir + "/runtime", fs::perms::owner_all);
  setenv("XDG_RUNTIME_DIR", (dir + "/runtime").c_str(), 1);
  std::ofstream(dir + "/startup.tavlo") << "load Splash\nclose\n";

  const std::vector<std::string> tavlo{dir + "/tavlo", "--script", dir + "/startup.tavlo"};
  const std::vector<std::string> baseline{options.baseline};

  // One round of each first, so that both start from warm file caches.
  if (timeRun(tavlo, dir) < 0 || timeRun(baseline, dir) < 0) {
    std::fprintf(stderr, "a program did not run to a clean end\n");
    fs::remove_all(dir);
    return 1;
  }
  std::vector<double> tavloTimes, baselineTimes;
  for (int i = 0; i < options.runs; ++i) {
    const double t = timeRun(tavlo, dir);
    const double b = timeRun(baseline, dir);
    if (t < 0 || b < 0) {
      std::fprintf(stderr, "run %d did not end cleanly\n", i + 1);
      fs::remove_all(dir);
      return 1;
    }
    tavloTimes.push_back(t);
    baselineTimes.push_back(b);
  }
  fs::remove_all(dir);

  const double t = median(tavloTimes);
  const double b = median(baselineTimes);
  const double ratio = t / b;
  std::printf("start-up, median of %d runs each\n", options.runs);
  std::printf("  tavlo --script (load Splash, close)  %8.1f ms   (min %.1f, max %.1f)\n", t,
              *std::min_element(tavloTimes.begin(), tavloTimes.end()),
              *std::max_element(tavloTimes.begin(), tavloTimes.end()));
  std::printf("  minimal Qt Widgets window            %8.1f ms   (min %.1f, max %.1f)\n", b,
              *std::min_element(baselineTimes.begin(), baselineTimes.end()),
              *std::max_element(baselineTimes.begin(), baselineTimes.end()));
  std::printf("  ratio %.2f (goal: at most %.1f) %s\n", ratio, kGoal,
              ratio <= kGoal ? "met" : "NOT MET");
  return 0;
}
