// What a module's code leaves in Qt is gone, or waited for, before the module is.
#include "GuiTestSupport.h"

#include <dlfcn.h>
#include <memory>

using namespace guitest;

namespace {

class ModuleObjectsTest : public GuiTest {};

} // namespace

TEST_F(ModuleObjectsTest, NothingOfAnUnmappedModuleIsCalledAnyMore) {
  TGuiBackend* backend = app()->GuiBackend();
  void* module = dlopen(KELVARIN_QT_LEFTOVERS, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(module, nullptr) << dlerror();
  backend->watchModule(module);
  std::unique_ptr<QObject> plain(
      reinterpret_cast<QObject* (*)()>(dlsym(module, "LeaveQtWorkBehind"))());
  QTimer hostTimer; // the host's own: not the module's business
  hostTimer.start(10);

  // The timers go at once; the plain object lives on, and the queued call is
  // waited for until the loop has delivered it.
  EXPECT_EQ(backend->releaseModuleObjects(module), 2U);
  EXPECT_TRUE(hostTimer.isActive());
  EXPECT_TRUE(waitUntil([&] { return backend->releaseModuleObjects(module) == 1; }));
  plain.reset();
  EXPECT_EQ(backend->releaseModuleObjects(module), 0U);

  ASSERT_EQ(dlclose(module), 0);
  backend->forgetModule(module);
  void* again = dlopen(KELVARIN_QT_LEFTOVERS, RTLD_NOW | RTLD_NOLOAD);
  EXPECT_EQ(again, nullptr) << "the module is still mapped";
  if (again != nullptr) dlclose(again);
  // Any timer of the module left would fire into unmapped code now.
  waitUntil([] { return false; }, 200);
  EXPECT_TRUE(hostTimer.isActive());
}
