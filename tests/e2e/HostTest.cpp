// The sample host as its user meets it: the main form's button and edit, the
// close that unloads everything and writes the log, and the script that drives it.
#include "TavloSandbox.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace e2e;

namespace {

const std::string kSplash = "\"Splash Screen\"";

std::string exportedSymbols(const std::string& file) {
  return runCommand("nm -D --defined-only '" + file + "'").output;
}

std::vector<std::string> exportedCode(const char* program) {
  std::vector<std::string> names;
  for (const std::string& line : Lines(exportedSymbols(program))) {
    const std::size_t blank = line.rfind(' ');
    if (blank == std::string::npos) continue;
    const std::string type = line.substr(line.find(' ') + 1, 1);
    // The linker's own markers of the data segment's ends are not code.
    if (type == "B" || type == "D") continue;
    names.push_back(line.substr(blank + 1));
  }
  return names;
}

} // namespace

// With the framework inside, the program also stands in front of the C library's
// pthread_create (threads started anywhere get a stack for the crash handler).
TEST(HostTest, ProgramExportsGetPluginInfoAndNothingElseOfItsCode) {
  const std::vector<std::string> inside = {"GetPluginInfo", "pthread_create"};
  const std::vector<std::string> onTheLibrary = {"GetPluginInfo"};
  EXPECT_EQ(exportedCode(KELVARIN_TAVLO),
            std::string_view(KELVARIN_TAVLO) == KELVARIN_TAVLO_STATIC ? inside : onTheLibrary);
  EXPECT_EQ(exportedCode(KELVARIN_TAVLO_STATIC), inside);
  EXPECT_EQ(exportedCode(KELVARIN_TAVLO_SHARED), onTheLibrary);
}

