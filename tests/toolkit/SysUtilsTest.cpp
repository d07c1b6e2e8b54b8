#include "keltk/SysUtils.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

using namespace keltk;
using namespace std::chrono;

namespace {

// Sets TZ for one test and puts the previous value back.
class ZoneGuard {
public:
  explicit ZoneGuard(const char* zone) {
    const char* old = std::getenv("TZ");
    hadOld_ = old != nullptr;
    if (hadOld_) old_ = old;
    setenv("TZ", zone, 1);
  }
  ~ZoneGuard() {
    if (hadOld_)
      setenv("TZ", old_.c_str(), 1);
    else
      unsetenv("TZ");
  }

private:
  bool hadOld_ = false;
  std::string old_;
};

system_clock::time_point utc(int y, unsigned mo, unsigned d, int h, int mi, int s, int ms) {
  const sys_days date = year{y} / month{mo} / day{d};
  return system_clock::time_point(date) + hours{h} + minutes{mi} + seconds{s} + milliseconds{ms};
}

const TFormatSettings plain{};

} // namespace

TEST(FormatDateTime, LogPatternInUtc) {
  ZoneGuard zone("UTC0");
  EXPECT_EQ(FormatDateTime("yyyy/mm/dd hh:nn:ss.zzz", utc(2021, 3, 4, 5, 6, 7, 89), plain),
            "2021/03/04 05:06:07.089");
}

TEST(FormatDateTime, AppliesTheLocalOffset) {
  ZoneGuard zone("XYZ-3"); // three hours east of UTC
  EXPECT_EQ(FormatDateTime("yyyy/mm/dd hh:nn:ss.zzz", utc(2021, 12, 31, 22, 59, 59, 999), plain),
            "2022/01/01 01:59:59.999");
}

TEST(FormatDateTime, FollowsDaylightSavingChanges) {
  ZoneGuard zone("CET-1CEST,M3.5.0,M10.5.0/3");
  const char* p = "yyyy/mm/dd hh:nn:ss";
  // Summer time starts on 2021-03-28 at 01:00 UTC.
  EXPECT_EQ(FormatDateTime(p, utc(2021, 3, 28, 0, 59, 59, 0), plain), "2021/03/28 01:59:59");
  EXPECT_EQ(FormatDateTime(p, utc(2021, 3, 28, 1, 0, 0, 0), plain), "2021/03/28 03:00:00");
  EXPECT_EQ(FormatDateTime(p, utc(2021, 3, 28, 0, 59, 59, 0), plain), "2021/03/28 01:59:59");
  EXPECT_EQ(FormatDateTime(p, utc(2021, 7, 1, 12, 0, 0, 0), plain), "2021/07/01 14:00:00");
}

TEST(FormatDateTime, FollowsAChangeOfZoneAtRunTime) {
  const auto t = utc(2020, 1, 1, 12, 0, 0, 0);
  {
    ZoneGuard zone("UTC0");
    EXPECT_EQ(FormatDateTime("hh:nn", t, plain), "12:00");
  }
  {
    // A new zone shows from the next second on.
    ZoneGuard zone("ABC+5"); // five hours west
    EXPECT_EQ(FormatDateTime("hh:nn:ss", t + seconds(1), plain), "07:00:01");
  }
}

TEST(FormatDateTime, SeparatorsComeFromTheSettings) {
  ZoneGuard zone("UTC0");
  TFormatSettings fs;
  fs.DateSeparator = '-';
  fs.TimeSeparator = '.';
  EXPECT_EQ(FormatDateTime("yyyy/mm/dd hh:nn:ss", utc(1999, 12, 31, 23, 58, 7, 0), fs),
            "1999-12-31 23.58.07");
}

TEST(FormatDateTime, ShortFormsNamesQuotesAndTwelveHours) {
  ZoneGuard zone("UTC0");
  const auto t = utc(2024, 2, 5, 15, 4, 9, 7); // a Monday
  EXPECT_EQ(FormatDateTime("d/m/yy h:n:s z", t, plain), "5/2/24 15:4:9 7");
  EXPECT_EQ(FormatDateTime("ddd dddd mmm mmmm", t, plain), "Mon Monday Feb February");
  EXPECT_EQ(FormatDateTime("hh:mm", t, plain), "15:04"); // minutes after an hour
  EXPECT_EQ(FormatDateTime("h:nn am/pm", t, plain), "3:04 pm");
  EXPECT_EQ(FormatDateTime("'at' hh \"o'clock\"", t, plain), "at 15 o'clock");
  EXPECT_EQ(FormatDateTime("c", t, plain), "2024/02/05 15:04:09");
}

TEST(FormatDateTime, TimesBeforeTheEpoch) {
  ZoneGuard zone("UTC0");
  EXPECT_EQ(FormatDateTime("yyyy/mm/dd hh:nn:ss.zzz", utc(1969, 12, 31, 23, 59, 59, 500), plain),
            "1969/12/31 23:59:59.500");
}

TEST(FormatNumber, GroupsThousandsAndRounds) {
  EXPECT_EQ(FormatNumber(1234.5, 2, plain), "1,234.50");
  EXPECT_EQ(FormatNumber(0, 0, plain), "0");
  EXPECT_EQ(FormatNumber(999, 0, plain), "999");
  EXPECT_EQ(FormatNumber(1000, 0, plain), "1,000");
  EXPECT_EQ(FormatNumber(1234567.891, 2, plain), "1,234,567.89");
  EXPECT_EQ(FormatNumber(75, 2, plain), "75.00");
  EXPECT_EQ(FormatNumber(-9876543, 0, plain), "-9,876,543");
  EXPECT_EQ(FormatNumber(-0.001, 2, plain), "0.00");
}

TEST(FormatNumber, UsesTheSettingsSeparators) {
  TFormatSettings fs;
  fs.ThousandSeparator = '.';
  fs.DecimalSeparator = ',';
  EXPECT_EQ(FormatNumber(1234567.5, 1, fs), "1.234.567,5");
}

TEST(FormatSettings, UnknownLocaleFallsBackToTheDefaults) {
  const char* old = std::getenv("LC_ALL");
  std::string saved = old ? old : "";
  setenv("LC_ALL", "xx_NOWHERE.UTF-8", 1);
  const TFormatSettings fs = LocaleFormatSettings();
  if (old)
    setenv("LC_ALL", saved.c_str(), 1);
  else
    unsetenv("LC_ALL");
  EXPECT_EQ(fs.DecimalSeparator, '.');
  EXPECT_EQ(fs.ThousandSeparator, ',');
  EXPECT_EQ(fs.DateSeparator, '/');
  EXPECT_EQ(fs.TimeSeparator, ':');
}

TEST(FileSystem, FilesAndFoldersAreTellApart) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("keltk_sysutils_" + std::to_string(getpid()));
  fs::create_directories(dir);
  const fs::path file = dir / "a.txt";
  std::ofstream(file) << "x";
  EXPECT_TRUE(FileExists(file.string()));
  EXPECT_FALSE(FileExists(dir.string()));
  EXPECT_TRUE(DirectoryExists(dir.string()));
  EXPECT_FALSE(DirectoryExists(file.string()));
  EXPECT_FALSE(FileExists((dir / "missing").string()));
  EXPECT_FALSE(FileExists(""));
  fs::remove_all(dir);
}
