// Log lines, filtering, counters and the OnLogChanged / OnPropertyModified broadcasts.
#include "FrameworkTestSupport.h"
#include "LogLines.h"
#include "Origin.h"

#include <gtest/gtest.h>
#include <keltk/SysUtils.h>
#include <regex>

namespace kelvarin::test {
namespace {

// Records what the handlers it lends receive; can be told to raise.
struct Listener : keltk::TObject {
  std::string name;
  std::vector<std::string>* calls = nullptr;
  bool raise = false;

  void LogChanged(keltk::TComponent* origin, const std::string& fullMsg) {
    calls->push_back(name + "|" + (origin ? origin->ClassName() : "") + "|" + fullMsg);
    if (raise) throw keltk::Exception("boom");
  }
  void PropertyModified(TPropToMonitor prop, const void* oldValue, const void* newValue) {
    const auto* before = static_cast<const TLogKindSet*>(oldValue);
    const auto* after = static_cast<const TLogKindSet*>(newValue);
    calls->push_back(name + "|" + std::to_string(prop) + "|" + std::to_string(before->bits()) +
                     "->" + std::to_string(after->bits()));
    if (raise) throw keltk::EConvertError("bad value");
  }
  TEventOnLogChanged logChanged() { return TEventOnLogChanged::bind<&Listener::LogChanged>(this); }
  TEventOnPropertyModified propertyModified() {
    return TEventOnPropertyModified::bind<&Listener::PropertyModified>(this);
  }
};

class LogTest : public ::testing::Test {
protected:
  void SetUp() override {
    for (auto [listener, name] : {std::pair{&host, "host"},
                                  {&older, "older"},
                                  {&newer, "newer"},
                                  {&deaf, "deaf"},
                                  {&plugin, "plugin"}}) {
      listener->name = name;
      listener->calls = &calls;
    }
    keltk::FormatSettings().DateSeparator = '/';
    keltk::FormatSettings().TimeSeparator = ':';
    manager = makeManager(dir);
    manager->Log()->SetDumpOn(doNever);
  }
  TLog& log() { return *manager->Log(); }
  std::string entry(std::size_t i) { return std::string(log().Entries()[i]); }

