#include "keltk/Strings.h"

#include "keltk/Exception.h"
#include "keltk/PropInfo.h"
#include "keltk/Utf8.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace keltk;

namespace {

class TChangeCounter : public TObject {
public:
  int changes = 0;
  int changings = 0;
  void OnChange(TObject*) { ++changes; }
  void OnChanging(TObject*) { ++changings; }
};

} // namespace

TEST(StringList, TextJoinsWithCrLfAndEndsWithOne) {
  TStringList list;
  list.Add("one");
  list.Add("");
  list.Add("three");
  EXPECT_EQ(list.Text(), "one\r\n\r\nthree\r\n");
  TStringList empty;
  EXPECT_EQ(empty.Text(), "");
}

TEST(StringList, SetTextSplitsOnAnyLineBreak) {
  TStringList list;
  list.SetText("a\r\nb\nc\rd\r\n\r\ne");
  ASSERT_EQ(list.Count(), 6);
  EXPECT_EQ(list.ToVector(), (std::vector<std::string>{"a", "b", "c", "d", "", "e"}));
  list.SetText("x\r\n");
  EXPECT_EQ(list.ToVector(), std::vector<std::string>{"x"});
  list.SetText("");
  EXPECT_EQ(list.Count(), 0);
}

TEST(StringList, ValuesMatchNamesWithoutCase) {
  TStringList list;
  list.Add("Alpha=1");
  list.Add("no equals sign");
  list.Add("BETA=two=2");
  list.Add("beta=second");
  EXPECT_EQ(list.Values("alpha"), "1");
  EXPECT_EQ(list.Values("Beta"), "two=2"); // the first match, split at the first '='
  EXPECT_EQ(list.Values("gamma"), "");
  EXPECT_EQ(list.IndexOfName("BETA"), 2);
  EXPECT_EQ(list.Names(2), "BETA");
  EXPECT_EQ(list.ValueFromIndex(2), "two=2");
  EXPECT_EQ(list.Names(1), "");

  list.SetValues("ALPHA", "9");
  EXPECT_EQ(list.Strings(0), "ALPHA=9");
  list.SetValues("gamma", "3");
  EXPECT_EQ(list.Strings(4), "gamma=3");
  list.SetValues("beta", "");
  EXPECT_EQ(list.Count(), 4);
  EXPECT_EQ(list.Values("beta"), "second");
}

TEST(StringList, ObjectSlotsFollowTheirLines) {
  TStringList list;
  TObject a, b;
  list.AddObject("a", &a);
  list.Add("plain");
  list.InsertObject(0, "b", &b);
  list.SetData(2, 0xDEADBEEF);
  EXPECT_EQ(list.Objects(0), &b);
  EXPECT_EQ(list.Objects(1), &a);
  EXPECT_EQ(list.Data(2), 0xDEADBEEFu);
  EXPECT_EQ(list.IndexOfObject(&a), 1);
  list.Delete(0);
  EXPECT_EQ(list.Objects(0), &a);
  list.SetStrings(0, "renamed");
  EXPECT_EQ(list.Objects(0), &a);
  list.Exchange(0, 1);
  EXPECT_EQ(list.Strings(1), "renamed");
  EXPECT_EQ(list.Objects(1), &a);
}

TEST(StringList, IndexOfIgnoresCase) {
  TStringList list;
  list.SetText("One\nTWO\nthree");
  EXPECT_EQ(list.IndexOf("two"), 1);
  EXPECT_EQ(list.IndexOf("THREE"), 2);
  EXPECT_EQ(list.IndexOf("four"), -1);
}

TEST(StringList, IndexesOutsideTheListRaise) {
  TStringList list;
  list.Add("x");
  EXPECT_THROW(list.Strings(1), EListError);
  EXPECT_THROW(list.Strings(-1), EListError);
  EXPECT_THROW(list.Delete(1), EListError);
  EXPECT_THROW(list.Insert(3, "y"), EListError);
  EXPECT_THROW(list.SetData(5, 0), EListError);
  list.Insert(1, "appended");
  EXPECT_EQ(list.Strings(1), "appended");
}

TEST(StringList, AssignCopiesLinesAndObjects) {
  TStringList source;
  TObject marker;
  source.AddObject("first", &marker);
  source.Add("second");
  TStringList dest;
  dest.Add("old");
  dest.Assign(&source);
  EXPECT_EQ(dest.ToVector(), (std::vector<std::string>{"first", "second"}));
  EXPECT_EQ(dest.Objects(0), &marker);
  source.SetStrings(0, "changed");
  EXPECT_EQ(dest.Strings(0), "first");
}

