// A plug-in folder described without loading anything: one module of each state.
#include "LifecycleSupport.h"

#include <filesystem>
#include <kelvarin/Discovery.h>
#include <kelvarin/Framework.h>

namespace kelvarin::test {
namespace {

namespace fs = std::filesystem;

// A copy of `module` whose metadata claims another framework version: the
// version text is patched in place, so the file stays a sound module.
std::string otherVersion(const std::string& module) {
  std::string bytes = readFile(module);
  const std::string ours = std::string("ProdVersion=") + kFrameworkVersion;
  const std::size_t at = bytes.find(ours);
  EXPECT_NE(at, std::string::npos);
  if (at != std::string::npos)
    bytes[at + ours.size() - 1] = bytes[at + ours.size() - 1] == '9' ? '8' : '9';
  return bytes;
}

class DiscoveryTest : public LifecycleTest {};

TEST_F(DiscoveryTest, DescribesEachModuleOfAFolderWithoutLoadingIt) {
  TempDir folder;
  const std::string minimal = readFile(fixture("Minimal"));
  fs::copy_file(fixture("Minimal"), folder.file("Loaded.kel"));
  fs::copy_file(fixture("ReloadableA"), folder.file("Reloadable.kel"));
  // Sound modules whose entry points a manager would not find.
  fs::copy_file(fixture("NoInfo"), folder.file("NoInfo.kel"));
  fs::copy_file(fixture("NoRegister"), folder.file("NoRegister.kel"));
  writeFile(folder.file("Other.kel"), otherVersion(fixture("Minimal")));
  // Its section table said to lie past the end of the file.
  std::string damaged = minimal;
  damaged.replace(0x28, 8, 8, '\x7f');
  writeFile(folder.file("Damaged.kel"), damaged);
  writeFile(folder.file("Text.kel"), "not a module\n");
  writeFile(folder.file("Skipped.txt"), "another extension\n");
  fs::create_directory(folder.file("Folder.kel"));

  manager->SetPluginFolder(folder.path());
  ASSERT_NE(load("Loaded"), nullptr);
  const std::vector<TPluginFileInfo> list = manager->DiscoverPlugins();

  struct Expected {
    const char* file;
    TPluginFileState state;
    const char* reason; // a part of it
  };
  const Expected expected[] = {
      {"Damaged.kel", TPluginFileState::Damaged, "truncated section table"},
      {"Loaded.kel", TPluginFileState::AlreadyLoaded, ""},
      {"NoInfo.kel", TPluginFileState::NotAPlugin, "does not export GetPluginInfo, an entry point"},
      {"NoRegister.kel", TPluginFileState::NotAPlugin,
       "does not export RegisterKelvarin, an entry point a manager needs"},
      {"Other.kel", TPluginFileState::OtherFrameworkVersion, kFrameworkVersion},
      {"Reloadable.kel", TPluginFileState::Loadable, ""},
      {"Text.kel", TPluginFileState::NotAPlugin, "not an ELF file"},
  };
  ASSERT_EQ(list.size(), std::size(expected));
  for (std::size_t i = 0; i < list.size(); ++i) {
    SCOPED_TRACE(expected[i].file);
    EXPECT_EQ(list[i].FileName, folder.file(expected[i].file));
    EXPECT_EQ(list[i].State, expected[i].state) << PluginFileStateName(list[i].State);
    EXPECT_NE(list[i].Reason.find(expected[i].reason), std::string::npos) << list[i].Reason;
  }
  const PluginSummary& described = list[5].Plugin;
  EXPECT_EQ(described.deepName, "Reloadable");
  EXPECT_EQ(described.maxInstances, 1);
  EXPECT_EQ(described.frameworkVersion, kFrameworkVersion);
  ASSERT_EQ(described.commands.size(), 2u);
  EXPECT_EQ(described.commands[1].name, "Pump");
  ASSERT_EQ(described.commands[1].params.size(), 1u);
  EXPECT_EQ(described.commands[1].params[0].type, "ptInteger");
  // Nothing but the loaded one was mapped.
  EXPECT_TRUE(isMapped(folder.file("Loaded.kel")));
  EXPECT_FALSE(isMapped(folder.file("Reloadable.kel")));
  EXPECT_FALSE(isMapped(folder.file("Other.kel")));
}

} // namespace
} // namespace kelvarin::test
