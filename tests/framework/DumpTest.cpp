// The dump file: header, entries, statistics, and how it copes with files that
// exist, do not exist or cannot be written.
#include "DumpFile.h"
#include "FrameworkTestSupport.h"

#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <keltk/StrUtils.h>
#include <keltk/SysUtils.h>
#include <kelvarin/EndingSignals.h>
#include <regex>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kelvarin::test {
namespace {

const std::string kEquals(145, '=');
const std::string kDashes(145, '-');
const std::string kTildes(145, '~');
const std::string kColumns = " yyyy/mm/dd hh:nn:ss.zzz  Origin Of Entry     Knd: [A=Action E=Error "
                             "C=Command M=Message U=User]";

class DumpTest : public ::testing::Test {
protected:
  void SetUp() override {
    keltk::FormatSettings() = keltk::TFormatSettings{};
    name = dir.file("run.kel.log");
    ::setenv("XDG_STATE_HOME", dir.file("state").c_str(), 1);
  }
  void TearDown() override { ::unsetenv("XDG_STATE_HOME"); }
  std::string fallback() const { return dir.file("state/kelvarin/framework_tests.kel.log"); }
  // Checks the seven header lines starting at `at`.
  void expectHeader(const std::vector<std::string>& lines, std::size_t at) {
    ASSERT_GE(lines.size(), at + 7);
    EXPECT_EQ(lines[at], "");
    EXPECT_EQ(lines[at + 1], kEquals);
    const std::regex title(
        R"( Kelvarin Log File  -  \d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}   HOST: )" +
        std::regex_replace(RunningProgramPath(), std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)"));
    EXPECT_TRUE(std::regex_match(lines[at + 2], title)) << lines[at + 2];
    EXPECT_EQ(lines[at + 3], kDashes);
    EXPECT_EQ(lines[at + 4], kColumns);
    EXPECT_EQ(lines[at + 5], kEquals);
    EXPECT_EQ(lines[at + 6], "");
  }
  static std::string body(const std::string& line) {
    return line.size() > 24 ? line.substr(24) : line;
  }

  TempDir dir;
  std::string name;
};

TEST_F(DumpTest, WorkedExampleOfThreeActionsAndOneError) {
  {
    auto manager = makeManager(dir);
    (void)manager->LogIt("Second action", lkAction);
    (void)manager->LogIt("The error", lkError);
  } // the third action is "Manager Closed Normally."
  const std::vector<std::string> lines = crlfLines(readFile(name));
  expectHeader(lines, 0);
  ASSERT_EQ(lines.size(), 7u + 4 + 1 + 11);
  EXPECT_EQ(body(lines[7]), "  MANAGER              A  Manager Ready.");
  EXPECT_EQ(body(lines[8]), "  MANAGER              A  Second action");
  EXPECT_EQ(body(lines[9]), "  MANAGER              E  The error");
  EXPECT_EQ(body(lines[10]), "  MANAGER              A  Manager Closed Normally.");
  EXPECT_EQ(lines[11], "");
  const std::vector<std::string> statistics(lines.begin() + 12, lines.end());
  EXPECT_EQ(statistics, (std::vector<std::string>{
                            "",
                            kTildes,
                            " STATISTICS: ",
                            "      3 Actions      75.00%  " + std::string(38, 'o'),
                            "      1 Errors       25.00%  " + std::string(12, 'o'),
                            "      0 Commands      0.00%  ",
                            "      0 Messages      0.00%  ",
                            "      0 User Msgs     0.00%  ",
                            "      4 TOTAL ITEMS          " + std::string(50, 'o'),
                            kTildes,
                            "",
                        }));
  EXPECT_TRUE(readFile(name).ends_with(kTildes + "\r\n\r\n"));
}

TEST_F(DumpTest, StatisticsUseTheLocaleNumberFormat) {
  std::array<std::int32_t, kLogKindCount> counts{};
  counts[lkTotal] = 12345;
  counts[lkCommand] = 12345;
  keltk::FormatSettings().ThousandSeparator = '.';
  keltk::FormatSettings().DecimalSeparator = ',';
  const std::string block = *StatisticsBlock(counts);
  keltk::FormatSettings() = keltk::TFormatSettings{};
  const std::vector<std::string> lines = crlfLines(block);
  EXPECT_EQ(lines[5], " 12.345 Commands    100,00%  " + std::string(50, 'o'));
  EXPECT_EQ(lines[3], "      0 Actions       0,00%  ");
  EXPECT_EQ(lines[8], " 12.345 TOTAL ITEMS          " + std::string(50, 'o'));
  // A count longer than six characters widens the column for every row.
  counts[lkTotal] = 100002;
  counts[lkCommand] = 100000;
  counts[lkUser] = 2;
  const std::vector<std::string> wide = crlfLines(*StatisticsBlock(counts));
  EXPECT_EQ(wide[5], " 100,000 Commands    100.00%  " + std::string(50, 'o'));
  EXPECT_EQ(wide[7], "       2 User Msgs     0.00%  ");
  EXPECT_EQ(wide[8], " 100,002 TOTAL ITEMS          " + std::string(50, 'o'));
  EXPECT_FALSE(StatisticsBlock({}).has_value());
}

TEST_F(DumpTest, TwoRunsLeaveTwoHeaders) {
  for (const char* text : {"first run", "second run"}) {
    auto manager = makeManager(dir);
    (void)manager->LogIt(text, lkUser);
  }
  const std::vector<std::string> lines = crlfLines(readFile(name));
  const std::size_t runLength = 7 + 3 + 1 + 11; // header, entries, blank, statistics
  ASSERT_EQ(lines.size(), 2 * runLength);
  expectHeader(lines, 0);
  expectHeader(lines, runLength);
  EXPECT_EQ(body(lines[8]), "  MANAGER              U  first run");
  EXPECT_EQ(body(lines[runLength + 8]), "  MANAGER              U  second run");
  EXPECT_EQ(lines[runLength - 3], "      3 TOTAL ITEMS          " + std::string(50, 'o'));
}

TEST_F(DumpTest, EachNewItemIsInTheFileWhenLogItReturns) {
  {
    auto manager = makeManager(dir);
    manager->Log()->SetDumpOn(doEachNewItem);
    (void)manager->LogIt("one", lkUser);
    std::vector<std::string> lines = crlfLines(readFile(name));
    expectHeader(lines, 0);
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(body(lines[7]), "  MANAGER              A  Manager Ready.");
    EXPECT_EQ(body(lines[8]), "  MANAGER              U  one");
    EXPECT_EQ(lines[9], "");
    (void)manager->LogIt("two", lkUser);
    lines = crlfLines(readFile(name));
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_EQ(body(lines[10]), "  MANAGER              U  two");
    for (std::size_t i = 0; i < manager->Log()->Entries().Count(); ++i)
      EXPECT_TRUE(manager->Log()->Entries().Dumped(i));
  }
  // The closing dump adds only the statistics.
  const std::vector<std::string> lines = crlfLines(readFile(name));
  ASSERT_EQ(lines.size(), 12u + 11);
  EXPECT_EQ(body(lines[11]), "  MANAGER              A  Manager Closed Normally.");
  EXPECT_EQ(lines[12], "");
  EXPECT_EQ(lines[13], kTildes);
}

TEST_F(DumpTest, WithoutStatisticsTheEntriesAreStillWritten) {
  writeFile(name, "earlier run\r\n");
  {
    auto manager = makeManager(dir);
    manager->Log()->SetDumpStats(false);
    (void)manager->LogIt("entry", lkCommand);
  }
  const std::vector<std::string> lines = crlfLines(readFile(name));
  ASSERT_EQ(lines.size(), 1u + 7 + 3 + 1);
  EXPECT_EQ(lines[0], "earlier run");
  expectHeader(lines, 1);
  EXPECT_EQ(body(lines[9]), "  MANAGER              C  entry");
  EXPECT_EQ(lines[11], "");
}

TEST_F(DumpTest, NothingCountedMeansNoFile) {
  {
    auto manager = makeManager(dir);
    manager->Log()->SetItemsToLog({});
    manager->Log()->SetCount(lkTotal, 0);
    manager->Log()->SetCount(lkAction, 0);
  }
  EXPECT_FALSE(keltk::FileExists(name));
  {
    auto manager = makeManager(dir);
    manager->Log()->SetDumpOn(doNever);
    (void)manager->LogIt("never written", lkUser);
  }
  EXPECT_FALSE(keltk::FileExists(name));
}

TEST_F(DumpTest, PlaceholderIsReplacedOnceInAnyCase) {
  const std::string program = keltk::ChangeFileExt(RunningProgramPath(), "");
  TLog log;
  EXPECT_EQ(log.DumpFileName(), program + ".kel.log");
  log.SetDumpFile("%hostapp%.%HOSTAPP%.log");
  EXPECT_EQ(log.DumpFileName(), program + ".%HOSTAPP%.log");
  log.SetDumpFile("x%hOsTaPp%y");
  EXPECT_EQ(log.DumpFileName(), "x" + program + "y");
  log.SetDumpFile(dir.file("plain.log"));
  EXPECT_EQ(log.DumpFileName(), dir.file("plain.log"));
}

// The rule the crash record shares, into a buffer of the caller's.
TEST(DumpFileNameInto, FillsTheCallersBuffer) {
  struct Case {
    std::string_view pattern, program;
    std::optional<std::string_view> name;
  } cases[] = {
      {"%HostApp%.kel.log", "/opt/a.b/tavlo.bin", "/opt/a.b/tavlo.kel.log"},
      {"%HostApp%.log", "/opt/a.b/tavlo", "/opt/a.b/tavlo.log"},
      {"\x05HostApp%.log", "/opt/tavlo", "\x05HostApp%.log"}, // only '%' opens it
      {"plain.log", "", "plain.log"},
      {std::string_view(kEquals).substr(0, 32), "", std::nullopt}, // no room for the NUL
  };
  for (const Case& c : cases) {
    char out[32];
    const std::optional<std::size_t> size = DumpFileNameInto(c.pattern, c.program, out, sizeof out);
    ASSERT_EQ(size.has_value(), c.name.has_value()) << c.pattern;
    if (size) {
      EXPECT_EQ(std::string_view(out, *size + 1), std::string(*c.name) + '\0');
    }
  }
}

TEST_F(DumpTest, DefaultPatternNamesAFileNextToTheProgram) {
  const std::string suffix = "." + std::to_string(::getpid()) + ".kel.log";
  const std::string expected = keltk::ChangeFileExt(RunningProgramPath(), "") + suffix;
  {
    auto manager = makeManager(dir);
    manager->Log()->SetDumpFile("%HostApp%" + suffix);
  }
  EXPECT_TRUE(keltk::FileExists(expected));
  std::remove(expected.c_str());
}

// An existing file that cannot be appended to is reported and left alone.
TEST_F(DumpTest, FailingAppendNeverDestroysTheExistingFile) {
  ASSERT_EQ(::mkdir(name.c_str(), 0755), 0); // a folder where the file should be
  auto manager = makeManager(dir);
  (void)manager->LogIt("entry", lkUser);
  testing::internal::CaptureStderr();
  manager->Log()->DumpLog("statistics");
  testing::internal::GetCapturedStderr();
  ASSERT_EQ(manager->Log()->Entries().Count(), 3u);
  EXPECT_EQ(body(std::string(manager->Log()->Entries()[2])),
            "  MANAGER              E  EXCEPTION [ulmKELrp.bpl] ulmKELru.TLog.DumpLog.3: "
            "[EInOutError] Cannot open log file \"" +
                name + "\": Is a directory");
  EXPECT_TRUE(manager->Log()->Entries().Dumped(0)); // into the fallback file
  EXPECT_EQ(crlfLines(readFile(fallback())).back(), "statistics");
  struct stat info {};
  ASSERT_EQ(::stat(name.c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));
}

TEST_F(DumpTest, ReadOnlyFileKeepsItsContents) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
  writeFile(name, "precious\r\n");
  ::chmod(name.c_str(), 0444);
  {
    auto manager = makeManager(dir);
    (void)manager->LogIt("entry", lkUser);
  }
  EXPECT_EQ(readFile(name), "precious\r\n");
}

TEST_F(DumpTest, FailedDumpGoesToTheFallbackFileInRecordedOrder) {
  auto manager = makeManager(dir, "missing-folder/run.kel.log");
  manager->Log()->SetDumpOn(doEachNewItem);
  testing::internal::CaptureStderr();
  (void)manager->LogIt("a", lkUser);
  (void)manager->LogIt("b", lkUser);
  const std::string told = testing::internal::GetCapturedStderr();
  const std::string reason = "Cannot create log file \"" + dir.file("missing-folder/run.kel.log") +
                             "\": No such file or directory";
  EXPECT_EQ(told, "framework_tests: " + reason + "\nframework_tests: the log is written to \"" +
                      fallback() + "\" instead\n");
  // The first dump failed; everything since is in the fallback file, in order.
  const std::vector<std::string> lines = crlfLines(readFile(fallback()));
  ASSERT_EQ(lines.size(), 7u + 3 + 1 + 1);
  EXPECT_EQ(body(lines[7]), "  MANAGER              A  Manager Ready.");
  EXPECT_EQ(body(lines[8]), "  MANAGER              U  a");
  EXPECT_EQ(body(lines[9]),
            "  MANAGER              E  EXCEPTION [ulmKELrp.bpl] ulmKELru.TLog.DumpLog.31: "
            "[EInOutError] " +
                reason);
  EXPECT_EQ(lines[10], "");
  EXPECT_EQ(body(lines[11]), "  MANAGER              U  b");
}

TEST_F(DumpTest, EntriesWaitingAfterAFailedDumpGoFirst) {
  const std::string home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
  ::setenv("HOME", "relative", 1); // no fallback: the entries wait for the file
  ::setenv("XDG_STATE_HOME", "relative", 1);
  auto manager = makeManager(dir);
  manager->Log()->SetDumpOn(doEachNewItem);
  (void)manager->LogIt("one", lkUser);
  ::unlink(name.c_str());
  ASSERT_EQ(::mkfifo(name.c_str(), 0644), 0); // refused, not waited on
  testing::internal::CaptureStderr();
  (void)manager->LogIt("waits", lkUser);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "framework_tests: Cannot open log file \"" + name + "\": not a regular file\n");
  ::unlink(name.c_str());
  writeFile(name, "");
  (void)manager->LogIt("newer", lkUser);
  ::setenv("HOME", home.c_str(), 1);
  const std::vector<std::string> lines = crlfLines(readFile(name));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(body(lines[0]), "  MANAGER              U  waits");
  EXPECT_TRUE(body(lines[1]).starts_with("  MANAGER              E  EXCEPTION [ulmKELrp.bpl] "));
  EXPECT_EQ(body(lines[2]), "  MANAGER              U  newer");
}

