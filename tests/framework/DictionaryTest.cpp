// The dictionary file that replaces the built-in texts.
#include "FrameworkTestSupport.h"

#include <cstdlib>
#include <fmt/format.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvarin::test {
namespace {

class Dictionary : public ::testing::Test {
protected:
  void SetUp() override { ::setenv("KELVARIN_CONFIG_DIR", dir.path().c_str(), 1); }
  void TearDown() override {
    ::unsetenv("KELVARIN_CONFIG_DIR");
    RestoreBuiltInTexts();
    InitMethodResults();
  }
  // Loads `text` as the dictionary file, the way start-up does.
  void load(const std::string& text) {
    writeFile(dir.file("ulmKELrp.ini"), text);
    RestoreBuiltInTexts();
    LoadDictionary();
    InitMethodResults();
  }
  // An ErrorMessages section replacing every text, with E018 given.
  static std::string allMessages(const std::string& e018) {
    std::string section = "[ErrorMessages]\n";
    for (std::int32_t code = E001; code <= E02E; ++code) {
      if (BuiltInErrorMessage(code) == nullptr) continue;
      section += code == E018 ? fmt::format("E018={}\n", e018)
                              : fmt::format("{:04X}=New {:04X} %s\n", code, code);
    }
    return section;
  }

  TempDir dir;
  MessageBoxCapture boxes;
};

TEST_F(Dictionary, IsLookedForInTheConfigFolder) {
  EXPECT_EQ(DictionaryFileName(), dir.file("ulmKELrp.ini"));
  ::unsetenv("KELVARIN_CONFIG_DIR");
  EXPECT_EQ(DictionaryFileName(), "/etc/ulmKELrp.ini");
}

TEST_F(Dictionary, MissingEntryStopsLoadingAndNamesFileSectionAndKey) {
  load("[Dictionary]\n"
       "0001=Erro desconhecido.\n"
       "0002=Falta: %s / [%s] / %s\n"
       "[ErrorMessages]\n"
       "E001=Um %s\n"
       "E002=Dois %s\n"
       "E003=Tres %s\n"
       "E004=Quatro %s %s\n"
       "E006=Seis %s\n");
  EXPECT_EQ(DictionaryText(1), "Erro desconhecido.");
  EXPECT_EQ(DictionaryText(2), "Falta: %s / [%s] / %s");
  EXPECT_EQ(*ErrorMessage(E001), "Um %s");
  EXPECT_EQ(*ErrorMessage(E004), "Quatro %s %s");
  EXPECT_EQ(*ErrorMessage(E005), BuiltInErrorMessage(E005));
  EXPECT_EQ(*ErrorMessage(E006), BuiltInErrorMessage(E006)); // after the missing one
  EXPECT_EQ(*ErrorMessage(E02E), BuiltInErrorMessage(E02E));
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0], "Falta: " + dir.file("ulmKELrp.ini") + " / [ErrorMessages] / E005");
}

TEST_F(Dictionary, BuiltInMissingEntryMessage) {
  load("[Dictionary]\n0001=Unknown\n0002=\n");
  EXPECT_EQ(DictionaryText(1), "Unknown");
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0], "Error loading Kelvarin initialization file.\r\n"
                            "A required entry is empty or missing:\r\n"
                            "\r\n"
                            "FILE  " +
                                dir.file("ulmKELrp.ini") +
                                "\r\n"
                                "SECTION  [Dictionary]\r\n"
                                "ENTRY  0002\r\n"
                                "\r\n"
                                "Default values will be assumed from this point.");
}

