// Result records, FormatError and the exception family.
#include "FrameworkTestSupport.h"

#include <gtest/gtest.h>

namespace kelvarin::test {
namespace {

using keltk::VarInt;
using keltk::VarStr;

TEST(SharedResults, HoldTheirFixedValues) {
  EXPECT_TRUE(smrOk.Success);
  EXPECT_EQ(smrOk.ErrorClass, nullptr);
  EXPECT_EQ(smrOk.ErrorCode, 0);
  EXPECT_EQ(smrOk.ErrorMsg, "");

  EXPECT_FALSE(smrUnexpectedError.Success);
  EXPECT_EQ(smrUnexpectedError.ErrorClass, &EulmKelError::StaticClass());
  EXPECT_EQ(smrUnexpectedError.ErrorCode, 0xE018);
  EXPECT_EQ(smrUnexpectedError.ErrorMsg, "Unexpected error.");
}

TEST(FormatError, FillsClassCodeAndMessageButNotSuccess) {
  TKelMethodResult r = smrUnexpectedError;
  const std::string a = "RegisterKelvarin", b = "Splash.kel";
  std::string text =
      FormatError(&EulmKelLoadError::StaticClass(), r, 0xE004, {VarStr(a), VarStr(b)});
  EXPECT_EQ(text, "Error $E004:  Exported function \"RegisterKelvarin\" not found in plugin "
                  "\"Splash.kel\".");
  EXPECT_EQ(r.ErrorMsg, text);
  EXPECT_FALSE(r.Success);
  EXPECT_EQ(r.ErrorClass, &EulmKelLoadError::StaticClass());
  EXPECT_STREQ(r.ErrorClass->name, "EulmKelLoadError");
  EXPECT_EQ(r.ErrorCode, 0xE004);

  TKelMethodResult ok = smrOk;
  FormatError(&EulmKelLoadError::StaticClass(), ok, E015);
  EXPECT_TRUE(ok.Success); // a record started from smrOk keeps Success
  EXPECT_EQ(ok.ErrorMsg, "Error $E015:  Plugin FileName cannot be blank.");
}

TEST(FormatError, CatalogueExamples) {
  TKelMethodResult r = smrUnexpectedError;
  const TErrorClass cls = &EulmKelPropertyError::StaticClass();
  EXPECT_EQ(FormatError(cls, r, E011), "Error $E011:  Plugin Command.Name cannot be blank.");
  const std::string splash = "Splash.kel", mask = "*.kel";
  EXPECT_EQ(FormatError(cls, r, E016, {VarStr(splash)}),
            "Error $E016:  Plugin not found: \"Splash.kel\"");
  // The lone percent sign ending E02E's text produces nothing.
  EXPECT_EQ(FormatError(cls, r, E02E, {VarStr(mask)}),
            "Error $E02E:  Invalid plugin extension: *.kel");
  EXPECT_EQ(FormatError(cls, r, E007, {VarStr(splash), VarInt(3)}),
            "Error $E007:  Plugin \"Splash.kel\" instances exceed limit (maximum is 3).");
}

TEST(FormatError, MismatchedArgumentsLeaveOnlyThePrefix) {
  TKelMethodResult r = smrUnexpectedError;
  const std::string splash = "Splash.kel", two = "2";
  // %d given a string.
  EXPECT_EQ(FormatError(&EulmKelLoadError::StaticClass(), r, E007, {VarStr(splash), VarStr(two)}),
            "Error $E007");
  EXPECT_EQ(r.ErrorMsg, "Error $E007");
  EXPECT_EQ(r.ErrorCode, 0xE007);
  EXPECT_EQ(r.ErrorClass, &EulmKelLoadError::StaticClass());
  // Too few arguments.
  EXPECT_EQ(FormatError(&EulmKelLoadError::StaticClass(), r, E004, {VarStr(splash)}),
            "Error $E004");
  // %s given an integer.
  EXPECT_EQ(FormatError(&EulmKelLoadError::StaticClass(), r, E016, {VarInt(1)}), "Error $E016");
}

TEST(FormatError, CodesWithoutTextGiveThePrefixOnly) {
  TKelMethodResult r = smrUnexpectedError;
  EXPECT_EQ(FormatError(&EulmKelError::StaticClass(), r, 0), "Error $   0");
  EXPECT_EQ(FormatError(&EulmKelError::StaticClass(), r, 0xE02B), "Error $E02B");
  EXPECT_EQ(FormatError(&EulmKelError::StaticClass(), r, 0xE000), "Error $E000");
  EXPECT_EQ(FormatError(&EulmKelError::StaticClass(), r, 0xE02F), "Error $E02F");
  EXPECT_EQ(FormatError(&EulmKelError::StaticClass(), r, 0x12), "Error $  12");
  EXPECT_EQ(r.ErrorCode, 0x12);
}

TEST(FormatText, Rules) {
  std::string out;
  const std::string s = "abc";
  const keltk::TVarRec args[] = {VarStr(s), VarInt(-42)};
  ASSERT_TRUE(FormatText("[%s|%d|%%]", args, out));
  EXPECT_EQ(out, "[abc|-42|%]");
  // Each placeholder takes the next argument unless it names one ("index:").
  const keltk::TVarRec many[] = {VarStr(s), VarStr(s), VarStr(s), VarInt(-42), VarInt(-42)};
  ASSERT_TRUE(FormatText("%5s|%-5s|%.2s|%4d|%.4d|%1:s|%4:d", many, out));
  EXPECT_EQ(out, "  abc|abc  |ab| -42|-0042|abc|-42");
  ASSERT_TRUE(FormatText("100%", args, out));
  EXPECT_EQ(out, "100");
  const keltk::TVarRec hex[] = {VarInt(0xE00A), VarInt(0xE00A)};
  ASSERT_TRUE(FormatText("$%4x|%0d", hex, out));
  EXPECT_EQ(out, "$E00A|57354");
  EXPECT_FALSE(FormatText("%q", args, out));       // unknown conversion
  EXPECT_FALSE(FormatText("%s %s %s", args, out)); // third argument missing
  ASSERT_TRUE(FormatText("only %s", args, out));   // surplus arguments are ignored
  EXPECT_EQ(out, "only abc");
}

TEST(FormatText, AcceptsEveryTextKind) {
  std::string out;
  const std::u16string wide = u"wide\u00e9";
  const unsigned char shortString[] = {3, 'p', 'a', 's'};
  keltk::TVarRec pas;
  pas.VType = keltk::vtString;
  pas.VString = shortString;
  const std::int64_t big = 1LL << 40;
  const keltk::TVarRec args[] = {keltk::VarPChar("pchar"), keltk::VarChar('c'),
                                 keltk::VarWideString(wide), pas, keltk::VarInt64(big)};
  ASSERT_TRUE(FormatText("%s %s %s %s %d", args, out));
  EXPECT_EQ(out, "pchar c wide\xC3\xA9 pas 1099511627776");
}

TEST(ExceptionFamily, IsBuiltFromAResult) {
  TKelMethodResult r = smrUnexpectedError;
  const std::string folder = "/nowhere";
  FormatError(&EulmKelPropertyError::StaticClass(), r, E017, {VarStr(folder)});
  try {
    RaiseResult(r);
    FAIL() << "nothing raised";
  } catch (const EulmKelPropertyError& e) {
    EXPECT_STREQ(e.ClassName(), "EulmKelPropertyError");
    EXPECT_EQ(e.Message(), "Error $E017:  Manager PluginFolder does not exist: \"/nowhere\".");
    EXPECT_EQ(e.ErrorCode(), 0xE017);
  }
}

TEST(ExceptionFamily, ClassNamesAndParents) {
  const TKelMethodResult r = smrUnexpectedError;
  const std::vector<std::pair<TErrorClass, const char*>> family = {
      {&EulmKelError::StaticClass(), "EulmKelError"},
      {&EulmKelPropertyError::StaticClass(), "EulmKelPropertyError"},
      {&EulmKelCreationError::StaticClass(), "EulmKelCreationError"},
      {&EulmKelLoadError::StaticClass(), "EulmKelLoadError"},
      {&EulmKelUnloadError::StaticClass(), "EulmKelUnloadError"},
      {&EulmKelInitializationError::StaticClass(), "EulmKelInitializationError"},
      {&EulmKelFinalizationError::StaticClass(), "EulmKelFinalizationError"},
      {&EulmKelMergeError::StaticClass(), "EulmKelMergeError"},
  };
  for (const auto& [cls, name] : family) {
    TKelMethodResult withClass = r;
    withClass.ErrorClass = cls;
    try {
      RaiseResult(withClass);
    } catch (const keltk::Exception& e) {
      EXPECT_STREQ(e.ClassName(), name);
      EXPECT_EQ(e.Message(), "Unexpected error.");
      EXPECT_TRUE(cls->InheritsFrom("EulmKelError"));
      EXPECT_TRUE(dynamic_cast<const EulmKelError*>(&e) != nullptr);
    }
  }
  EXPECT_FALSE(EulmKelError::StaticClass().InheritsFrom("EulmKelLoadError"));
}

} // namespace
} // namespace kelvarin::test
