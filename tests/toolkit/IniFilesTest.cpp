#include "keltk/IniFiles.h"

#include "keltk/Strings.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

using namespace keltk;
namespace fs = std::filesystem;

namespace {

class IniFileTest : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("keltk_ini_" + std::to_string(getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string write(const std::string& bytes) {
    const fs::path p = dir_ / "ulmKELrp.ini";
    std::ofstream(p, std::ios::binary) << bytes;
    return p.string();
  }

  fs::path dir_;
};

} // namespace

TEST_F(IniFileTest, ReadsSectionsAndValuesWithoutRegardToCase) {
  TIniFile ini(write("; a comment\n"
                     "[Dictionary]\n"
                     "0001=Unknown Error.\n"
                     "\n"
                     "0002 = Error loading\xB6line two\n"
                     "[ErrorMessages]\n"
                     "E001=Plugin \"%s\" could not be loaded.\n"));
  EXPECT_TRUE(ini.SectionExists("dictionary"));
  EXPECT_FALSE(ini.SectionExists("Other"));
  EXPECT_EQ(ini.ReadString("DICTIONARY", "0001", "?"), "Unknown Error.");
  EXPECT_EQ(ini.ReadString("Dictionary", "0002", "?"), "Error loading\xB6line two");
  EXPECT_EQ(ini.ReadString("errormessages", "e001", "?"), "Plugin \"%s\" could not be loaded.");
  EXPECT_EQ(ini.ReadString("ErrorMessages", "E002", "fallback"), "fallback");
  EXPECT_EQ(ini.ReadString("Missing", "E001", "fallback"), "fallback");
}

TEST_F(IniFileTest, CrLfBomAndNoFinalLineBreak) {
  TIniFile ini(write("\xEF\xBB\xBF[Dictionary]\r\n0001=One\r\n;0003=commented\r\n0002=Two"));
  EXPECT_EQ(ini.SectionValues("Dictionary"),
            (std::vector<std::pair<std::string, std::string>>{{"0001", "One"}, {"0002", "Two"}}));
}

TEST_F(IniFileTest, SectionValuesIntoAStringList) {
  TIniFile ini(write("[A]\nx=1\ny=\nz=3\n[B]\nw=4\n"));
  TStringList list;
  list.Add("stale");
  ini.ReadSectionValues("a", &list);
  EXPECT_EQ(list.Text(), "x=1\r\ny=\r\nz=3\r\n");
  EXPECT_EQ(list.Values("Z"), "3");
  ini.ReadSectionValues("none", &list);
  EXPECT_EQ(list.Count(), 0);
}

TEST_F(IniFileTest, MissingFileReadsAsEmpty) {
  TIniFile ini((dir_ / "nothing.ini").string());
  EXPECT_FALSE(ini.SectionExists("Dictionary"));
  EXPECT_TRUE(ini.SectionValues("Dictionary").empty());
  EXPECT_EQ(ini.ReadString("Dictionary", "0001", "d"), "d");
}

TEST_F(IniFileTest, NumbersAndFlags) {
  TIniFile ini(write("[S]\nn=42\nh=$1F\nneg=-7\nbad=4x\nflag=0\n"));
  EXPECT_EQ(ini.ReadInteger("S", "n", 0), 42);
  EXPECT_EQ(ini.ReadInteger("S", "h", 0), 31);
  EXPECT_EQ(ini.ReadInteger("S", "neg", 0), -7);
  EXPECT_EQ(ini.ReadInteger("S", "bad", 5), 5);
  EXPECT_FALSE(ini.ReadBool("S", "flag", true));
  EXPECT_TRUE(ini.ReadBool("S", "n", false));
  EXPECT_TRUE(ini.ValueExists("s", "N"));
  EXPECT_EQ(ini.SectionNames(), std::vector<std::string>{"S"});
}

TEST_F(IniFileTest, LinesBeforeAnySectionAndWithoutEqualsAreIgnored) {
  TIniFile ini(write("orphan=1\n[S]\njunk line\nk=v\n  [ T ]  \nk=w\n"));
  EXPECT_EQ(ini.SectionValues("S").size(), 1u);
  EXPECT_EQ(ini.ReadString("T", "k", ""), "w");
}
