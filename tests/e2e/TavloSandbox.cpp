#include "TavloSandbox.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <regex>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace e2e {

namespace fs = std::filesystem;

namespace {

std::string replaceAll(std::string text, std::string_view from, std::string_view to) {
  for (std::size_t pos = text.find(from); pos != std::string::npos;
       pos = text.find(from, pos + to.size()))
    text.replace(pos, from.size(), to);
  return text;
}

std::string maskLog(std::string log, const std::string& dir) {
  static const std::regex stamp(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d(\.\d\d\d)?)");
  log = std::regex_replace(log, stamp, "yyyy/mm/dd hh:nn:ss$1");
  log = std::regex_replace(log, std::regex(R"(hh:nn:ss\.\d\d\d)"), "hh:nn:ss.zzz");
  return replaceAll(std::move(log), dir, "<DIR>");
}

// Whether `signal` was sent to the process and has not been taken yet.
bool signalPending(pid_t pid, int signal) {
  std::istringstream status(readFile("/proc/" + std::to_string(pid) + "/status"));
  for (std::string line; std::getline(status, line);)
    if (line.starts_with("ShdPnd:"))
      return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1) & 1) != 0;
  return false;
}

} // namespace

TavloSandbox::TavloSandbox(Link link) : root_("tavlo-e2e"), dir_(root_.file("bin")) {
  // An installed tree's layout: the program and plug-ins in bin find the
  // libraries in ../lib.
  fs::create_directory(dir_);
  fs::create_directory_symlink(fs::path(KELVARIN_LIBRARY_DIR), root_.file("lib"));
  const char* program = link == Link::Static   ? KELVARIN_TAVLO_STATIC
                        : link == Link::Shared ? KELVARIN_TAVLO_SHARED
                                               : KELVARIN_TAVLO;
  fs::copy_file(program, path("tavlo"));
  fs::copy_file(KELVARIN_SPLASH, path("Splash.kel"));
  fs::copy_file(KELVARIN_DONOTHING, path("DoNothing.kel"));
  fs::create_directory(path("runtime"));
  fs::permissions(path("runtime"), fs::perms::owner_all);
}

void TavloSandbox::removeFile(std::string_view name) const {
  fs::remove(path(name));
}

void TavloSandbox::replaceProgram(const std::string& program) const {
  fs::copy_file(program, path("tavlo"), fs::copy_options::overwrite_existing);
}

TavloRun TavloSandbox::run(std::string_view script, int timeoutMs) const {
  const std::string file = path("test.tavlo");
  std::ofstream(file, std::ios::binary) << script;
  return runWith({"--script", file}, timeoutMs);
}

TavloRun TavloSandbox::runWith(const std::vector<std::string>& args, int timeoutMs, int signal,
                               std::string_view whenOut) const {
  std::vector<SignalStep> steps;
  if (signal != 0) steps.push_back({std::string(whenOut), signal});
  return runWith(args, timeoutMs, std::move(steps));
}

TavloRun TavloSandbox::runWith(const std::vector<std::string>& args, int timeoutMs,
                               std::vector<SignalStep> steps) const {
  const std::string outFile = path("stdout.txt");
  const std::string errFile = path("stderr.txt");
  const std::string logFile = path("tavlo.kel.log");
  if (fs::is_regular_file(fs::symlink_status(logFile))) fs::remove(logFile);

  std::vector<std::string> argStore{path("tavlo")};
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argStore)
    argv.push_back(a.data());
  argv.push_back(nullptr);

  // The environment as it is (offscreen unless a platform is named) with a
  // private runtime folder; or with no display at all.
  std::vector<std::string> envStore;
  bool platformNamed = false;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string_view entry = *e;
    const bool display = entry.starts_with("QT_QPA_PLATFORM=") || entry.starts_with("DISPLAY=") ||
                         entry.starts_with("WAYLAND_DISPLAY=");
    // An entry of `environment` replaces the inherited one: getenv finds the first.
    const bool replaced = std::any_of(environment.begin(), environment.end(), [&](const auto& e) {
      return entry.starts_with(e.substr(0, e.find('=') + 1));
    });
    if (replaced || entry.starts_with("XDG_RUNTIME_DIR=") || (display && withoutDisplay)) continue;
    platformNamed = platformNamed || entry.starts_with("QT_QPA_PLATFORM=");
    envStore.emplace_back(entry);
  }
  if (!platformNamed && !withoutDisplay) envStore.push_back("QT_QPA_PLATFORM=offscreen");
  for (const std::string& extra : environment)
    envStore.push_back(extra);
  envStore.push_back("XDG_RUNTIME_DIR=" + path("runtime"));
  std::vector<char*> envp;
  for (std::string& e : envStore)
    envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addchdir_np(&actions, dir_.c_str());
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);

  TavloRun result;
  if (spawned != 0) {
    result.err = "spawn failed";
    return result;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  int status = 0;
  bool killed = false;
  std::size_t next = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      killed = true;
      break;
    }
    const bool previousTaken = next == 0 || !signalPending(pid, steps[next - 1].signal);
    if (next < steps.size() && previousTaken &&
        readFile(outFile).find(steps[next].whenOut) != std::string::npos)
      kill(pid, steps[next++].signal);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (!killed && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (!killed && WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  result.out = readFile(outFile);
  result.err = readFile(errFile);
  if (fs::exists(logFile)) result.log = maskLog(readFile(logFile), dir_);
  return result;
}

std::string TavloSandbox::readLog(const std::string& file) const {
  return maskLog(readFile(file), dir_);
}

bool EveryLineEndsWithCrLf(std::string_view text) {
  if (text.empty() || !text.ends_with("\r\n")) return false;
  for (std::size_t pos = text.find('\n'); pos != std::string_view::npos;
       pos = text.find('\n', pos + 1))
    if (pos == 0 || text[pos - 1] != '\r') return false;
  return true;
}

std::vector<std::string> Lines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    start = end + 1;
  }
  return lines;
}

void ExpectLines(std::string_view text, const std::vector<std::string>& expected) {
  const std::vector<std::string> actual = Lines(text);
  const std::size_t common = std::min(actual.size(), expected.size());
  for (std::size_t i = 0; i < common; ++i)
    if (actual[i] != expected[i]) {
      ADD_FAILURE() << "line " << i + 1 << " differs\n  actual:   \"" << actual[i]
                    << "\"\n  expected: \"" << expected[i] << "\"";
      return;
    }
  EXPECT_EQ(actual.size(), expected.size()) << "whole text:\n" << text;
}

std::vector<std::string> LogEntries(std::string_view log) {
  static constexpr std::string_view prefix = " yyyy/mm/dd hh:nn:ss.zzz  ";
  std::vector<std::string> entries;
  for (const std::string& line : Lines(log))
    if (line.starts_with(prefix) && line.find("Origin Of Entry") == std::string::npos)
      entries.push_back(line.substr(prefix.size()));
  return entries;
}

} // namespace e2e
