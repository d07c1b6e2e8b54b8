// How tavlo ends when its user does not close it: asked to stop by a signal, or
// brought down by a plug-in. Either way the log tells what happened.
#include "TavloSandbox.h"

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <sys/resource.h>

using namespace e2e;

namespace {

const std::string kScript = "load Splash\n"
                            "exec \"Splash Screen\" Startup_Gauge 0 3\n"
                            "wait 60000\n"
                            "close\n";

TEST(EndingTest, TerminationSignalsCloseTheHostNormally) {
  TavloSandbox box;
  std::ofstream(box.path("wait.tavlo"), std::ios::binary) << kScript;
  for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
    const TavloRun run =
        box.runWith({"--script", box.path("wait.tavlo")}, 60000, sig, "Startup_Gauge: OK");
    EXPECT_EQ(run.signal, 0) << sig;
    // Closed normally, but before the script's last lines: a script run that
    // did not finish ends with 1 and says where it stopped.
    EXPECT_EQ(run.exitCode, 1) << sig;
    EXPECT_NE(run.err.find("the main form was closed before this line ran"), std::string::npos)
        << run.err;
    const std::vector<std::string> entries = LogEntries(run.log);
    ASSERT_GE(entries.size(), 2u) << run.log;
    EXPECT_EQ(entries[entries.size() - 2],
              "MANAGER              A  Plugin Unloaded: \"Splash Screen\" (\"Splash.kel\").");
    EXPECT_EQ(entries.back(), "MANAGER              A  Manager Closed Normally.");
    EXPECT_NE(run.log.find(" STATISTICS: "), std::string::npos);
  }
}

// The form's close handler finds the plug-in's code running and can only queue
// it; the form and its manager go at the next idle step, and the plug-in with them.
TEST(EndingTest, APluginCommandThatClosesTheHostIsUnloadedWithIt) {
  TavloSandbox box;
  std::filesystem::copy_file(KELVARIN_FIXTURE_DIR "/Commander.kel", box.path("Commander.kel"));
  const TavloRun run = box.run("load Commander\n"
                               "exec Commander CloseHost\n");
  EXPECT_EQ(run.signal, 0);
  const std::vector<std::string> entries = LogEntries(run.log);
  ASSERT_GE(entries.size(), 3u) << run.log;
  EXPECT_EQ(entries[entries.size() - 2],
            "MANAGER              A  Plugin Unloaded: \"Commander\" (\"Commander.kel\").");
  EXPECT_EQ(entries.back(), "MANAGER              A  Manager Closed Normally.");
}

// A plug-in that took the idle hook, left a form with its handler, a component of
// its class, a thread in its code, a toolkit timer ticking into it and Qt timers:
// the unload clears and frees what it left, the script goes on, nothing of it
// runs again and nothing crashes.
TEST(EndingTest, WhatAnUnloadedPluginLeftBehindIsClearedAndNeverRuns) {
  TavloSandbox box;
  std::filesystem::copy_file(KELVARIN_FIXTURE_DIR "/Leaver.kel", box.path("Leaver.kel"));
  const TavloRun run = box.run("load Leaver\nunload-all\nwait 1200\nload DoNothing\nclose\n");
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out.find("Leaver's"), std::string::npos) << run.out;
  const std::vector<std::string> entries = LogEntries(run.log);
  const auto at = [&](std::string_view line) {
    return std::find(entries.begin(), entries.end(), line) - entries.begin();
  };
  const auto cleared =
      at("MANAGER              E  Cleared what plugin \"Leaver.kel\" left behind: "
         "Application.OnIdle, LeftForm.OnClose, LeftTimer.OnTimer, Leftover freed.");
  const auto unloaded = at("MANAGER              A  Plugin Unloaded: \"Leaver\" (\"Leaver.kel\").");
  const auto next =
      at("MANAGER              A  Plugin Loaded: \"kelDoNothing\" (\"DoNothing.kel\").");
  EXPECT_LT(cleared, unloaded) << run.log;
  EXPECT_LT(unloaded, next) << run.log;
  EXPECT_LT(next, static_cast<std::ptrdiff_t>(entries.size())) << run.log;
}

std::size_t occurrences(std::string_view text, std::string_view part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string_view::npos; at = text.find(part, at + 1))
    ++n;
  return n;
}

// The host of docs/gui-host.md, asked to end by signals at awkward moments.
struct SignalCase {
  const char* name;
  std::vector<std::string> args;
  std::vector<SignalStep> steps;
  int signal;                       // the signal that ended it, 0: it ended on its own
  const char* out;                  // all it printed
  std::vector<std::string> entries; // the whole log; empty: none written
};