TEST(HostTest, ScriptedSessionWritesTheExactLog) {
  TavloSandbox box(Link::Static); // with the lines of the context hand-over
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
                                "load Missing: Error $E016:  Plugin not found: \"Missing.kel\"",
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

namespace {

const std::string kReady = "MANAGER              A  Manager Ready.";
const std::string kClosed = "MANAGER              A  Manager Closed Normally.";

std::vector<std::string> entries(std::initializer_list<std::string> middle) {
  std::vector<std::string> all{kReady};
  all.insert(all.end(), middle);
  all.push_back(kClosed);
  return all;
}

// The form's close handler unloads everything, also when nothing is loaded.
std::vector<std::string> entriesClosingEmpty(std::initializer_list<std::string> middle) {
  std::vector<std::string> all{kReady};
  all.insert(all.end(), middle);
  all.push_back("MANAGER              A  Unloading Plugins...");
  all.push_back("MANAGER              E  Error $E01A:  No plugins loaded yet.");
  all.push_back(kClosed);
  return all;
}

} // namespace

TEST(HostTest, DefaultTextLoadsDoNothingFromTheProgramsFolder) {
  TavloSandbox box(Link::Static); // with the lines of the context hand-over
  const TavloRun run = box.run("print Form1.Edit_PluginName.Text\n"
                               "load DoNothing.kel\n"
                               "close\n");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ExpectLines(run.out, {"Form1.Edit_PluginName.Text = DoNothing.kel"});
  EXPECT_EQ(LogEntries(run.log),
            entries({
                "MANAGER              A  Loading Plugin: \"DoNothing.kel\"...",
                "Do Nothing           A  Context assumed from host application (was distinct).",
                "MANAGER              A  Plugin Loaded: \"kelDoNothing\" (\"DoNothing.kel\").",
                "MANAGER              A  Unloading Plugins...",
                "MANAGER              A  Unloading Plugin: \"Do Nothing\" (\"DoNothing.kel\")...",
                "MANAGER              A  Original context restored (was changed).",
                "MANAGER              A  Plugin Unloaded: \"Do Nothing\" (\"DoNothing.kel\").",
            }));
}

TEST(HostTest, HostOnTheSharedFrameworkSharesItsContextWithThePlugIns) {
  TavloSandbox box(Link::Shared);
  const TavloRun run = box.run("load DoNothing.kel\nclose\n");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(LogEntries(run.log),
            entries({
                "MANAGER              A  Loading Plugin: \"DoNothing.kel\"...",
                "MANAGER              A  Plugin Loaded: \"kelDoNothing\" (\"DoNothing.kel\").",
                "MANAGER              A  Unloading Plugins...",
                "MANAGER              A  Unloading Plugin: \"Do Nothing\" (\"DoNothing.kel\")...",
                "MANAGER              A  Plugin Unloaded: \"Do Nothing\" (\"DoNothing.kel\").",
            }));
}

TEST(HostTest, HostWithTheFrameworkInsideHandsItsContextToThePlugIns) {
  TavloSandbox box(Link::Static);
  const TavloRun run = box.run("load DoNothing.kel\nclose\n");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const auto log = LogEntries(run.log);
  EXPECT_NE(std::find(log.begin(), log.end(),
                      "Do Nothing           A  Context assumed from host application (was "
                      "distinct)."),
            log.end());
  EXPECT_NE(std::find(log.begin(), log.end(),
                      "MANAGER              A  Original context restored (was changed)."),
            log.end());
}

TEST(HostTest, DefaultTextWithoutThePlugInLogsNotFound) {
  TavloSandbox box;
  box.removeFile("DoNothing.kel");
  const TavloRun run = box.run("load DoNothing.kel\nclose\n");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(LogEntries(run.log),
            entriesClosingEmpty({
                "MANAGER              E  Error $E016:  Plugin not found: \"DoNothing.kel\"",
                "MANAGER              A  Canceling Loading Of Plugin: \"DoNothing.kel\".",
            }));
}

// A failed load prints its message and, when there is one, the reason the module
// gave no plug-in: the loader's, or the reader's for a stored form that does not
// read. An unknown command's line in the log is followed by one naming it.
TEST(HostTest, FailedLoadsAndUnknownCommandsSayWhy) {
  TavloSandbox box;
  std::ofstream(box.path("Text.kel")) << "not a module\n";
  std::filesystem::copy_file(KELVARIN_FIXTURE_DIR "/Unreadable.kel", box.path("Unreadable.kel"));
  const TavloRun run = box.run("load Text\n"
                               "load Unreadable\n"
                               "load Missing\n"
                               "load Splash\n"
                               "exec " +
                               kSplash +
                               " Walk\n"
                               "close\n");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err, ""); // a failed load is the line's answer, not a failing line
  ExpectLines(
      run.out,
      {
          "load Text: Error $E001:  Plugin \"Text.kel\" could not be loaded by Windows.",
          "  ./Text.kel: file too short",
          "load Unreadable: Unexpected error.",
          "  form of TkelMinimal: line 4, column 3: unknown property \"Colour\" of TkelMinimal",
          "load Missing: Error $E016:  Plugin not found: \"Missing.kel\"",
          "Walk: Error $E020:  Command object (index -1, plugin \"Splash.kel\") could not "
          "be accessed.",
      });
  const auto log = LogEntries(run.log);
  const auto e020 = std::find(log.begin(), log.end(),
                              "MANAGER              E  Error $E020:  Command object (index -1, "
                              "plugin \"Splash.kel\") could not be accessed.");
  ASSERT_NE(e020, log.end()) << run.log;
  ASSERT_NE(e020 + 1, log.end());
  EXPECT_EQ(e020[1], "MANAGER              E  Plugin \"Splash.kel\" has no command \"Walk\".");
}

TEST(HostTest, EmptyOrBlankTextLogsBlankName) {
  TavloSandbox box;
  const TavloRun run = box.run("load \"\"\nload \"   \"\nclose\n");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::string blank =
      "MANAGER              E  Error $E015:  Plugin FileName cannot be blank.";
  const std::string cancel = "MANAGER              A  Canceling Loading Of Plugin: \"\".";
  const std::string cancelBlank = "MANAGER              A  Canceling Loading Of Plugin: \"   \".";
  EXPECT_EQ(LogEntries(run.log), entriesClosingEmpty({blank, cancel, blank, cancelBlank}));
}

