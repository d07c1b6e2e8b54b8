// A program's whole life on Qt: no QApplication at the start, the backend
// installed from main, the main form's loop, and the end, with or without taking
// the backend down first. Each runs in a process of its own.
#include "GuiTestSupport.h"

#include <cstdio>
#include <cstdlib>

using namespace guitest;

namespace {

int argc = 1;
char name[] = "tavlo";
char* argv[] = {name, nullptr};

// Runs the main form until it closes; a splash window stays up, never freed by
// the program. Returns whether everything went as a host expects.
bool runMainForm() {
  if (QCoreApplication::instance() == nullptr || Application()->GuiBackend() == nullptr)
    return false;
  auto* host = Application()->CreateForm<TGuiHostForm>();
  auto* splash = CreateObject<TGuiSplashForm>(Application());
  splash->Show();
  QTimer::singleShot(20, [host] { PeerWidget(*host)->close(); });
  Application()->Run();
  std::fprintf(stderr, "main form closed\n");
  return Application()->MainForm() == nullptr && PeerWidget(*splash) != nullptr;
}

[[noreturn]] void programWithScope() {
  delete QCoreApplication::instance(); // the program starts without one
  bool ok = false;
  {
    QtBackendScope qt(argc, argv);
    ok = runMainForm();
  }
  ok = ok && QCoreApplication::instance() == nullptr && !QtBackendInstalled();
  std::exit(ok ? 0 : 3);
}

[[noreturn]] void programThatExitsWithQtInstalled() {
  delete QCoreApplication::instance();
  InstallQtBackend(argc, argv);
  std::exit(runMainForm() ? 0 : 3);
}

} // namespace

TEST(ProgramTest, ProgramWithAQtScopeRunsUntilItsMainFormClosesAndEndsCleanly) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(programWithScope(), ::testing::ExitedWithCode(0), "main form closed");
}

TEST(ProgramTest, ProgramThatExitsWithQtStillInstalledEndsCleanly) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(programThatExitsWithQtInstalled(), ::testing::ExitedWithCode(0), "main form closed");
}
