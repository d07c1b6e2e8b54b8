// kelforms check on modules whose code does not let it finish: an exit, a crash
// and a hang fail the check and remove the module; a message of any length is
// reported whole. A module without an entry point a manager needs fails too; one
// that cannot be loaded where it is built is kept. Window forms are read against
// the classes the module registers.
#include "TestFiles.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace {

namespace fs = std::filesystem;

using kelvarin::testsupport::CommandRun;

// `kelforms check --remove-on-error MODULE FORMS`, the module's code given `limit`;
// its output holds standard error too.
CommandRun runCheck(const fs::path& module, const std::string& forms, const char* limit = "30") {
  // A module's exit runs the leak check of a sanitized build in the check
  // process; what it finds there is the module's, not the check's.
  const std::string command = std::string("ASAN_OPTIONS=detect_leaks=0 KELFORMS_CHECK_TIMEOUT=") +
                              limit + " " KELVARIN_KELFORMS " check --remove-on-error " +
                              module.string() + " " + forms + " 2>&1";
  return kelvarin::testsupport::runCommand(command);
}

// A copy of a fixture module in the test's folder, since a failed check removes it.
fs::path copyOfFixture(const std::string& name) {
  const fs::path module = fs::path(::testing::TempDir()) / (name + ".kel");
  fs::copy_file(fs::path(KELVARIN_FIXTURE_DIR) / (name + ".kel"), module,
                fs::copy_options::overwrite_existing);
  return module;
}

TEST(KelFormsTest, ACheckTheModulesCodeDoesNotLetFinishFailsAndRemovesIt) {
  const struct {
    const char* fixture;
    int status;
    std::string message; // a part of standard error
  } cases[] = {
      {"CheckExit", 1, ": error: the module's code ended the check (exit status "},
      {"CheckExitWhileLoaded", 1, ": error: the module's code ended the check (exit status "},
      {"CheckCrash", 1, ": error: the module's code crashed the check (SIGABRT)\n"},
      {"CheckHang", 1,
       ": error: the module's code did not return within 0.5 s; the check was stopped "
       "(KELFORMS_CHECK_TIMEOUT sets the limit in seconds)\n"},
      {"CheckLongMessage", 0,
       ": warning: creating the plug-in failed outside a host: long: " + std::string(200000, 'x') +
           "\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fixture);
    const fs::path module = copyOfFixture(c.fixture);
    const CommandRun run = runCheck(module, "", "0.5");
    EXPECT_EQ(run.status, c.status) << run.output.substr(0, 500);
    EXPECT_NE(run.output.find(module.string() + c.message), std::string::npos)
        << run.output.substr(0, 500);
    EXPECT_EQ(fs::exists(module), c.status == 0);
    fs::remove(module);
  }
}

TEST(KelFormsTest, AMissingEntryPointFailsAModuleThatCannotBeLoadedHereIsKept) {
  const struct {
    const char* fixture;
    int status;
    const char* message; // after the module's path
  } cases[] = {
      {"NoRegister", 1,
       ": error: the module does not export RegisterKelvarin, an entry point a manager needs: "
       "misspelt, or not extern \"C\"?\n"},
      {"RunTimeOnly", 0,
       ": warning: forms not checked: the module cannot be loaded where it is built: "
       "libFxRunTimeOnly.so: cannot open shared object file: No such file or directory\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fixture);
    const fs::path module = copyOfFixture(c.fixture);
    const CommandRun run = runCheck(module, "");
    EXPECT_EQ(run.status, c.status) << run.output;
    EXPECT_NE(run.output.find(module.string() + c.message), std::string::npos) << run.output;
    EXPECT_EQ(fs::exists(module), c.status == 0);
    fs::remove(module);
  }
}

TEST(KelFormsTest, WindowFormsAreReadAgainstTheClassesTheModuleRegisters) {
  const struct {
    const char* windowForm;
    int status;
    const char* message; // after the window form's path
  } cases[] = {
      {"BadWindow.kfm", 1, ":5:3: error: unknown property \"Captoin\" of TFxWindow\n"},
      {"LoneWindow.kfm", 0,
       ":1:1: warning: form of class \"TFxLoneWindow\" not checked: the module does not register "
       "the class (keltk::ClassRegistrar)\n"},
  };
  const fs::path sources(KELVARIN_FIXTURE_SOURCE_DIR);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.windowForm);
    const fs::path module = copyOfFixture("BadWindow");
    const fs::path form = sources / c.windowForm;
    const CommandRun run =
        runCheck(module, (sources / "Minimal.kfm").string() + " " + form.string());
    EXPECT_EQ(run.status, c.status) << run.output;
    EXPECT_NE(run.output.find(form.string() + c.message), std::string::npos) << run.output;
    EXPECT_EQ(fs::exists(module), c.status == 0);
    fs::remove(module);
  }
}

} // namespace