TEST(HostTest, NameWithoutExtensionGetsKel) {
  TavloSandbox box;
  const TavloRun run = box.run("load DoNothing\nclose\n");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const auto log = LogEntries(run.log);
  EXPECT_NE(
      std::find(log.begin(), log.end(),
                "MANAGER              A  Plugin Loaded: \"kelDoNothing\" (\"DoNothing.kel\")."),
      log.end())
      << run.log;
}

TEST(HostTest, ClosingUnloadsNewestFirst) {
  TavloSandbox box;
  const TavloRun run = box.run("load DoNothing\nload Splash\nclose\n");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::vector<std::string> unloads;
  for (const std::string& entry : LogEntries(run.log))
    if (entry.find("Plugin Unloaded") != std::string::npos) unloads.push_back(entry);
  EXPECT_EQ(unloads, (std::vector<std::string>{
                         "MANAGER              A  Plugin Unloaded: \"Splash Screen\" "
                         "(\"Splash.kel\").",
                         "MANAGER              A  Plugin Unloaded: \"Do Nothing\" "
                         "(\"DoNothing.kel\").",
                     }));
}

TEST(HostTest, FailingLineIsReportedAndTheFormClosesNormally) {
  TavloSandbox box(Link::Static); // with the lines of the context hand-over
  const TavloRun run = box.run("load DoNothing\n"
                               "\n"
                               "# the next line is wrong\n"
                               "frobnicate now\n"
                               "load Splash\n"
                               "close\n");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, box.path("test.tavlo") + ":4: unknown command \"frobnicate\"\n");
  // The lines after the failing one do not run; the close still unloads and dumps.
  EXPECT_EQ(LogEntries(run.log),
            entries({
                "MANAGER              A  Loading Plugin: \"DoNothing.kel\"...",
                "Do Nothing           A  Context assumed from host application (was distinct).",
                "MANAGER              A  Plugin Loaded: \"kelDoNothing\" (\"DoNothing.kel\").",
                "MANAGER              A  Unloading Plugins...",
                "MANAGER              A  Unloading Plugin: \"Do Nothing\" (\"DoNothing.kel\")...",
                "MANAGER              A  Original context restored (was changed).",
                "MANAGER              A  Plugin Unloaded: \"Do Nothing\" (\"DoNothing.kel\").",
            }));
}

TEST(HostTest, EachKindOfBadLineNamesItsReason) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"load", "usage: load NAME"},
      {"load \"Splash", "missing closing quote"},
      {"wait soon", "\"soon\" is not a number of milliseconds"},
      {"exec \"Splash Screen\" Hide_Splash", "no loaded plug-in is named \"Splash Screen\""},
      {"screenshot SplashForm out.png", "no shown window is named \"SplashForm\""},
      {"close-window Nowhere", "no shown window is named \"Nowhere\""},
      {"print Form1.Nothing", "TForm1 has no property or component \"Nothing\""},
      {"close now", "usage: close"},
  };
  TavloSandbox box;
  for (const auto& [line, reason] : cases) {
    const TavloRun run = box.run(line + "\nclose\n");
    EXPECT_EQ(run.exitCode, 1) << line;
    EXPECT_EQ(run.err, box.path("test.tavlo") + ":1: " + reason + "\n") << line;
    EXPECT_EQ(LogEntries(run.log), entriesClosingEmpty({})) << line;
  }
}

TEST(HostTest, ArgumentThatDoesNotFitItsParameterIsABadLine) {
  TavloSandbox box;
  const TavloRun run = box.run("load Splash\n"
                               "exec \"Splash Screen\" Startup_Gauge 0 ten\n"
                               "close\n");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, box.path("test.tavlo") + ":2: argument 2 (\"ten\") is not an integer\n");
  EXPECT_EQ(run.out, "");
}

