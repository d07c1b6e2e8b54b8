// Each copy of the framework starts on its own and keeps its own state: the one
// this program carries inside, and the shared library that plug-in modules use.
#include "FrameworkTestSupport.h"
#include "Origin.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

namespace kelvarin::test {
namespace {

TEST(FrameworkCopies, TheBuiltInCopyStartedBeforeMain) {
  EXPECT_TRUE(FrameworkInitialized());
  EXPECT_TRUE(DictionaryLoaded());
  EXPECT_EQ(smrUnexpectedError.ErrorCode, 0xE018);
  EXPECT_NE(keltk::FindClass("TulmKelMan"), nullptr);
}

TEST(FrameworkCopies, TheSharedLibraryStartsItsOwnCopy) {
  void* library = ::dlopen(KELVARIN_FRAMEWORK_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << ::dlerror();

  // Looked up by their link names: these are the library's own, not this program's.
  auto initialized =
      reinterpret_cast<bool (*)()>(::dlsym(library, "_ZN8kelvarin20FrameworkInitializedEv"));
  auto unexpected = static_cast<const TKelMethodResult* const*>(
      ::dlsym(library, "_ZN8kelvarin18smrUnexpectedErrorE"));
  auto findOrigin = reinterpret_cast<LiveOrigin (*)(const void*)>(
      ::dlsym(library, "_ZN8kelvarin14FindLiveOriginEPKv"));
  ASSERT_NE(initialized, nullptr);
  ASSERT_NE(unexpected, nullptr);
  ASSERT_NE(findOrigin, nullptr);
  EXPECT_NE(reinterpret_cast<void*>(initialized), reinterpret_cast<void*>(&FrameworkInitialized));

  EXPECT_TRUE(initialized());
  const TKelMethodResult* theirs = *unexpected;
  EXPECT_NE(theirs, &smrUnexpectedError);
  EXPECT_FALSE(theirs->Success);
  EXPECT_EQ(theirs->ErrorCode, 0xE018);
  EXPECT_EQ(theirs->ErrorMsg, "Unexpected error.");
  EXPECT_STREQ(theirs->ErrorClass->name, "EulmKelError");

  // A manager of this copy is unknown to the other copy's registry.
  TempDir dir;
  auto manager = makeManager(dir);
  manager->Log()->SetDumpOn(doNever);
  EXPECT_TRUE(IsLiveManager(manager.get()));
  EXPECT_EQ(findOrigin(manager.get()).kind, OriginKind::None);
  manager.reset();
  EXPECT_FALSE(IsLiveManager(manager.get()));

  ::dlclose(library);
}

} // namespace
} // namespace kelvarin::test
