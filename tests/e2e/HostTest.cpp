// The sample host as its user meets it: the main form's button and edit, the
// close that unloads everything and writes the log, and the script that drives it.
#include "TavloSandbox.h"

#include <array>
#include <cstdio>
#include <gtest/gtest.h>
#include <memory>

using namespace e2e;

namespace {

const std::string kSplash = "\"Splash Screen\"";

std::string exportedSymbols(const std::string& file) {
  const std::string command = "nm -D --defined-only '" + file + "'";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  std::string text;
  std::array<char, 256> buffer{};
  while (pipe && fgets(buffer.data(), buffer.size(), pipe.get()) != nullptr)
    text += buffer.data();
  return text;
}

} // namespace

TEST(HostTest, ProgramExportsGetPluginInfoAndNothingElseOfItsCode) {
  std::vector<std::string> names;
  for (const std::string& line : Lines(exportedSymbols(KELVARIN_TAVLO))) {
    const std::size_t blank = line.rfind(' ');
    if (blank == std::string::npos) continue;
    const std::string type = line.substr(line.find(' ') + 1, 1);
    // The linker's own markers of the data segment's ends are not code.
    if (type == "B" || type == "D") continue;
    names.push_back(line.substr(blank + 1));
  }
  EXPECT_EQ(names, std::vector<std::string>{"GetPluginInfo"});
}

TEST(HostTest, ScriptedSessionWritesTheExactLog) {
  TavloSandbox box;
  const TavloRun run = box.run("# a whole session\n"
                               "load Splash\n"
                               "exec " +
                               kSplash +
                               " Startup_Gauge 0 3\n"
                               "\n"
                               "exec " +
                               kSplash +
                               " Increment_Gauge \"First step\"\n"
                               "exec " +
                               kSplash +
                               " Increment_Gauge Nope Extra\n"
                               "exec " +
                               kSplash +
                               " Hide_Splash\n"
                               "load Missing\n"
                               "close\n");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(Lines(run.out), (std::vector<std::string>{
                                "Startup_Gauge: OK",
                                "Increment_Gauge: OK",
                                "Increment_Gauge: Error $E024:  Invalid number of parameters for "
                                "command \"Increment_Gauge\", plugin \"Splash.kel\": 2 (1 params "
                                "required).",
                                "Hide_Splash: OK",
                            }));
  const std::string rule(145, '=');
  const std::string tilde(145, '~');
  const std::string stamp = " yyyy/mm/dd hh:nn:ss.zzz  ";
  ExpectLines(
      run.log,
      (std::vector<std::string>{
          "",
          rule,
          " Kelvarin Log File  -  yyyy/mm/dd hh:nn:ss   HOST: <DIR>/tavlo",
          std::string(145, '-'),
          stamp + "Origin Of Entry     Knd: [A=Action E=Error C=Command M=Message U=User]",
          rule,
          "",
          stamp + "MANAGER              A  Manager Ready.",
          stamp + "MANAGER              A  Loading Plugin: \"Splash.kel\"...",
          stamp + "Splash Screen        A  Context assumed from host application (was distinct).",
          stamp + "MANAGER              A  Plugin Loaded: \"kelSplash\" (\"Splash.kel\").",
          stamp + "MANAGER              C  Executing command \"Startup_Gauge\" of plugin "
                  "\"Splash.kel\" with 2 arguments...",
          stamp + "MANAGER              C  Executing command \"Increment_Gauge\" of plugin "
                  "\"Splash.kel\" with 1 argument...",
          stamp + "MANAGER              E  Error $E024:  Invalid number of parameters for "
                  "command \"Increment_Gauge\", plugin \"Splash.kel\": 2 (1 params required).",
          stamp + "MANAGER              C  Executing command \"Hide_Splash\" of plugin "
                  "\"Splash.kel\" with 0 arguments...",
          stamp + "MANAGER              E  Error $E016:  Plugin not found: \"Missing.kel\"",
          stamp + "MANAGER              A  Canceling Loading Of Plugin: \"Missing.kel\".",
          stamp + "MANAGER              A  Unloading Plugins...",
          stamp + "MANAGER              A  Unloading Plugin: \"Splash Screen\" (\"Splash.kel\")...",
          stamp + "MANAGER              A  Original context restored (was changed).",
          stamp + "MANAGER              A  Plugin Unloaded: \"Splash Screen\" (\"Splash.kel\").",
          stamp + "MANAGER              A  Manager Closed Normally.",
          "",
          "",
          tilde,
          " STATISTICS: ",
          "     10 Actions      66.67%  ooooooooooooooooooooooooooooooooo",
          "      2 Errors       13.33%  ooooooo",
          "      3 Commands     20.00%  oooooooooo",
          "      0 Messages      0.00%  ",
          "      0 User Msgs     0.00%  ",
          "     15 TOTAL ITEMS          oooooooooooooooooooooooooooooooooooooooooooooooooo",
          tilde,
          "",
      }));
  EXPECT_TRUE(EveryLineEndsWithCrLf(run.log));
}
