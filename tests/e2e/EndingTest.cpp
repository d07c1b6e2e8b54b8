// How tavlo ends when its user does not close it: asked to stop by a signal, or
// brought down by a plug-in. Either way the log tells what happened.
#include "TavloSandbox.h"

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

TEST(EndingTest, CrashInAPluginCommandIsTheLogsLastEntry) {
  const rlimit noCore{0, 0};
  ::setrlimit(RLIMIT_CORE, &noCore);
  TavloSandbox box;
  std::filesystem::copy_file(KELVARIN_FIXTURE_DIR "/Commander.kel", box.path("Commander.kel"));
  const TavloRun run = box.run("load Commander\n"
                               "exec Commander Crash\n"
                               "close\n");
  EXPECT_EQ(run.signal, SIGSEGV);
  const std::vector<std::string> entries = LogEntries(run.log);
  ASSERT_GE(entries.size(), 3u) << run.log;
  EXPECT_EQ(
      entries[entries.size() - 2],
      "MANAGER              C  Executing command \"Crash\" of plugin \"Commander.kel\" with 0 "
      "arguments...");
  const std::regex last("MANAGER              E  Program ended by signal SIGSEGV at address "
                        "0x[0-9a-f]+ in module \"Commander.kel\" \\(plugin \"Commander\"\\)\\.");
  EXPECT_TRUE(std::regex_match(entries.back(), last)) << entries.back();
  EXPECT_TRUE(EveryLineEndsWithCrLf(run.log));
}

} // namespace