  TempDir dir;
  std::vector<std::string> calls;
  // Declared before the manager, which calls them until it is gone.
  Listener host, older, newer, deaf, plugin;
  keltk::ObjectPtr<TulmKelMan> manager;
};

TEST_F(LogTest, ManagerReadyLineLayout) {
  ASSERT_EQ(log().Entries().Count(), 1u);
  const std::string line = entry(0);
  EXPECT_TRUE(std::regex_match(
      line, std::regex(
                R"( \d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}\.\d{3}  MANAGER {13} A  Manager Ready\.)")))
      << line;
  EXPECT_EQ(line.substr(26, 20), "MANAGER             "); // columns 27 to 46
  EXPECT_EQ(line.substr(47, 3), "A  ");                   // columns 48 to 50
  EXPECT_EQ(line.substr(50), "Manager Ready.");           // column 51 on
  EXPECT_EQ(log().GetCount(lkTotal), 1);
  EXPECT_EQ(log().GetCount(lkAction), 1);
}

TEST_F(LogTest, StampIsTheLocalTimeOfRecording) {
  const auto before =
      keltk::FormatDateTime("yyyy/mm/dd hh:nn:ss.zzz", std::chrono::system_clock::now());
  (void)manager->LogIt("now", lkUser);
  const auto after =
      keltk::FormatDateTime("yyyy/mm/dd hh:nn:ss.zzz", std::chrono::system_clock::now());
  const std::string stamp = entry(1).substr(1, 23);
  EXPECT_LE(before, stamp);
  EXPECT_GE(after, stamp);
}

TEST_F(LogTest, StampUsesTheLocaleSeparators) {
  keltk::FormatSettings().DateSeparator = '-';
  keltk::FormatSettings().TimeSeparator = '.';
  (void)manager->LogIt("x", lkUser);
  keltk::FormatSettings().DateSeparator = '/';
  keltk::FormatSettings().TimeSeparator = ':';
  EXPECT_TRUE(std::regex_match(entry(1).substr(1, 23),
                               std::regex(R"(\d{4}-\d{2}-\d{2} \d{2}\.\d{2}\.\d{2}\.\d{3})")))
      << entry(1);
}

TEST_F(LogTest, KindLettersAndTotal) {
  for (TLogKind kind : {lkAction, lkError, lkCommand, lkMessage, lkUser, lkTotal})
    EXPECT_TRUE(manager->LogIt("m", kind).Success);
  EXPECT_EQ(linesAfterStamp(log()),
            (std::vector<std::string>{"  MANAGER              A  Manager Ready.",
                                      "  MANAGER              A  m", "  MANAGER              E  m",
                                      "  MANAGER              C  m", "  MANAGER              M  m",
                                      "  MANAGER              U  m", "  MANAGER              m"}));
  EXPECT_EQ(log().GetCount(lkTotal), 7);
  EXPECT_EQ(log().GetCount(lkAction), 2);
  for (TLogKind kind : {lkError, lkCommand, lkMessage, lkUser})
    EXPECT_EQ(log().GetCount(kind), 1);
}

TEST_F(LogTest, LineBreaksAreRemovedNotReplaced) {
  (void)manager->LogIt("first\r\nsecond\nthird\rfourth", lkUser);
  EXPECT_EQ(entry(1).substr(50), "firstsecondthirdfourth");
}

TEST_F(LogTest, PluginOriginShowsItsDeepNameCutOrPadded) {
  TulmKel* longName = addPlugin(*manager, "ABCDEFGHIJKLMNOPQRSTUVWXY", "/p/long.kel");
  TulmKel* noName = addPlugin(*manager, "", "/p/none.kel");
  TulmKel* utf8 =
      addPlugin(*manager, "\xC3\x89tude \xC3\xA0 vingt caract\xC3\xA8res!", "/p/utf8.kel");
  (void)longName->LogIt("long", lkAction);
  (void)noName->LogIt("none", lkAction);
  (void)utf8->LogIt("utf8", lkAction);
  EXPECT_EQ(entry(1).substr(24), "  ABCDEFGHIJKLMNOPQRST A  long");
  EXPECT_EQ(entry(2).substr(24), "                       A  none");
  // Twenty characters, not bytes, and never half a character.
  EXPECT_EQ(entry(3).substr(24), "  \xC3\x89tude \xC3\xA0 vingt caract A  utf8");
}

TEST_F(LogTest, OriginLosesLineBreaksAndControlCharactersLikeTheMessage) {
  TulmKel* odd = addPlugin(*manager, std::string("Bad\r\nName\x1B[2J\0!", 16), "/p/odd.kel");
  (void)odd->LogIt("m", lkAction);
  EXPECT_EQ(entry(1).substr(24), "  BadName[2J!          A  m");
}

TEST_F(LogTest, KindsOutsideItemsToLogAreDropped) {
  log().SetItemsToLog({lkError});
  manager->SetOnLogChanged(host.logChanged());
  TKelMethodResult r = smrOk;
  manager->LogIt("dropped", lkAction, r);
  EXPECT_EQ(r, smrUnexpectedError);
  EXPECT_TRUE(calls.empty()); // not announced either
  EXPECT_EQ(log().Entries().Count(), 1u);
  EXPECT_EQ(log().GetCount(lkTotal), 1);
  EXPECT_EQ(log().GetCount(lkAction), 1); // only "Manager Ready."
  manager->LogIt("kept", lkError, r);
  EXPECT_EQ(r, smrOk);
  manager->LogIt("total", lkTotal, r);
  EXPECT_EQ(r, smrOk); // lkTotal passes while the set is not empty
  EXPECT_EQ(log().Entries().Count(), 3u);

  log().SetItemsToLog({});
  manager->LogIt("total", lkTotal, r);
  EXPECT_EQ(r, smrUnexpectedError);
  EXPECT_EQ(log().Entries().Count(), 3u);
}

TEST_F(LogTest, OnlyLiveManagersAndPluginsAreOrigins) {
  TKelMethodResult r = smrOk;
  log().LogIt(0, "no origin", lkUser, r);
  EXPECT_EQ(r, smrUnexpectedError);
  log().LogIt(0x1234, "random token", lkUser, r);
  log().LogIt(SealOrigin(&log()), "the log itself", lkUser, r);
  log().LogIt("one-origin overload", lkUser, r);
  EXPECT_EQ(r, smrUnexpectedError);
  {
    auto other = makeManager(dir, "other.log");
    other->Log()->SetDumpOn(doNever);
    const TOriginToken token = SealOrigin(other.get());
    log().LogIt(token, "live manager", lkUser, r);
    EXPECT_EQ(r, smrOk);
    other.reset();
    log().LogIt(token, "freed manager", lkUser, r);
    EXPECT_EQ(r, smrUnexpectedError);
  }
  TulmKel* plugin = addPlugin(*manager, "Plug", "/p/plug.kel");
  log().LogIt(SealOrigin(plugin), "plug-in", lkUser, r);
  EXPECT_EQ(r, smrOk);
  ASSERT_EQ(log().Entries().Count(), 3u);
  EXPECT_EQ(entry(1).substr(50), "live manager");
  EXPECT_EQ(entry(2).substr(24), "  Plug                 U  plug-in");
}

// Another framework copy registers the objects it makes in its own registry; a log
// still accepts its own manager and the plug-ins in that manager's list.
TEST_F(LogTest, AcceptsItsManagerAndPluginsFromAnotherCopy) {
  TulmKel* plugin = addPlugin(*manager, "Foreign", "/p/foreign.kel");
  UnregisterOrigin(manager.get());
  UnregisterOrigin(plugin);
  TKelMethodResult r;
  manager->LogIt("from the manager", lkUser, r);
  EXPECT_EQ(r, smrOk);
  EXPECT_EQ(plugin->LogIt("from the plug-in", lkUser), smrOk);
  auto stray = keltk::CreateObject<TulmKel>(nullptr); // neither registered here nor listed
  UnregisterOrigin(stray);
  log().LogIt(SealOrigin(stray), "stray", lkUser, r);
  EXPECT_EQ(r, smrUnexpectedError);
  keltk::FreeObject(stray);
  RegisterOrigin(manager.get(), OriginKind::Manager);
  RegisterOrigin(plugin, OriginKind::Plugin);
  EXPECT_EQ(linesAfterStamp(log()),
            (std::vector<std::string>{"  MANAGER              A  Manager Ready.",
                                      "  MANAGER              U  from the manager",
                                      "  Foreign              U  from the plug-in"}));
}

TEST_F(LogTest, DesigningManagerRecordsNothing) {
  manager->SetDesigning(true);
  TKelMethodResult r = smrUnexpectedError;
  manager->LogIt("designing", lkAction, r);
  EXPECT_EQ(r, smrOk);
  EXPECT_EQ(log().Entries().Count(), 1u);
  manager->SetDesigning(false);
}

TEST_F(LogTest, LogChangedGoesToHostThenPluginsNewestFirst) {
  manager->SetOnLogChanged(host.logChanged());
  TulmKel* a = addPlugin(*manager, "A", "/p/a.kel");
  TulmKel* b = addPlugin(*manager, "B", "/p/b.kel");
  a->SetOnLogChanged(older.logChanged());
  b->SetOnLogChanged(newer.logChanged());
  (void)a->LogIt("hello", lkCommand);
  const std::string line = entry(1);
  EXPECT_EQ(calls, (std::vector<std::string>{"host|TulmKel|" + line, "newer|TulmKel|" + line,
                                             "older|TulmKel|" + line}));
}

TEST_F(LogTest, FailingLogChangedHandlersAreRecordedOnce) {
  host.raise = plugin.raise = true; // on every call
  manager->SetOnLogChanged(host.logChanged());
  addPlugin(*manager, "A", "/p/a.kel")->SetOnLogChanged(plugin.logChanged());
  TKelMethodResult r;
  manager->LogIt("trigger", lkUser, r);
  EXPECT_EQ(r, smrOk);
  EXPECT_EQ(linesAfterStamp(log()),
            (std::vector<std::string>{
                "  MANAGER              A  Manager Ready.", "  MANAGER              U  trigger",
                "  MANAGER              E  Event OnLogChanged() on host raised an exception:  boom",
                "  MANAGER              E  Event OnLogChanged() on plugin \"a.kel\" raised an "
                "exception:  boom"}));
  EXPECT_EQ(calls.size(), 6u); // both handlers saw all three lines
}

TEST_F(LogTest, SetItemsToLogBroadcastsRealChangesOnly) {
  manager->SetOnPropertyModified(host.propertyModified());
  manager->SetPropsToMonitor({pmItemsToLog});
  TulmKel* a = addPlugin(*manager, "A", "/p/a.kel");
  TulmKel* b = addPlugin(*manager, "B", "/p/b.kel");
  TulmKel* c = addPlugin(*manager, "C", "/p/c.kel");
  a->SetOnPropertyModified(older.propertyModified());
  a->SetPropsToMonitor({pmItemsToLog, pmPluginFolder});
  b->SetOnPropertyModified(newer.propertyModified());
  b->SetPropsToMonitor({pmItemsToLog});
  c->SetOnPropertyModified(deaf.propertyModified()); // monitors nothing

  log().SetItemsToLog({lkTotal, lkError});
  EXPECT_EQ(log().ItemsToLog(), TLogKindSet{lkError});
  EXPECT_EQ(calls, (std::vector<std::string>{"host|3|62->4", "newer|3|62->4", "older|3|62->4"}));
  calls.clear();
  log().SetItemsToLog({lkError});
  EXPECT_TRUE(calls.empty());
}

TEST_F(LogTest, FailingPropertyModifiedHandlersAreRecorded) {
  host.raise = plugin.raise = true;
  manager->SetOnPropertyModified(host.propertyModified());
  manager->SetPropsToMonitor({pmItemsToLog});
  TulmKel* a = addPlugin(*manager, "A", "/p/a.kel");
  a->SetOnPropertyModified(plugin.propertyModified());
  a->SetPropsToMonitor({pmItemsToLog});
  log().SetItemsToLog({lkError, lkUser});
  EXPECT_EQ(calls.size(), 2u);
  EXPECT_EQ(linesAfterStamp(log()),
            (std::vector<std::string>{
                "  MANAGER              A  Manager Ready.",
                "  MANAGER              E  Event OnPropertyModified() on host raised an "
                "exception:  bad value",
                "  MANAGER              E  Event OnPropertyModified() on plugin \"a.kel\" raised "
                "an exception:  bad value"}));
}

// A handler that throws on every line costs one report and one handler line.
TEST_F(LogTest, ExceptionsOutsideTheToolkitFamilyAreRecordedOnce) {
  struct Thrower : keltk::TObject {
    void LogChanged(keltk::TComponent*, const std::string&) { throw 42; }
  };
  Thrower thrower;
  manager->SetOnLogChanged(TEventOnLogChanged::bind<&Thrower::LogChanged>(&thrower));
  const std::size_t before = manager->Log()->Entries().Count();
  EXPECT_NO_THROW(manager->LogIt("x", lkUser));
  manager->SetOnLogChanged({});
  const std::vector<std::string> all = linesAfterStamp(*manager->Log());
  EXPECT_EQ(
      std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(before), all.end()),
      (std::vector<std::string>{
          "  MANAGER              U  x",
          "  MANAGER              E  EXCEPTION [ulmKELrp.bpl] ulmKELru.TLog.LogIt.9: [int] int",
          "  MANAGER              E  Event OnLogChanged() on host raised an exception:  int",
      }));
}

TEST(LogEntries, StoresLinesCompactly) {
  LogLines entries;
  const std::string line(110, 'x');
  for (int i = 0; i < 10000; ++i)
    entries.Add(line);
  ASSERT_EQ(entries.Count(), 10000u);
  EXPECT_EQ(entries[9999], line);
  EXPECT_FALSE(entries.Dumped(5));
  entries.MarkDumped(5);
  EXPECT_TRUE(entries.Dumped(5));
  EXPECT_LT(entries.BytesHeld(), 10000u * 110 * 2); // the benchmark measures it closely
  const std::string big(3 * 1024 * 1024, 'y');
  EXPECT_EQ(entries.Add(big), big);
  EXPECT_EQ(entries[0], line); // earlier lines never move
}

} // namespace
} // namespace kelvarin::test