// Paths another user may have prepared: never followed, never waited on.
TEST_F(DumpTest, PlantedLinksAndFifosAreRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "planting another user's link needs the superuser";
  writeFile(dir.file("victim"), "victim\n");
  ASSERT_EQ(::symlink(dir.file("victim").c_str(), name.c_str()), 0);
  ASSERT_EQ(::lchown(name.c_str(), 65534, 65534), 0);
  const std::string fifo = dir.file("fifo.kel.log");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  for (const auto& [file, why] :
       {std::pair{name, std::string("a symbolic link owned by another user")},
        std::pair{fifo, std::string("not a regular file")},
        std::pair{std::string("/dev/full"), std::string("not a regular file")}}) {
    ::unlink(fallback().c_str());
    testing::internal::CaptureStderr();
    {
      auto manager = makeManager(dir);
      manager->Log()->SetDumpFile(file);
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "framework_tests: Cannot open log file \"" + file + "\": " + why +
                  "\nframework_tests: the log is written to \"" + fallback() + "\" instead\n");
    EXPECT_EQ(crlfLines(readFile(fallback())).size(), 7u + 3 + 1 + 11);
  }
  EXPECT_EQ(readFile(dir.file("victim")), "victim\n");
}

// A folder the user cannot write to, as an installed program's folder is.
TEST_F(DumpTest, UnwritableFolderFallsBackInAChildProcess) {
  ::chmod(dir.path().c_str(), 0755);
  ASSERT_EQ(::mkdir(dir.file("readonly").c_str(), 0555), 0);
  ASSERT_EQ(::mkdir(dir.file("state").c_str(), 0777), 0);
  ::chmod(dir.file("state").c_str(), 0777);
  const std::string errors = dir.file("state/stderr");
  const pid_t child = ::fork();
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
    const int err = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    ::dup2(err, 2);
    makeManager(dir, "readonly/run.kel.log");
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(readFile(errors),
            "framework_tests: Cannot create log file \"" + dir.file("readonly/run.kel.log") +
                "\": Permission denied\nframework_tests: the log is written to \"" + fallback() +
                "\" instead\n");
  EXPECT_EQ(crlfLines(readFile(fallback())).size(), 7u + 3 + 1 + 11);
}