TEST(HostTest, UnreadableScriptEndsAtOnce) {
  TavloSandbox box;
  const std::string huge = box.path("huge.tavlo");
  std::FILE* f = std::fopen(huge.c_str(), "w");
  std::fputs("close\n", f);
  std::fclose(f);
  ASSERT_EQ(::truncate(huge.c_str(), 2 << 20), 0);
  for (const auto& [script, why] :
       {std::pair{box.path("absent.tavlo"), "No such file or directory"},
        {box.dir(), "not a regular file"},
        {"/dev/zero", "not a regular file"},
        {huge, "larger than 1 MiB"}}) {
    const TavloRun run = box.runWith({"--script", script});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err,
              box.path("tavlo") + ": cannot read the script \"" + script + "\": " + why + "\n");
  }
}

TEST(HostTest, UnknownOptionShowsUsage) {
  TavloSandbox box;
  const TavloRun run = box.runWith({"--frob"});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find("usage:"), std::string::npos) << run.err;
}

TEST(HostTest, WithoutADisplayOnlyScriptsRunAndTheyRunOffscreen) {
  TavloSandbox box;
  box.withoutDisplay = true;
  const TavloRun help = box.runWith({"--help"});
  EXPECT_EQ(help.exitCode, 0) << help.err;
  EXPECT_NE(help.out.find("usage:"), std::string::npos);

  const TavloRun plain = box.runWith({});
  EXPECT_EQ(plain.exitCode, 1);
  EXPECT_EQ(Lines(plain.err).size(), 1u) << plain.err;
  EXPECT_NE(plain.err.find("no display"), std::string::npos) << plain.err;

  // No "close": the offscreen run closes the main form after the last line.
  const TavloRun script = box.run("load DoNothing\n", 20000);
  EXPECT_EQ(script.exitCode, 0) << script.err;
  EXPECT_NE(script.err.find("offscreen"), std::string::npos) << script.err;
}

TEST(HostTest, ScriptsAnswerMessageBoxesAndAFolderIsNoScript) {
  TavloSandbox box;
  // The plug-ins' framework copy reads this when Splash brings it in, with the
  // window system running: its missing-entry message is a box, which the
  // script answers. The program's own copy read it before any window: stderr.
  std::ofstream(box.path("ulmKELrp.ini")) << "[Dictionary]\n0001=Unknown\n";
  box.environment.push_back("KELVARIN_CONFIG_DIR=" + box.dir());
  const TavloRun boxed = box.run("load Splash\nclose\n");
  EXPECT_EQ(boxed.exitCode, 0) << boxed.err;
  EXPECT_NE(boxed.out.find("Message: Error loading Kelvarin initialization file."),
            std::string::npos)
      << boxed.out;
  EXPECT_NE(boxed.out.find("ENTRY  0002"), std::string::npos) << boxed.out;
  EXPECT_NE(boxed.err.find("ENTRY  0002"), std::string::npos) << boxed.err;

  const TavloRun folder = box.runWith({"--script", box.dir()});
  EXPECT_EQ(folder.exitCode, 1);
}

TEST(HostTest, AMainFormClosedByTheWindowManagerEndsTheScriptAtItsLine) {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform == nullptr || std::string_view(platform) != "xcb" ||
      std::system("wmctrl -m > /dev/null 2>&1") != 0)
    GTEST_SKIP() << "needs an X server with a window manager";
  TavloSandbox box;
  // As a user would, through the window manager, while the script waits.
  std::system("(sleep 2; wmctrl -c 'Sample 001 - Do Nothing') > /dev/null 2>&1 &");
  const TavloRun run = box.run("load DoNothing\nwait 30000\nclose\n");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("test.tavlo:2: the main form was closed"), std::string::npos) << run.err;
}
