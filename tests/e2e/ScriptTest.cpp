// tavlo's script lines and command arguments, read as the host reads them.
#include "Script.h"

#include "CommandArguments.h"

#include <gtest/gtest.h>
#include <kelvarin/Commands.h>

using namespace tavlo;
using keltk::TVarRec;

namespace {

using Words = std::vector<std::string>;

} // namespace

TEST(ScriptTest, WordsSplitOnBlanksAndQuotesGroupThem) {
  EXPECT_EQ(SplitScriptWords("  exec \"Splash Screen\"\tIncrement_Gauge  \"Two  words\" "),
            (Words{"exec", "Splash Screen", "Increment_Gauge", "Two  words"}));
  EXPECT_EQ(SplitScriptWords("load \"\""), (Words{"load", ""}));
  EXPECT_EQ(SplitScriptWords("a\"b c\"d e"), (Words{"ab cd", "e"}));
  EXPECT_EQ(SplitScriptWords("close\r"), (Words{"close"}));
  EXPECT_THROW(SplitScriptWords("load \"Splash"), ScriptError);
}

TEST(ScriptTest, LinesKeepTheirNumbersAndSkipBlanksAndComments) {
  const std::vector<ScriptLine> lines =
      ParseScript("# heading\n\nload Splash\n   # indented comment\n  \nwait \"10\nclose");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].number, 3);
  EXPECT_EQ(lines[0].words, (Words{"load", "Splash"}));
  // A line that cannot be split still takes its turn, to fail then.
  EXPECT_EQ(lines[1].number, 6);
  EXPECT_TRUE(lines[1].words.empty());
  EXPECT_EQ(lines[1].error, "missing closing quote");
  EXPECT_EQ(lines[2].number, 7);
  EXPECT_EQ(lines[2].words, (Words{"close"}));
}

TEST(ScriptTest, ArgumentsTakeTheTypeDeclaredAtTheirPosition) {
  using namespace kelvarin;
  const CommandArguments args({ptInteger, ptBoolean, ptChar, ptExtended, ptString, ptPChar,
                               ptWideChar, ptAnsiString, ptCurrency, ptWideString, ptInt64,
                               ptVariant, ptObject},
                              {"-42", "true", "x", "2.5", "short", "pchar", "\xC3\xA9", "ansi",
                               "12.3456", "wide", "9000000000", "var", "nil", "extra"});
  const keltk::TVarRecs v = args.values();
  ASSERT_EQ(v.size(), 14u);
  EXPECT_EQ(v[0].VType, keltk::vtInteger);
  EXPECT_EQ(v[0].VInteger, -42);
  EXPECT_EQ(v[1].VType, keltk::vtBoolean);
  EXPECT_TRUE(v[1].VBoolean);
  EXPECT_EQ(v[2].VChar, 'x');
  EXPECT_EQ(*v[3].VExtended, 2.5L);
  EXPECT_EQ(v[4].VType, keltk::vtString);
  EXPECT_EQ(v[4].VString[0], 5);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(v[4].VString + 1), 5), "short");
  EXPECT_STREQ(v[5].VPChar, "pchar");
  EXPECT_EQ(v[6].VType, keltk::vtWideChar);
  EXPECT_EQ(v[6].VWideChar, u'\u00E9');
  EXPECT_EQ(*v[7].VAnsiString, "ansi");
  EXPECT_EQ(v[8].VType, keltk::vtCurrency);
  EXPECT_EQ(*v[8].VCurrency, 123456);
  EXPECT_EQ(*v[9].VWideString, u"wide");
  EXPECT_EQ(*v[10].VInt64, 9000000000);
  ASSERT_EQ(v[11].VType, keltk::vtVariant);
  EXPECT_EQ(*v[11].VVariant->VAnsiString, "var");
  EXPECT_TRUE(v[12].IsNull());
  // Past the declared parameters: text, for the command's count check to see.
  EXPECT_EQ(*v[13].VAnsiString, "extra");
  // The conversions agree with what plug-ins read through the framework.
  EXPECT_EQ(Var2Int(v[0]), -42);
  EXPECT_EQ(Var2Str(v[4]), "short");
  EXPECT_EQ(Var2Str(v[9]), "wide");
}

TEST(ScriptTest, WordsThatDoNotFitTheirTypeAreRefusedWithTheirPosition) {
  using namespace kelvarin;
  const auto refusal = [](TParamType type, const std::string& word) -> std::string {
    try {
      const CommandArguments args({ptAnsiString, type}, {"first", word});
    } catch (const ScriptError& e) {
      return e.what();
    }
    return "accepted";
  };
  EXPECT_EQ(refusal(ptInteger, "ten"), "argument 2 (\"ten\") is not an integer");
  EXPECT_EQ(refusal(ptInteger, "3000000000"), "argument 2 (\"3000000000\") is not an integer");
  EXPECT_EQ(refusal(ptInteger, "12abc"), "argument 2 (\"12abc\") is not an integer");
  EXPECT_EQ(refusal(ptBoolean, "yes"), "argument 2 (\"yes\") is not True or False");
  EXPECT_EQ(refusal(ptChar, "ab"), "argument 2 (\"ab\") is not one character");
  EXPECT_EQ(refusal(ptExtended, "1e99999"), "argument 2 (\"1e99999\") is not a number");
  EXPECT_EQ(refusal(ptCurrency, "0.00001"),
            "argument 2 (\"0.00001\") is not an amount with at most four decimals");
  EXPECT_EQ(refusal(ptString, std::string(256, 'a')).substr(0, 12), "argument 2 (");
  EXPECT_EQ(refusal(ptWideString, "\xFF"), "argument 2 (\"\xFF\") is not UTF-8 text");
  EXPECT_EQ(refusal(ptPointer, "0x1234"), "argument 2 (\"0x1234\") is not nil");
  EXPECT_EQ(refusal(ptInteger, "+7"), "accepted");
}
