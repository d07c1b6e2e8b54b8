// tavlo's look at its plug-in folder before loading, and its watch on the files
// of what it loaded.
#include "TavloSandbox.h"

#include <fstream>
#include <gtest/gtest.h>

namespace e2e {
namespace {

TEST(TavloPlugins, AScriptListsTheFolderWithEachModulesState) {
  TavloSandbox sandbox;
  std::ofstream(sandbox.path("Notes.kel")) << "not a module\n";
  std::ofstream(sandbox.path("list.tavlo")) << "load DoNothing\nplugins\nclose\n";
  const TavloRun run = sandbox.runWith({"--reload-on-change", "--script", "list.tavlo"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err.find("cannot watch"), std::string::npos) << run.err;
  const std::vector<std::string> out = Lines(run.out);
  auto has = [&](std::string_view start) {
    for (const std::string& line : out)
      if (line.starts_with(start)) return true;
    return false;
  };
  EXPECT_TRUE(has("Plugin: DoNothing.kel: loaded \"")) << run.out;
  EXPECT_TRUE(has("Plugin: Splash.kel: loadable \"Splash Screen\" 1.01")) << run.out;
  EXPECT_TRUE(has("Plugin: Notes.kel: not-a-plugin (not an ELF file)")) << run.out;
}

} // namespace
} // namespace e2e
