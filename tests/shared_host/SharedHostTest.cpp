// A host program built against the shared framework library and toolkit runtime
// module, which its plug-ins use too: one copy of everything, one context.
#include "../framework/LifecycleSupport.h"

namespace kelvarin::test {
namespace {

using SharedHostTest = LifecycleTest;

TEST_F(SharedHostTest, PluginsShareTheHostContext) {
  EXPECT_TRUE(manager->UsesToolkitModule());
  TulmKel* plugin = load("Minimal");
  ASSERT_NE(plugin, nullptr);
  EXPECT_EQ(plugin->OwnApplication(), plugin->HostApplication());
  EXPECT_EQ(manager->ToolkitModuleHandle(), nullptr); // already the program's own
  EXPECT_EQ(manager->UnloadPlugin(plugin), smrOk);
  const std::string path = fixture("Minimal");
  EXPECT_EQ(lines(), (std::vector<std::string>{
                         action("Manager Ready."),
                         action("Loading Plugin: \"" + path + "\"..."),
                         action("Plugin Loaded: \"kelMinimal\" (\"" + path + "\")."),
                         action("Unloading Plugin: \"Minimal\" (\"" + path + "\")..."),
                         action("Plugin Unloaded: \"Minimal\" (\"" + path + "\")."),
                     }));
  EXPECT_FALSE(isMapped(path));
}

TEST_F(SharedHostTest, APluginWithItsOwnCopyStillTakesTheContextOver) {
  TulmKel* plugin = load("OwnCopy");
  ASSERT_NE(plugin, nullptr);
  EXPECT_EQ(lines()[2],
            line("OwnCopy", 'A', "Context assumed from host application (was distinct)."));
  EXPECT_EQ(manager->UnloadPlugin(plugin), smrOk);
  EXPECT_EQ(lines()[lines().size() - 2], action("Original context restored (was changed)."));
  EXPECT_FALSE(isMapped(fixture("OwnCopy")));
}

} // namespace
} // namespace kelvarin::test