// A crash in the middle of the closing dump: the crash record finishes that dump
// where it stopped, so nothing is in the file twice. The file size limit cuts the
// write; the signal it raises stands for the crash.
TEST_F(DumpTest, ACrashDuringTheClosingDumpWritesEachLineOnce) {
  for (const rlim_t cut : {rlim_t{700}, rlim_t{1500}}) { // in the entries, in the statistics
    SCOPED_TRACE(cut);
    ::unlink(name.c_str());
    const pid_t child = ::fork();
    if (child == 0) {
      HandleEndingSignals();
      ::signal(SIGXFSZ, [](int) {
        rlimit limit{};
        ::getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::raise(SIGSEGV);
      });
      const rlimit noCore{0, 0};
      ::setrlimit(RLIMIT_CORE, &noCore);
      rlimit limit{};
      ::getrlimit(RLIMIT_FSIZE, &limit);
      limit.rlim_cur = cut;
      ::setrlimit(RLIMIT_FSIZE, &limit);
      {
        auto manager = makeManager(dir);
        (void)manager->LogIt("Second action", lkAction);
        (void)manager->LogIt("The error", lkError);
      }
      ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV) << status;
    const std::vector<std::string> lines = crlfLines(readFile(name));
    expectHeader(lines, 0);
    ASSERT_EQ(lines.size(), 7u + 4 + 1 + 11 + 1) << readFile(name);
    EXPECT_EQ(body(lines[10]), "  MANAGER              A  Manager Closed Normally.");
    EXPECT_EQ(lines[21], kTildes);
    EXPECT_TRUE(body(lines[23]).starts_with("  MANAGER              E  Program ended by signal "
                                            "SIGSEGV at address "))
        << lines[23];
  }
}

} // namespace
} // namespace kelvarin::test
