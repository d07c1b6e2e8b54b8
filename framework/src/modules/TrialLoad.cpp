#include "TrialLoad.h"

#include "ModuleLoader.h"
#include "UniqueFd.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fmt/format.h>
#include <link.h>
#include <map>
#include <mutex>
#include <poll.h>
#include <set>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace kelvarin {

namespace {

constexpr const char* kTrialProgram = "kelvarin-trial-load";
// A module whose constructors never return would hold the host for good.
constexpr int kMostMilliseconds = 10000;
// What the child says on standard error that is worth quoting.
constexpr std::size_t kMostReasonBytes = 512;

// A file as it is now: another build at the same path is another file.
using FileKey = std::tuple<dev_t, ino_t, off_t, std::int64_t, long>;

FileKey keyOf(const struct stat& info) {
  return {info.st_dev, info.st_ino, info.st_size, static_cast<std::int64_t>(info.st_mtim.tv_sec),
          info.st_mtim.tv_nsec};
}

bool keyOf(const std::string& path, FileKey& key) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return false;
  key = keyOf(info);
  return true;
}

// Proven files map to "", refused ones to the reason.
std::mutex triedMutex;
std::map<FileKey, std::string>& tried() {
  static auto* files = new std::map<FileKey, std::string>;
  return *files;
}

bool executable(const std::string& path) {
  return ::access(path.c_str(), X_OK) == 0;
}

// The trial program: $KELVARIN_TRIAL_LOADER, else beside this framework copy's
// file (a host program in bin), in the bin folder next to its library folder,
// or where it was installed. Empty when none can be run.
std::string trialProgram() {
  if (const char* given = std::getenv("KELVARIN_TRIAL_LOADER"); given != nullptr && *given != 0)
    return executable(given) ? given : std::string();
  if (std::string dir = ModuleFileOf(reinterpret_cast<const void*>(&TrialLoad)); !dir.empty()) {
    dir.erase(dir.rfind('/') == std::string::npos ? 0 : dir.rfind('/'));
    if (dir.empty()) dir = ".";
    for (const char* relative : {"/", "/../bin/", "/../../bin/"})
      if (const std::string candidate = dir + relative + kTrialProgram; executable(candidate))
        return candidate;
  }
#ifdef KELVARIN_INSTALL_BINDIR
  if (const std::string installed = std::string(KELVARIN_INSTALL_BINDIR) + "/" + kTrialProgram;
      executable(installed))
    return installed;
#endif
  return {};
}

// The folders of every object this process has loaded, so that the child finds
// by name what the host already holds (a module may rely on that).
std::string loadedFolders() {
  std::set<std::string> folders;
  ::dl_iterate_phdr(
      [](dl_phdr_info* info, std::size_t, void* data) {
        const char* name = info->dlpi_name;
        if (name == nullptr || name[0] != '/') return 0;
        const std::string path = name;
        static_cast<std::set<std::string>*>(data)->insert(path.substr(0, path.rfind('/')));
        return 0;
      },
      &folders);
  std::string joined;
  for (const std::string& folder : folders)
    joined += (joined.empty() ? "" : ":") + folder;
  return joined;
}

std::vector<std::string> childEnvironment() {
  std::vector<std::string> env;
  std::string libraryPath = loadedFolders();
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    if (std::strncmp(*e, "LD_LIBRARY_PATH=", 16) == 0) {
      if ((*e)[16] != 0) libraryPath += (libraryPath.empty() ? "" : ":") + std::string(*e + 16);
      continue;
    }
    env.emplace_back(*e);
  }
  env.push_back("LD_LIBRARY_PATH=" + libraryPath);
  return env;
}

bool openPipe(UniqueFd& readEnd, UniqueFd& writeEnd) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return false;
  readEnd.reset(ends[0]);
  writeEnd.reset(ends[1]);
  return true;
}

struct Outcome {
  int status = 0;
  bool finished = false; // false: killed after the time limit
  std::string out, err;
};