TEST_F(Dictionary, WithoutDictionarySectionNothingChanges) {
  load(allMessages("Replaced."));
  EXPECT_EQ(*ErrorMessage(E001), BuiltInErrorMessage(E001));
  EXPECT_EQ(smrUnexpectedError.ErrorMsg, "Unexpected error.");
  EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(Dictionary, NoFileNothingChanges) {
  RestoreBuiltInTexts();
  LoadDictionary();
  EXPECT_TRUE(DictionaryLoaded());
  EXPECT_EQ(DictionaryText(1), "Unknown Error.");
  EXPECT_TRUE(boxes.shown.empty());
}

// Read before main: nothing there may hang the start or eat memory.
TEST_F(Dictionary, OnlyRegularFilesUpToOneMebibyteAreRead) {
  const std::string file = dir.file("ulmKELrp.ini");
  const std::string valid = "[Dictionary]\n0001=Replaced\n0002=Missing %s %s %s\n";
  auto fifo = [&] { ::mkfifo(file.c_str(), 0644); };
  auto zeros = [&] { ::symlink("/dev/zero", file.c_str()); };
  auto huge = [&] { writeFile(file, valid + std::string(1024 * 1024, ';')); };
  for (const auto& [make, why] :
       {std::pair<std::function<void()>, std::string>{fifo, "not a regular file"},
        {zeros, "not a regular file"},
        {huge, "larger than 1 MiB"}}) {
    ::unlink(file.c_str());
    make();
    RestoreBuiltInTexts();
    testing::internal::CaptureStderr();
    LoadDictionary();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "framework_tests: the message dictionary \"" +
                                                          file + "\" cannot be read: " + why +
                                                          "; the built-in texts stay\n");
    EXPECT_EQ(DictionaryText(1), "Unknown Error.");
  }
  ::unlink(file.c_str());
  writeFile(file, valid + std::string(1024 * 1024 - valid.size(), ';'));
  RestoreBuiltInTexts();
  LoadDictionary();
  EXPECT_EQ(DictionaryText(1), "Replaced");
}

TEST_F(Dictionary, EveryPilcrowBecomesALineBreak) {
  load("[Dictionary]\n"
       "0001=one\xC2\xB6two\xC2\xB6three\n"
       "0002=single-byte\xB6pilcrow \xD0\xB6 stays\n");
  EXPECT_EQ(DictionaryText(1), "one\r\ntwo\r\nthree");
  // A lone 0xB6 is the single-byte pilcrow; inside a UTF-8 letter it is not.
  EXPECT_EQ(DictionaryText(2), "single-byte\r\npilcrow \xD0\xB6 stays");
  EXPECT_TRUE(boxes.shown.empty()); // no ErrorMessages section: silently done
}

TEST_F(Dictionary, ReplacedE018ReachesTheSharedResultAndFormatError) {
  load("[dictionary]\n0001=U\n0002=M %s %s %s\n" + allMessages("Erro inesperado.\xC2\xB6"
                                                               "Fim"));
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_EQ(smrUnexpectedError.ErrorMsg, "Erro inesperado.\r\nFim");
  EXPECT_EQ(smrUnexpectedError.ErrorCode, 0xE018);
  TKelMethodResult r = smrUnexpectedError;
  const std::string splash = "Splash.kel";
  EXPECT_EQ(FormatError(&EulmKelLoadError::StaticClass(), r, E016, {keltk::VarStr(splash)}),
            "Error $E016:  New E016 Splash.kel");
  EXPECT_EQ(*ErrorMessage(E02E), "New E02E %s");
}

TEST_F(Dictionary, KeysMatchWithoutRegardToCase) {
  std::string messages = allMessages("x");
  for (char& c : messages)
    if (c == 'E') c = 'e';
  load("[Dictionary]\n0001=U\n0002=M\n" + messages);
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_EQ(*ErrorMessage(E00A), "New e00A %s");
}

TEST_F(Dictionary, LoadsOncePerCopy) {
  load("[Dictionary]\n0001=First\n0002=M\n");
  writeFile(dir.file("ulmKELrp.ini"), "[Dictionary]\n0001=Second\n0002=M\n");
  LoadDictionary();
  EXPECT_EQ(DictionaryText(1), "First");
}

} // namespace
} // namespace kelvarin::test
