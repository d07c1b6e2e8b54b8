// A host program as the sample host is built: the framework and the toolkit
// linked inside, GetPluginInfo its only export. The plug-ins it loads use the
// shared framework library, a second copy with its own state.
#include "../framework/LifecycleSupport.h"

#include <cstdlib>
#include <dlfcn.h>

namespace kelvarin::test {
namespace {

// A symbol of the shared framework library, looked up by its link name.
template <class T> T* libraryObject(const char* name) {
  void* library = ::dlopen(loadedModuleFile("libulmKELrp.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (library == nullptr) return nullptr;
  void* symbol = ::dlsym(library, name);
  ::dlclose(library);
  return reinterpret_cast<T*>(symbol);
}

using StaticHostTest = LifecycleTest;

TEST_F(StaticHostTest, ExportsGetPluginInfoAndNoFrameworkSymbol) {
  void* self = ::dlopen(nullptr, RTLD_NOW);
  auto own = reinterpret_cast<TGetPluginInfoFunc>(::dlsym(self, "GetPluginInfo"));
  ASSERT_NE(own, nullptr);
  EXPECT_EQ(::dlsym(self, "_ZN8kelvarin5smrOkE"), nullptr);
  EXPECT_EQ(::dlsym(self, "_ZN8kelvarin12ErrorMessageB5cxx11Ei"), nullptr);
  EXPECT_EQ(::dlsym(self, "RegisterKelvarin"), nullptr);
  char info[64];
  EXPECT_EQ(own(info, sizeof info, SealOrigin(manager.get())), 24);
  EXPECT_STREQ(info, "ProdVersion=1.0.01.428\r\n");
  ::dlclose(self);
}

TEST_F(StaticHostTest, TheTwoCopiesKeepTheirOwnState) {
  TulmKel* plugin = load("Minimal");
  ASSERT_NE(plugin, nullptr);

  // The plug-in's GetPluginInfo, answered by the library's copy, knows this
  // program's manager.
  auto theirs =
      reinterpret_cast<TGetPluginInfoFunc>(::dlsym(plugin->ModuleHandle(), "GetPluginInfo"));
  ASSERT_NE(theirs, nullptr);
  char info[64];
  EXPECT_EQ(theirs(info, sizeof info, SealOrigin(manager.get())), 24);
  EXPECT_STREQ(info, "ProdVersion=1.0.01.428\r\n");

  // Shared results: two records.
  const auto* theirOk = libraryObject<const TKelMethodResult* const>("_ZN8kelvarin5smrOkE");
  ASSERT_NE(theirOk, nullptr);
  EXPECT_NE(*theirOk, &smrOk);
  EXPECT_EQ(**theirOk, smrOk);

  // Catalogues: a dictionary read by this copy changes only this copy's texts.
  auto theirMessage =
      libraryObject<const std::string*(std::int32_t)>("_ZN8kelvarin12ErrorMessageB5cxx11Ei");
  ASSERT_NE(theirMessage, nullptr);
  TempDir config;
  writeFile(config.file("ulmKELrp.ini"),
            "[Dictionary]\n0001=Unknown Error.\n0002=Missing: %s / [%s] / %s\n"
            "[ErrorMessages]\nE001=Module \"%s\" would not load.\n");
  ::setenv("KELVARIN_CONFIG_DIR", config.path().c_str(), 1);
  RestoreBuiltInTexts();
  LoadDictionary();
  ::unsetenv("KELVARIN_CONFIG_DIR");
  EXPECT_EQ(*ErrorMessage(E001), "Module \"%s\" would not load.");
  EXPECT_EQ(*theirMessage(E001), "Plugin \"%s\" could not be loaded by Windows.");
  RestoreBuiltInTexts();
  InitMethodResults();

  // Current application objects: the plug-in's copy started with its own, and now
  // uses this program's.
  EXPECT_EQ(plugin->HostApplication(), keltk::Application());
  EXPECT_NE(plugin->OwnApplication(), keltk::Application());
  EXPECT_NE(plugin->OwnScreen(), keltk::Screen());
  EXPECT_EQ(manager->UnloadPlugin(plugin), smrOk);
}

// The library's copy adopted this program's application at Initialize: its boxes
// reach this program's handler (the fixture's capture), not standard error.
TEST_F(StaticHostTest, APlugInsMessageBoxReachesTheHostsHandler) {
  TulmKel* commander = load("Commander");
  ASSERT_NE(commander, nullptr);
  const std::string text = "Told by the plug-in";
  testing::internal::CaptureStderr();
  EXPECT_EQ(manager->ExecuteCommand(commander, "Tell", {keltk::VarStr(text)}), smrOk);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(boxes.shown, std::vector<std::string>{text});
}

// The library goes with the last plug-in and comes back with the next one: still
// the same framework copy to the user, who is told about the dictionary once.
TEST_F(StaticHostTest, TheLibrarysDictionaryBoxIsShownOnceAcrossMappings) {
  TempDir config;
  writeFile(config.file("ulmKELrp.ini"), "[Dictionary]\n0001=Unknown\n");
  ::setenv("KELVARIN_CONFIG_DIR", config.path().c_str(), 1);
  std::string library;
  std::size_t shown = 0;
  for (int round = 0; round < 3; ++round) {
    testing::internal::CaptureStderr();
    ASSERT_NE(load("Minimal"), nullptr) << round;
    const std::string told = testing::internal::GetCapturedStderr();
    for (std::size_t at = told.find("ENTRY  0002"); at != std::string::npos;
         at = told.find("ENTRY  0002", at + 1))
      ++shown;
    if (round == 0) library = loadedModuleFile("libulmKELrp.so");
    EXPECT_EQ(manager->UnloadAllPlugins(false), smrOk);
    EXPECT_FALSE(isMapped(library)) << round;
  }
  ::unsetenv("KELVARIN_CONFIG_DIR");
  EXPECT_FALSE(library.empty());
  EXPECT_EQ(shown, 1u);
}

} // namespace
} // namespace kelvarin::test
