// kelforms check on modules whose code does not let it finish: an exit, a crash
// and a hang fail the check and remove the module; a message of any length is
// reported whole.
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>

namespace {

namespace fs = std::filesystem;

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
    const fs::path module = fs::path(::testing::TempDir()) / (std::string(c.fixture) + ".kel");
    fs::copy_file(fs::path(KELVARIN_FIXTURE_DIR) / (std::string(c.fixture) + ".kel"), module,
                  fs::copy_options::overwrite_existing);
    // A module's exit runs the leak check of a sanitized build in the check
    // process; what it finds there is the module's, not the check's.
    const std::string command =
        "ASAN_OPTIONS=detect_leaks=0 KELFORMS_CHECK_TIMEOUT=0.5 " KELVARIN_KELFORMS
        " check --remove-on-error " +
        module.string() + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    std::string out;
    for (int ch; (ch = std::fgetc(pipe)) != EOF;)
      out += static_cast<char>(ch);
    const int status = ::pclose(pipe);
    ASSERT_TRUE(WIFEXITED(status)) << out.substr(0, 500);
    EXPECT_EQ(WEXITSTATUS(status), c.status) << out.substr(0, 500);
    EXPECT_NE(out.find(module.string() + c.message), std::string::npos) << out.substr(0, 500);
    EXPECT_EQ(fs::exists(module), c.status == 0);
    fs::remove(module);
  }
}

} // namespace