TEST(StringList, UpdatesHoldBackChangeEvents) {
  TStringList list;
  TChangeCounter counter;
  list.SetOnChange(TNotifyEvent::bind<&TChangeCounter::OnChange>(&counter));
  list.SetOnChanging(TNotifyEvent::bind<&TChangeCounter::OnChanging>(&counter));
  list.Add("a");
  EXPECT_EQ(counter.changes, 1);
  EXPECT_EQ(counter.changings, 1);
  list.BeginUpdate();
  list.Add("b");
  list.Add("c");
  list.Delete(0);
  EXPECT_EQ(counter.changes, 1);
  list.EndUpdate();
  EXPECT_EQ(counter.changes, 2);
  EXPECT_EQ(counter.changings, 2);
  list.BeginUpdate();
  list.EndUpdate();
  EXPECT_EQ(counter.changes, 2);
  list.SetText("x\ny\nz");
  EXPECT_EQ(counter.changes, 3);
}

TEST(StringList, ManyReplacementsKeepEveryLine) {
  // Replacing and deleting lines leaves garbage that the list compacts; the lines
  // that stay must survive every compaction.
  TStringList list;
  for (int i = 0; i < 2000; ++i)
    list.Add("line " + std::to_string(i) + std::string(50, '.'));
  for (int round = 0; round < 20; ++round)
    for (int i = 0; i < 2000; i += 2)
      list.SetStrings(i, "r" + std::to_string(round) + " " + std::to_string(i));
  for (int i = 1999; i >= 0; i -= 4)
    list.Delete(i);
  ASSERT_EQ(list.Count(), 1500);
  EXPECT_EQ(list.Strings(0), "r19 0");
  EXPECT_EQ(list.Strings(1), "line 1" + std::string(50, '.'));
  EXPECT_EQ(list.Strings(2), "r19 2");
  EXPECT_LT(list.MemoryUsed(), 400u * 1024u);
}

TEST(StringList, LongLinesAndEmptyLines) {
  TStringList list;
  const std::string big(100000, 'x');
  list.Add("short");
  list.Add(big);
  list.Add("");
  list.Add("after");
  EXPECT_EQ(list.Strings(1), big);
  EXPECT_EQ(list.Strings(2), "");
  EXPECT_EQ(list.Strings(3), "after");
}

TEST(StringList, LongListsStayCompact) {
  TStringList list;
  const std::string line(100, 'a');
  std::size_t bytes = 0;
  for (int i = 0; i < 200000; ++i) {
    list.Add(line);
    bytes += line.size();
  }
  EXPECT_LE(static_cast<double>(list.MemoryUsed()), 1.3 * static_cast<double>(bytes));
}

TEST(StringList, PublishesItsLinesForStoredData) {
  TStringList list;
  const PropInfo* p = list.ClassType().findProperty("Strings");
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->kind, PropKind::Strings);
  p->setLines(list, {"Provides a Splash Screen for Applications."});
  EXPECT_EQ(list.Text(), "Provides a Splash Screen for Applications.\r\n");
  EXPECT_EQ(p->getLines(list).size(), 1u);
  EXPECT_TRUE(p->isStored(list));
  list.Clear();
  EXPECT_FALSE(p->isStored(list));
}

// One codec for every reader of UTF-8 (forms, the dictionary, tavlo's
// arguments): malformed input is refused, never decoded to some code point.
TEST(Utf8, MalformedSequencesAreRefusedEverywhere) {
  struct Case {
    const char* name;
    std::string bytes;
    bool valid;
  };
  const std::vector<Case> cases = {
      {"ASCII", "abc", true},
      {"two, three and four bytes", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", true},
      {"the highest code point", "\xF4\x8F\xBF\xBF", true},
      {"overlong NUL", std::string("\xC0\x80", 2), false},
      {"overlong slash", "\xE0\x80\xAF", false},
      {"overlong four bytes", "\xF0\x80\x80\xAF", false},
      {"encoded high surrogate", "\xED\xA0\x80", false},
      {"encoded low surrogate", "\xED\xB0\x80", false},
      {"above U+10FFFF", "\xF4\x90\x80\x80", false},
      {"lead byte F5", "\xF5\x80\x80\x80", false},
      {"lone continuation byte", "\x80", false},
      {"cut sequence", "\xE2\x82", false},
      {"lead byte FF", "\xFF", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(IsValidUtf8(c.bytes), c.valid);
    EXPECT_EQ(Utf16FromUtf8(c.bytes).has_value(), c.valid);
  }
  EXPECT_EQ(Utf16FromUtf8("a\xF0\x9F\x98\x80"), std::u16string(u"a\U0001F600"));
  EXPECT_EQ(Utf8FromUtf16(u"\U0001F600"), "\xF0\x9F\x98\x80");
  // Unpaired surrogates cannot travel as UTF-8.
  EXPECT_EQ(Utf8FromUtf16(std::u16string(1, char16_t{0xDC00})), "\xEF\xBF\xBD");
  std::string out;
  AppendUtf8(out, 0x110000);
  AppendUtf8(out, 0xD800);
  EXPECT_EQ(out, "\xEF\xBF\xBD\xEF\xBF\xBD");
}
