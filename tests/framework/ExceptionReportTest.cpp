// Method guards, report lines and where reports end up.
#include "ExceptionReport.h"

#include "FrameworkTestSupport.h"

#include <gtest/gtest.h>
#include <stdexcept>

namespace kelvarin::test {
namespace {

class ReportTest : public ::testing::Test {
protected:
  void SetUp() override {
    manager = makeManager(dir);
    manager->Log()->SetDumpOn(doNever);
  }
  std::size_t count() { return manager->Log()->Entries().Count(); }
  std::string lastLine() { return linesAfterStamp(*manager->Log()).back(); }
  static TKelMethodResult folderError() {
    TKelMethodResult r = smrUnexpectedError;
    const std::string folder = "/no/such/folder";
    FormatError(&EulmKelPropertyError::StaticClass(), r, E017, {keltk::VarStr(folder)});
    return r;
  }

  static const MethodFrame& site() {
    static const MethodFrame s{"TTest.Method"};
    return s;
  }

  TempDir dir;
  keltk::ObjectPtr<TulmKelMan> manager;
};

TEST_F(ReportTest, ReportLineNamesModuleUnitLocationStepClassAndMessage) {
  MethodFrame site{"TulmKelMan.SetPluginFolder"};
  GuardedSwallow(manager.get(), site, [&] {
    site.step = 52;
    throw EulmKelPropertyError(folderError());
  });
  EXPECT_EQ(lastLine(),
            "  MANAGER              E  EXCEPTION [ulmKELrp.bpl] "
            "ulmKELru.TulmKelMan.SetPluginFolder.52: [EulmKelPropertyError] Error $E017:  "
            "Manager PluginFolder does not exist: \"/no/such/folder\".");
}

TEST_F(ReportTest, PluginReportsGoToItsManagersLog) {
  TulmKel* plugin = addPlugin(*manager, "Reporter", "/p/r.kel");
  ReportException(plugin, "m", "u", "TulmKel.Initialize", 7, keltk::EListError("out of range"));
  EXPECT_EQ(lastLine(), "  Reporter             E  EXCEPTION [m] u.TulmKel.Initialize.7: "
                        "[EListError] out of range");

  const std::size_t before = count();
  auto* lonely = keltk::CreateObject<TulmKel>(nullptr); // no manager: dropped
  ReportException(lonely, site(), keltk::Exception("x"));
  keltk::FreeObject(lonely);
  ReportException(manager->Log(), site(), keltk::Exception("x")); // the log: dropped
  ReportException(nullptr, site(), keltk::Exception("x"));
  auto* other = keltk::CreateObject<keltk::TComponent>(nullptr); // neither: dropped
  ReportException(other, site(), keltk::Exception("x"));
  keltk::FreeObject(other);
  EXPECT_EQ(count(), before);
}

TEST_F(ReportTest, WithoutErrorKindNothingIsRecordedButTheGuardStillActs) {
  manager->Log()->SetItemsToLog({lkAction});
  const std::size_t before = count();
  MethodFrame swallowSite{"TulmKelMan.Swallow"};
  EXPECT_NO_THROW(GuardedSwallow(manager.get(), swallowSite, [] { throw keltk::Exception("a"); }));
  MethodFrame passSite{"TulmKelMan.Create"};
  EXPECT_THROW(GuardedPassOn(manager.get(), passSite, [] { throw keltk::Exception("b"); }),
               keltk::Exception);
  EXPECT_EQ(count(), before);
}

TEST_F(ReportTest, PassOnGuardsReportThenRaise) {
  MethodFrame s{"TulmKelMan.Loaded"};
  try {
    GuardedPassOn(manager.get(), s, [&] {
      s.step = 2;
      throw keltk::EReadError("broken");
    });
    FAIL();
  } catch (const keltk::EReadError& e) {
    EXPECT_EQ(e.Message(), "broken");
  }
  EXPECT_EQ(lastLine(),
            "  MANAGER              E  EXCEPTION [ulmKELrp.bpl] ulmKELru.TulmKelMan.Loaded.2: "
            "[EReadError] broken");
}

TEST_F(ReportTest, SetterPassesOnOnlyItsOwnPropertyError) {
  MethodFrame s{"TulmKelMan.SetPluginExtension"};
  EXPECT_THROW(GuardedSetter(manager.get(), s, [&] { RaiseMarked(s, folderError()); }),
               EulmKelPropertyError);
  // Any other exception in the same setter is reported and swallowed...
  EXPECT_NO_THROW(
      GuardedSetter(manager.get(), s, [] { throw EulmKelPropertyError(folderError()); }));
  // ...and the mark of an earlier raise does not carry over to it.
  s.reraise = true;
  EXPECT_NO_THROW(GuardedSetter(manager.get(), s, [] { throw keltk::Exception("other"); }));
  EXPECT_EQ(lastLine(), "  MANAGER              E  EXCEPTION [ulmKELrp.bpl] "
                        "ulmKELru.TulmKelMan.SetPluginExtension.0: [Exception] other");
}

// Plug-in code throws whatever it likes: every guard takes it, reports its type and
// what(), and the handler guard hands its message on for the handler line.
TEST_F(ReportTest, ForeignExceptionsAreReportedWithTheirTypeAndSwallowed) {
  MethodFrame s{"TulmKelMan.Anything"};
  s.step = 3;
  EXPECT_NO_THROW(GuardedSwallow(manager.get(), s, [] { throw std::runtime_error("std"); }));
  EXPECT_EQ(lastLine(), "  MANAGER              E  EXCEPTION [ulmKELrp.bpl] "
                        "ulmKELru.TulmKelMan.Anything.3: [std::runtime_error] std");
  EXPECT_NO_THROW(GuardedSetter(manager.get(), s, [] { throw 7; }));
  EXPECT_EQ(lastLine(), "  MANAGER              E  EXCEPTION [ulmKELrp.bpl] "
                        "ulmKELru.TulmKelMan.Anything.3: [int] int");
  EXPECT_THROW(GuardedPassOn(manager.get(), s, [] { throw std::logic_error("ctor"); }),
               std::logic_error);
  EXPECT_EQ(CallHandler(manager.get(), s, [] { throw std::out_of_range("handler"); }),
            std::optional<std::string>("handler"));
  EXPECT_EQ(lastLine(), "  MANAGER              E  EXCEPTION [ulmKELrp.bpl] "
                        "ulmKELru.TulmKelMan.Anything.3: [std::out_of_range] handler");
}

TEST_F(ReportTest, HandlerGuardTextsAndMessages) {
  MethodFrame s{"TulmKelMan.Anything"};
  const std::size_t before = count();
  EXPECT_EQ(CallHandler(manager.get(), s, [] {}), std::nullopt);
  // A toolkit exception is the caller's to log: the guard adds nothing.
  EXPECT_EQ(CallHandler(manager.get(), s, [] { throw keltk::EConvertError("bad"); }),
            std::optional<std::string>("bad"));
  EXPECT_EQ(count(), before);
  EXPECT_EQ(HostEventFailure("OnBeforeLoad()", "m"),
            "Event OnBeforeLoad() on host raised an exception:  m");
  EXPECT_EQ(PluginEventFailure("OnAnyPluginAfterLoad()", "Splash.kel", "m"),
            "Event OnAnyPluginAfterLoad() on plugin \"Splash.kel\" raised an exception:  m");
  EXPECT_EQ(PluginMethodFailure("Initialize()", "Splash.kel", "m"),
            "Method Initialize() on plugin \"Splash.kel\" raised an exception:  m");
  EXPECT_EQ(PluginMethodError("Finalize()", "Splash.kel", 0xE008),
            "Method Finalize() on plugin \"Splash.kel\" returned an error:  $E008");
}

} // namespace
} // namespace kelvarin::test
