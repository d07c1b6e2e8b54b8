// tavlo's look at its plug-in folder before loading, and its watch on the files
// of what it loaded.
#include "TavloSandbox.h"

#include <cstring>
#include <fstream>
#include <gtest/gtest.h>

namespace e2e {
namespace {

TEST(TavloPlugins, AScriptListsTheFolderWithEachModulesState) {
  TavloSandbox sandbox;
  std::ofstream(sandbox.path("Notes.kel")) << "not a module\n";
  // DoNothing with texts that would retitle and reset the terminal, of the same
  // lengths, so the module stays sound.
  std::string hostile = readFile(KELVARIN_DONOTHING);
  for (auto [from, to] : {std::pair{"'Do Nothing'", "#27']0;pw'#7"}, {"'1.00'", "#27#99"}})
    for (std::size_t at = hostile.find(from); at != std::string::npos; at = hostile.find(from, at))
      hostile.replace(at, std::strlen(from), to);
  std::ofstream(sandbox.path("Hostile.kel"), std::ios::binary) << hostile;
  // A name that would clear the screen comes back in a load's failure text.
  std::ofstream(sandbox.path("list.tavlo")) << "load DoNothing\nplugins\nload Gone\x1b[2J\nclose\n";
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
  EXPECT_TRUE(has("Plugin: Hostile.kel: loadable \"\\x1b]0;pw\\x07\" \\x1bc")) << run.out;
  EXPECT_TRUE(has("load Gone\\x1b[2J: Error $E016:  Plugin not found: \"Gone\\x1b[2J.kel\""))
      << run.out;
  EXPECT_EQ(run.out.find('\x1b'), std::string::npos);
}

} // namespace
} // namespace e2e
