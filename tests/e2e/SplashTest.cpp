// The Splash plug-in in the real host, driven as a host program drives it: its
// three commands, what the window shows, and the window closed by its user.
#include "TavloSandbox.h"

#include <QColor>
#include <QImage>
#include <algorithm>
#include <gtest/gtest.h>

using namespace e2e;

namespace {

// Script lines for the Splash plug-in, loaded under its DeepName.
std::string exec(const std::string& command, const std::string& args = "") {
  return "exec \"Splash Screen\" " + command + (args.empty() ? "" : " " + args) + "\n";
}

const std::string kLoad = "load Splash\n";
const std::string kState = "print SplashForm.Visible\n"
                           "print SplashForm.Gauge.MinValue\n"
                           "print SplashForm.Gauge.MaxValue\n"
                           "print SplashForm.Gauge.Progress\n"
                           "print SplashForm.Label_Msg.Caption\n";

std::vector<std::string> state(bool visible, int min, int max, int progress,
                               const std::string& message) {
  return {std::string("SplashForm.Visible = ") + (visible ? "True" : "False"),
          "SplashForm.Gauge.MinValue = " + std::to_string(min),
          "SplashForm.Gauge.MaxValue = " + std::to_string(max),
          "SplashForm.Gauge.Progress = " + std::to_string(progress),
          "SplashForm.Label_Msg.Caption = " + message};
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Each case runs in tavlo both with the framework inside and on the shared one.
class SplashTest : public ::testing::TestWithParam<Link> {
protected:
  // Runs the script, then closes; expects a clean end.
  TavloRun session(const std::string& script) {
    TavloRun run = box.run(script + "close\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    return run;
  }

  TavloSandbox box{GetParam()};
};

} // namespace

TEST_P(SplashTest, LoadsHiddenWithItsDesignedWindow) {
  const TavloRun run = session(kLoad + kState);
  ExpectLines(run.out, state(false, 0, 100, 50, "?"));
  const auto entries = LogEntries(run.log);
  EXPECT_NE(std::find(entries.begin(), entries.end(),
                      "MANAGER              A  Plugin Loaded: \"kelSplash\" (\"Splash.kel\")."),
            entries.end());
}

TEST_P(SplashTest, IncrementBeforeStartupFailsAndLeavesTheWindowHidden) {
  const TavloRun run = session(kLoad + exec("Increment_Gauge", "Early") + kState);
  ExpectLines(run.out, std::vector<std::string>{"Increment_Gauge: Unexpected error."} +
                           state(false, 0, 100, 50, "?"));
}

TEST_P(SplashTest, StartupShowsTheWindowAtTheMinimum) {
  const TavloRun run = session(kLoad + exec("Startup_Gauge", "0 10") + kState);
  ExpectLines(run.out, std::vector<std::string>{"Startup_Gauge: OK"} + state(true, 0, 10, 0, "?"));
}

TEST_P(SplashTest, FullGaugeRefusesAFourthIncrement) {
  const TavloRun run =
      session(kLoad + exec("Startup_Gauge", "0 3") + exec("Increment_Gauge", "One") +
              exec("Increment_Gauge", "Two") + exec("Increment_Gauge", "Three") + kState +
              exec("Increment_Gauge", "Four") + kState);
  ExpectLines(run.out, std::vector<std::string>{"Startup_Gauge: OK", "Increment_Gauge: OK",
                                                "Increment_Gauge: OK", "Increment_Gauge: OK"} +
                           state(true, 0, 3, 3, "Three") +
                           std::vector<std::string>{"Increment_Gauge: Unexpected error."} +
                           state(true, 0, 3, 3, "Three"));
}

TEST_P(SplashTest, MinimumEqualToMaximumIsFullAfterOneIncrement) {
  const TavloRun run =
      session(kLoad + exec("Startup_Gauge", "5 5") + exec("Increment_Gauge", "Only") + kState +
              exec("Increment_Gauge", "Again"));
  ExpectLines(run.out, std::vector<std::string>{"Startup_Gauge: OK", "Increment_Gauge: OK"} +
                           state(true, 5, 5, 5, "Only") +
                           std::vector<std::string>{"Increment_Gauge: Unexpected error."});
}

TEST_P(SplashTest, EmptyMessageAdvancesAndKeepsTheLastMessage) {
  const TavloRun run = session(kLoad + exec("Startup_Gauge", "0 10") +
                               exec("Increment_Gauge", "\"Reading settings\"") +
                               exec("Increment_Gauge", "\"\"") + kState);
  ExpectLines(run.out, std::vector<std::string>{"Startup_Gauge: OK", "Increment_Gauge: OK",
                                                "Increment_Gauge: OK"} +
                           state(true, 0, 10, 2, "Reading settings"));
}

TEST_P(SplashTest, HideWhileRunningKeepsTheHiddenGaugeGoing) {
  const TavloRun run =
      session(kLoad + exec("Startup_Gauge", "0 10") + exec("Increment_Gauge", "One") +
              exec("Hide_Splash") + exec("Increment_Gauge", "Two") + kState);
  ExpectLines(run.out, std::vector<std::string>{"Startup_Gauge: OK", "Increment_Gauge: OK",
                                                "Hide_Splash: OK", "Increment_Gauge: OK"} +
                           state(false, 0, 10, 2, "Two"));
}

TEST_P(SplashTest, SecondStartupRestartsAFullGauge) {
  const TavloRun run =
      session(kLoad + exec("Startup_Gauge", "0 2") + exec("Increment_Gauge", "A") +
              exec("Increment_Gauge", "B") + exec("Hide_Splash") + exec("Startup_Gauge", "1 4") +
              kState + exec("Increment_Gauge", "C") + kState);
  ExpectLines(run.out, std::vector<std::string>{"Startup_Gauge: OK", "Increment_Gauge: OK",
                                                "Increment_Gauge: OK", "Hide_Splash: OK",
                                                "Startup_Gauge: OK"} +
                           state(true, 1, 4, 1, "B") +
                           std::vector<std::string>{"Increment_Gauge: OK"} +
                           state(true, 1, 4, 2, "C"));
}

TEST_P(SplashTest, StartupTakesARangeAboveOrBelowThePreviousOne) {
  const TavloRun run =
      session(kLoad + exec("Startup_Gauge", "0 3") + exec("Startup_Gauge", "20 30") + kState +
              exec("Startup_Gauge", "-8 -2") + kState);
  ExpectLines(run.out, std::vector<std::string>{"Startup_Gauge: OK", "Startup_Gauge: OK"} +
                           state(true, 20, 30, 20, "?") +
                           std::vector<std::string>{"Startup_Gauge: OK"} +
                           state(true, -8, -2, -8, "?"));
}

TEST_P(SplashTest, UpsideDownRangeChangesNothing) {
  const TavloRun run =
      session(kLoad + exec("Startup_Gauge", "10 5") + kState + exec("Increment_Gauge", "Never"));
  ExpectLines(run.out, std::vector<std::string>{"Startup_Gauge: Unexpected error."} +
                           state(false, 0, 100, 50, "?") +
                           std::vector<std::string>{"Increment_Gauge: Unexpected error."});
}

TEST_P(SplashTest, ArgumentsAreCheckedAgainstTheDeclaredParameters) {
  const TavloRun run = session(kLoad + exec("Startup_Gauge", "0") + exec("Hide_Splash", "x") +
                               exec("Increment_Gauge", "1 2"));
  ExpectLines(run.out, {
                           "Startup_Gauge: Error $E024:  Invalid number of parameters for "
                           "command \"Startup_Gauge\", plugin \"Splash.kel\": 1 (2 params "
                           "required).",
                           "Hide_Splash: Error $E024:  Invalid number of parameters for command "
                           "\"Hide_Splash\", plugin \"Splash.kel\": 1 (0 params required).",
                           "Increment_Gauge: Error $E024:  Invalid number of parameters for "
                           "command \"Increment_Gauge\", plugin \"Splash.kel\": 2 (1 params "
                           "required).",
                       });
}

TEST_P(SplashTest, SecondLoadExceedsTheInstanceLimit) {
  const TavloRun run = session(kLoad + kLoad);
  const auto entries = LogEntries(run.log);
  EXPECT_NE(std::find(entries.begin(), entries.end(),
                      "MANAGER              E  Error $E007:  Plugin \"Splash.kel\" instances "
                      "exceed limit (maximum is 1)."),
            entries.end())
      << run.log;
  // Only the first instance is unloaded at the end.
  EXPECT_EQ(std::count(entries.begin(), entries.end(),
                       "MANAGER              A  Plugin Unloaded: \"Splash Screen\" "
                       "(\"Splash.kel\")."),
            1)
      << run.log;
}

TEST_P(SplashTest, WindowClosedByItsUserLeavesCommandsFailingAndUnloadsCleanly) {
  // The window is freed at the next idle step (the wait); the plug-in must not
  // use it afterwards.
  const TavloRun run =
      session(kLoad + exec("Startup_Gauge", "0 10") + "close-window SplashForm\nwait 50\n" +
              exec("Startup_Gauge", "0 10") + exec("Increment_Gauge", "After") +
              exec("Hide_Splash") + "unload-all\n");
  ExpectLines(run.out, {"Startup_Gauge: OK", "Startup_Gauge: Unexpected error.",
                        "Increment_Gauge: Unexpected error.", "Hide_Splash: Unexpected error."});
  const auto entries = LogEntries(run.log);
  EXPECT_NE(std::find(entries.begin(), entries.end(),
                      "MANAGER              A  Plugin Unloaded: \"Splash Screen\" "
                      "(\"Splash.kel\")."),
            entries.end())
      << run.log;
}

TEST_P(SplashTest, WindowClosedByItsUserIsUnusableAtOnceAndGoesWithThePlugin) {
  // No idle step between the close and the commands, nor before the unload: the
  // closed window still waits to be freed when its module goes.
  const TavloRun run =
      session(kLoad + exec("Startup_Gauge", "0 10") + "close-window SplashForm\n" +
              exec("Increment_Gauge", "After") + "unload-all\n" + "print Form1.Visible\n");
  ExpectLines(run.out,
              {"Startup_Gauge: OK", "Increment_Gauge: Unexpected error.", "Form1.Visible = True"});
}

TEST_P(SplashTest, ScreenshotShowsTheFinishedSplash) {
  const std::string png = box.path("splash.png");
  session(kLoad + exec("Startup_Gauge", "0 4") + exec("Increment_Gauge", "\"Loading fonts\"") +
          exec("Increment_Gauge", "\"Loading fonts\"") + "wait 50\n" + "screenshot SplashForm \"" +
          png + "\"\n");
  const QImage image(QString::fromStdString(png));
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.width(), 304);
  EXPECT_EQ(image.height(), 60);

  const QColor purple(91, 0, 91);
  // Half done: the bar's colour from the gauge's left edge to about its middle,
  // silver beyond (away from the percentage in the centre).
  auto colourAt = [&](int x, int y) { return QColor(image.pixel(x, y)); };
  EXPECT_EQ(colourAt(30, 36), purple);
  EXPECT_EQ(colourAt(110, 36), purple);
  EXPECT_EQ(colourAt(250, 36), QColor(192, 192, 192));
  // The message is drawn in the same purple (smoothed at its edges) inside the
  // label's place, on the window's grey.
  int purpleInLabel = 0;
  for (int y = 12; y < 25; ++y)
    for (int x = 20; x < 281; ++x) {
      const QColor c = colourAt(x, y);
      purpleInLabel += c.green() + 60 < c.red() && std::abs(c.red() - c.blue()) < 16 ? 1 : 0;
    }
  EXPECT_GT(purpleInLabel, 20);
  // A raised frame: light on the top-left edges, dark on the bottom-right ones.
  EXPECT_GT(colourAt(0, 30).lightness(), colourAt(303, 30).lightness());
  EXPECT_GT(colourAt(150, 0).lightness(), colourAt(150, 59).lightness());
}

INSTANTIATE_TEST_SUITE_P(BothLinks, SplashTest, ::testing::Values(Link::Static, Link::Shared),
                         [](const ::testing::TestParamInfo<Link>& info) {
                           return info.param == Link::Static ? "FrameworkInside"
                                                             : "SharedFramework";
                         });

TEST(SplashScaleTest, AFullGaugeOfAnEmptyRangeKeepsItsWholeFrameAt150Percent) {
  TavloSandbox box;
  box.environment.push_back("QT_SCALE_FACTOR=1.5");
  const std::string png = box.path("splash.png");
  const TavloRun run =
      box.run(kLoad + exec("Startup_Gauge", "5 5") + exec("Increment_Gauge", "Full") +
              "wait 50\nscreenshot SplashForm \"" + png + "\"\nclose\n");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const QImage image(QString::fromStdString(png));
  ASSERT_EQ(image.height(), 90) << "not at 150%";
  const QColor black(0, 0, 0);
  const QColor purple(91, 0, 91);
  // Down one column of the gauge: its top edge, the bar all the way (no seam),
  // its bottom edge.
  std::vector<QColor> column;
  for (int y = 28 * 3 / 2 - 2; y < (28 + 16) * 3 / 2 + 2; ++y)
    column.emplace_back(image.pixel(60, y));
  const auto top = std::find(column.begin(), column.end(), black);
  ASSERT_NE(top, column.end());
  const auto bottom = std::find(top + 1, column.end(), black);
  ASSERT_NE(bottom, column.end()) << "the bottom edge is lost";
  EXPECT_GE(bottom - top - 1, 20);
  EXPECT_TRUE(std::all_of(top + 1, bottom, [&](const QColor& c) { return c == purple; }))
      << "a seam inside the frame";
  EXPECT_EQ(QColor(image.pixel(420, 54)), purple) << "full to the right end";
}