// Runs `program FILE` with its output read back; the time limit covers it all.
bool runTrial(const std::string& program, const std::string& path, Outcome& outcome) {
  UniqueFd outRead, outWrite, errRead, errWrite;
  if (!openPipe(outRead, outWrite) || !openPipe(errRead, errWrite)) return false;
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  ::posix_spawn_file_actions_adddup2(&actions, outWrite.get(), 1);
  ::posix_spawn_file_actions_adddup2(&actions, errWrite.get(), 2);
  posix_spawnattr_t attributes;
  ::posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  ::posix_spawnattr_setsigmask(&attributes, &none);
  sigset_t defaults;
  sigfillset(&defaults);
  ::posix_spawnattr_setsigdefault(&attributes, &defaults);
  ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<std::string> env = childEnvironment();
  std::vector<char*> envp;
  for (std::string& e : env)
    envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string arg0 = program, arg1 = path;
  char* argv[] = {arg0.data(), arg1.data(), nullptr};
  pid_t child = -1;
  const int spawned =
      ::posix_spawn(&child, program.c_str(), &actions, &attributes, argv, envp.data());
  ::posix_spawn_file_actions_destroy(&actions);
  ::posix_spawnattr_destroy(&attributes);
  outWrite.reset();
  errWrite.reset();
  if (spawned != 0) return false;

  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kMostMilliseconds);
  pollfd fds[2] = {{outRead.get(), POLLIN, 0}, {errRead.get(), POLLIN, 0}};
  std::string* sinks[2] = {&outcome.out, &outcome.err};
  int open = 2;
  outcome.finished = true;
  while (open > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) {
      outcome.finished = false;
      ::kill(child, SIGKILL);
      break;
    }
    const int ready = ::poll(fds, 2, static_cast<int>(left));
    if (ready < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[1024];
      const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        if (sinks[i]->size() < kMostReasonBytes)
          sinks[i]->append(buffer, static_cast<std::size_t>(got));
        continue;
      }
      if (got < 0 && errno == EINTR) continue;
      fds[i].fd = -1;
      --open;
    }
  }
  outRead.reset();
  errRead.reset();
  while (::waitpid(child, &outcome.status, 0) < 0 && errno == EINTR) {
  }
  return true;
}

std::string firstLine(const std::string& text) {
  std::string line = text.substr(0, text.find('\n'));
  if (line.size() > kMostReasonBytes) line.resize(kMostReasonBytes);
  return line;
}

std::string signalName(int sig) {
  if (const char* abbrev = ::sigabbrev_np(sig); abbrev != nullptr)
    return fmt::format("SIG{}", abbrev);
  return fmt::format("signal {}", sig);
}

// The verdict on one trial: "" proven, else why not. `conclusive` is false when
// the trial says nothing about this file (the loader refused it cleanly).
std::string verdict(const Outcome& outcome, bool& conclusive) {
  conclusive = true;
  if (!outcome.finished)
    return fmt::format("a trial load of this file did not finish within {} s",
                       kMostMilliseconds / 1000);
  const int status = outcome.status;
  if (WIFSIGNALED(status))
    return fmt::format("the system loader crashed on this file ({}) in a trial load",
                       signalName(WTERMSIG(status)));
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && outcome.out.rfind("loaded", 0) == 0)
    return {};
  if (WIFEXITED(status) && WEXITSTATUS(status) == 3) {
    conclusive = false;
    return {};
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
    return "the module ended the trial process while it was being loaded";
  const std::string said = firstLine(outcome.err);
  return fmt::format("the system loader stopped on this file in a trial load (exit status {}){}",
                     WIFEXITED(status) ? WEXITSTATUS(status) : -1, said.empty() ? "" : ": " + said);
}

} // namespace

std::string TrialLoad(const std::string& path) {
  FileKey key;
  if (!keyOf(path, key)) return {};
  {
    const std::lock_guard lock(triedMutex);
    if (const auto it = tried().find(key); it != tried().end()) return it->second;
  }
  // Without a trial program the checks already made are all this process can
  // make: the file is remembered as passed, so that loading it again costs one
  // stat here too. A trial that could not start now is tried again next time.
  std::string reason;
  if (const std::string program = trialProgram(); !program.empty()) {
    Outcome outcome;
    if (!runTrial(program, path, outcome)) return {};
    bool conclusive = true;
    reason = verdict(outcome, conclusive);
    if (!conclusive) return {};
  }
  const std::lock_guard lock(triedMutex);
  tried()[key] = reason;
  return reason;
}

bool ProvenLoadable(const std::string& path, const struct stat* seen) {
  FileKey key;
  if (seen != nullptr)
    key = keyOf(*seen);
  else if (!keyOf(path, key))
    return false;
  const std::lock_guard lock(triedMutex);
  const auto it = tried().find(key);
  return it != tried().end() && it->second.empty();
}

std::string TrialLoadFailure(const struct stat& file) {
  const std::lock_guard lock(triedMutex);
  const auto it = tried().find(keyOf(file));
  return it != tried().end() ? it->second : std::string();
}

} // namespace kelvarin