TEST(EndingTest, SignalsWaitForTheManagerAndASecondOneEndsAtOnce) {
  const std::vector<SignalCase> cases = {
      {"the load's message box is up: the close waits for it",
       {"--dismiss-box-after", "300", "Missing"},
       {{"box shown", SIGTERM}},
       0,
       "box shown\nform alive after the loads\n",
       {"MANAGER              A  Manager Ready.",
        "MANAGER              E  Error $E016:  Plugin not found: \"Missing.kel\"",
        "MANAGER              A  Canceling Loading Of Plugin: \"Missing.kel\".",
        "MANAGER              A  Unloading Plugins...",
        "MANAGER              E  Error $E01A:  No plugins loaded yet.",
        "MANAGER              A  Manager Closed Normally."}},
      {"no window system: the first signal closes at the next idle step",
       {"--no-window", "DoNothing"},
       {{"running", SIGTERM}},
       0,
       "form alive after the loads\nrunning\n",
       {"MANAGER              A  Manager Ready.",
        "MANAGER              A  Loading Plugin: \"DoNothing.kel\"...",
        "MANAGER              A  Plugin Loaded: \"kelDoNothing\" (\"DoNothing.kel\").",
        "MANAGER              A  Unloading Plugins...",
        "MANAGER              A  Unloading Plugin: \"Do Nothing\" (\"DoNothing.kel\")...",
        "MANAGER              A  Plugin Unloaded: \"Do Nothing\" (\"DoNothing.kel\").",
        "MANAGER              A  Manager Closed Normally."}},
      {"a second signal while the close waits: killed by it",
       {"Missing"},
       {{"box shown", SIGTERM}, {"box shown", SIGINT}},
       SIGINT,
       "box shown\n",
       {}},
  };
  TavloSandbox box;
  box.replaceProgram(KELVARIN_SIGNAL_HOST);
  for (const SignalCase& c : cases) {
    SCOPED_TRACE(c.name);
    const TavloRun run = box.runWith(c.args, 20000, c.steps);
    EXPECT_EQ(run.signal, c.signal);
    EXPECT_EQ(run.exitCode, c.signal == 0 ? 0 : -1);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(LogEntries(run.log), c.entries) << run.log;
    if (c.entries.empty()) continue;
    EXPECT_EQ(occurrences(run.log, " STATISTICS: "), 1u) << "the log is written once";
  }
}

// A plug-in command that brings the host down: the crash record is the log's last
// entry, names the plug-in's module even where the program ended in the C or C++
// runtime, and goes where a normal close would have put the log. Standard error
// names the plug-in and that log, and the module's offset leads addr2line to the
// plug-in's source.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

struct CrashCase {
  const char* command;
  int signal;
  bool ownLogBlocked; // the log next to the program cannot be written
  Link link = Link::AsBuilt;
};

TEST(EndingTest, CrashInAPluginCommandIsTheLogsLastEntry) {
  const rlimit noCore{0, 0};
  ::setrlimit(RLIMIT_CORE, &noCore);
  const std::vector<CrashCase> cases = {
      {"Crash", SIGSEGV, false},
      {"Abort", SIGABRT, false},
      {"ThrowOnThread", SIGABRT, false},
      {"Crash", SIGSEGV, true},
      // A thread the plug-in started overflows its stack: the handler needs one of
      // its own on that thread, however the program links the framework.
      {"OverflowOnThread", SIGSEGV, false, Link::Static},
      {"OverflowOnThread", SIGSEGV, false, Link::Shared},
  };
  for (const CrashCase& c : cases) {
    SCOPED_TRACE(std::string(c.command) + (c.ownLogBlocked ? ", own log blocked" : "") +
                 (c.link == Link::Shared ? ", shared" : ""));
    TavloSandbox box(c.link);
    std::filesystem::copy_file(KELVARIN_FIXTURE_DIR "/Commander.kel", box.path("Commander.kel"));
    // A fresh home without ~/.local/state: the fallback's folders do not exist yet.
    box.environment = {"HOME=" + box.path("home"), "XDG_STATE_HOME="};
    std::filesystem::create_directory(box.path("home"));
    if (c.ownLogBlocked) std::filesystem::create_directory(box.path("tavlo.kel.log"));
    TavloRun run =
        box.run(std::string("load Commander\nexec Commander ") + c.command + "\nclose\n");
    EXPECT_EQ(run.signal, c.signal);
    const std::string logFile =
        box.path(c.ownLogBlocked ? "home/.local/state/kelvarin/tavlo.kel.log" : "tavlo.kel.log");
    if (c.ownLogBlocked) run.log = box.readLog(logFile);
    const std::vector<std::string> entries = LogEntries(run.log);
    ASSERT_GE(entries.size(), 3u) << run.log;
    EXPECT_EQ(entries[entries.size() - 2],
              std::string("MANAGER              C  Executing command \"") + c.command +
                  "\" of plugin \"Commander.kel\" with 0 arguments...");
    // Under AddressSanitizer its runtime stands between the plug-in and the C
    // runtime and leaves code addresses of the program on the stack: there only
    // the signal of a crash in the runtime is checked.
    const bool throughRuntime = c.signal == SIGABRT && kSanitized;
    const std::string signal = c.signal == SIGSEGV ? "SIGSEGV" : "SIGABRT";
    const std::regex last("MANAGER              E  Program ended by signal " + signal +
                          " at address 0x[0-9a-f]+ " +
                          (throughRuntime ? ".*"
                                          : "\\(Commander\\.kel\\+(0x[0-9a-f]+)\\) in module "
                                            "\"Commander.kel\" \\(plugin \"Commander\"\\)\\."));
    std::smatch place;
    EXPECT_TRUE(std::regex_match(entries.back(), place, last)) << entries.back();
    EXPECT_TRUE(EveryLineEndsWithCrLf(run.log));
    if (throughRuntime) continue;
    const std::vector<std::string> err = Lines(run.err);
    ASSERT_FALSE(err.empty());
    EXPECT_EQ(err.back(), "tavlo: ended by signal " + signal +
                              " in plugin \"Commander\" (Commander.kel+" + place[1].str() +
                              "); details in the log " + logFile);
    EXPECT_NE(runCommand("addr2line -i -e " + box.path("Commander.kel") + " " + place[1].str())
                  .output.find("Commander.cpp:"),
              std::string::npos);
  }
}

} // namespace
