// Unloads that must wait: a plug-in whose own code is running (on any thread), a
// plug-in whose unload is already under way, and the queue the idle handler drains.
#include "FrameworkTestSupport.h"
#include "LifecycleSupport.h"
#include "PluginCallScope.h"
#include "RunningCode.h"

#include <chrono>
#include <csignal>
#include <dlfcn.h>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

namespace kelvarin::test {
namespace {

struct Handlers : keltk::TObject {
  TulmKelMan* manager = nullptr;
  TulmKel* target = nullptr;
  std::vector<std::string> calls;
  TKelMethodResult answer;

  void UnloadTarget(TulmKel* plugin) {
    calls.push_back("before unload " + plugin->DeepName());
    answer = manager->UnloadPlugin(target);
  }
  // What a modal window opened from an unload handler does: run idle steps.
  void IdleInside(TulmKel* plugin) {
    calls.push_back("before unload " + plugin->DeepName() + ", " +
                    std::to_string(manager->PendingUnloadCount()) + " pending");
    keltk::Application()->Idle();
  }
  void PreviousIdle(keltk::TObject*, bool& Done) {
    calls.push_back(std::string("previous idle, done ") + (Done ? "true" : "false"));
  }
  void UnloadAll(TulmKel* plugin) {
    calls.push_back("before unload " + plugin->DeepName());
    if (calls.size() == 1) answer = manager->UnloadAllPlugins(false);
  }
};

class DeferredUnloadTest : public ::testing::Test {
protected:
  void SetUp() override {
    idleBefore = keltk::Application()->OnIdle();
    keltk::Application()->SetOnIdle({});
    manager = makeManager(dir);
    manager->Log()->SetDumpOn(doNever);
    manager->HookApplicationIdle();
    handlers.manager = manager.get();
  }
  void TearDown() override {
    manager.reset();
    keltk::Application()->SetOnIdle(idleBefore);
  }
  std::vector<std::string> lines() const { return linesAfterStamp(*manager->Log()); }

  TempDir dir;
  MessageBoxCapture boxes;
  Handlers handlers;
  keltk::TIdleEvent idleBefore;
  keltk::ObjectPtr<TulmKelMan> manager;
};

TEST_F(DeferredUnloadTest, APluginWhoseCodeRunsIsUnloadedAtIdleTime) {
  TulmKel* a = addPlugin(*manager, "A", "/p/a.kel");
  const std::size_t before = manager->Log()->Entries().Count();
  {
    PluginCallScope running(a);
    EXPECT_TRUE(a->CodeRunning());
    // The caller is told the request was taken, and the log says it waits.
    EXPECT_EQ(manager->UnloadPlugin(false, 0), smrOk);
    EXPECT_EQ(manager->UnloadPlugin(a), smrOk); // asked twice, queued once
    EXPECT_EQ(manager->GetPluginCount(), 1);
    EXPECT_TRUE(manager->UnloadPending(a));
    EXPECT_EQ(manager->PendingUnloadCount(), 1);
    EXPECT_EQ(manager->Log()->Entries().Count(), before + 1);
    EXPECT_EQ(lines().back(),
              "  MANAGER              A  Plugin Unload Queued: \"A\" (\"/p/a.kel\").");
    // An idle event while the code still runs leaves it queued.
    keltk::Application()->Idle();
    EXPECT_EQ(manager->GetPluginCount(), 1);
    EXPECT_EQ(manager->PendingUnloadCount(), 1);
  }
  EXPECT_FALSE(a->CodeRunning());
  keltk::Application()->Idle();
  EXPECT_EQ(manager->GetPluginCount(), 0);
  EXPECT_EQ(manager->PendingUnloadCount(), 0);
  EXPECT_EQ(lines().back(), "  MANAGER              A  Plugin Unloaded: \"A\" (\"/p/a.kel\").");
}

TEST_F(DeferredUnloadTest, UnloadingAllFromAPluginsHandlerLeavesThatPluginForLater) {
  TulmKel* a = addPlugin(*manager, "A", "/p/a.kel");
  TulmKel* b = addPlugin(*manager, "B", "/p/b.kel");
  addPlugin(*manager, "C", "/p/c.kel");
  handlers.target = a;
  a->SetOnAnyPluginBeforeUnload(
      TEventOnAnyPluginBeforeUnload::bind<&Handlers::UnloadAll>(&handlers));
  // B's unload asks A, whose handler unloads everything: B's own unload is under
  // way (it waits), C goes now, A's code runs (it waits).
  EXPECT_EQ(manager->UnloadPlugin(b), smrOk);
  EXPECT_EQ(handlers.answer, smrOk);
  ASSERT_EQ(manager->GetPluginCount(), 1);
  EXPECT_EQ(manager->GetPlugins(0), a);
  EXPECT_TRUE(manager->UnloadPending(a));
  EXPECT_FALSE(manager->UnloadPending(b)); // gone, and out of the queue with it
  keltk::Application()->Idle();
  EXPECT_EQ(manager->GetPluginCount(), 0);
}

TEST_F(DeferredUnloadTest, AHostHandlerThatUnloadsThePluginBeingUnloaded) {
  TulmKel* a = addPlugin(*manager, "A", "/p/a.kel");
  handlers.target = a;
  manager->SetOnBeforeUnload(TEventOnBeforeUnload::bind<&Handlers::UnloadTarget>(&handlers));
  EXPECT_EQ(manager->UnloadPlugin(a), smrOk);
  EXPECT_EQ(handlers.calls, std::vector<std::string>{"before unload A"}); // not started again
  EXPECT_EQ(handlers.answer, smrOk);
  EXPECT_EQ(manager->GetPluginCount(), 0);
  EXPECT_EQ(manager->PendingUnloadCount(), 0);
}

TEST_F(DeferredUnloadTest, ABeforeUnloadHandlerThatShiftsTheList) {
  TulmKel* a = addPlugin(*manager, "A", "/p/a.kel");
  TulmKel* b = addPlugin(*manager, "B", "/p/b.kel");
  TulmKel* c = addPlugin(*manager, "C", "/p/c.kel");
  handlers.target = a; // unloaded while B's unload is asking around: B moves down
  manager->SetOnBeforeUnload(TEventOnBeforeUnload::bind<&Handlers::UnloadTarget>(&handlers));
  EXPECT_EQ(manager->UnloadPlugin(false, 1), smrOk);
  EXPECT_EQ(handlers.calls, (std::vector<std::string>{"before unload B", "before unload A"}));
  // B's own entry went, not the one that had taken its index.
  ASSERT_EQ(manager->GetPluginCount(), 1);
  EXPECT_EQ(manager->GetPlugins(0), c);
  (void)b;
}

TEST_F(DeferredUnloadTest, QueuedUnloadsGoNewestFirstAndOnlyOnce) {
  TulmKel* a = addPlugin(*manager, "A", "/p/a.kel");
  TulmKel* b = addPlugin(*manager, "B", "/p/b.kel");
  manager->UnloadPluginLater(a);
  manager->UnloadPluginLater(b);
  manager->UnloadPluginLater(a);
  manager->UnloadPluginLater(nullptr);
  EXPECT_EQ(manager->PendingUnloadCount(), 2);
  EXPECT_TRUE(keltk::Application()->Idle());
  const std::vector<std::string> log = lines();
  ASSERT_EQ(log.size(), 5u);
  EXPECT_EQ(log[1], "  MANAGER              A  Unloading Plugin: \"B\" (\"/p/b.kel\")...");
  EXPECT_EQ(log[3], "  MANAGER              A  Unloading Plugin: \"A\" (\"/p/a.kel\")...");
}

TEST_F(DeferredUnloadTest, AnIdleStepInsideTheIdleHandlerDoesNothing) {
  keltk::Application()->SetOnIdle(keltk::TIdleEvent::bind<&Handlers::PreviousIdle>(&handlers));
  manager->HookApplicationIdle();
  TulmKel* a = addPlugin(*manager, "A", "/p/a.kel");
  TulmKel* b = addPlugin(*manager, "B", "/p/b.kel");
  manager->SetOnBeforeUnload(TEventOnBeforeUnload::bind<&Handlers::IdleInside>(&handlers));
  manager->UnloadPluginLater(a);
  manager->UnloadPluginLater(b);
  keltk::Application()->Idle();
  // The nested steps neither took A early nor reached the previous handler.
  EXPECT_EQ(handlers.calls,
            (std::vector<std::string>{"before unload B, 1 pending", "before unload A, 0 pending",
                                      "previous idle, done true"}));
  EXPECT_EQ(manager->GetPluginCount(), 0);
}

TEST_F(DeferredUnloadTest, CancellingWithNothingToCancel) {
  EXPECT_EQ(manager->CancelPlugin(nullptr, "/p/none.kel", nullptr), smrOk);
  EXPECT_EQ(lines().back(),
            "  MANAGER              A  Canceling Loading Of Plugin: \"/p/none.kel\".");
  EXPECT_EQ(lines().size(), 2u);
}

TEST_F(DeferredUnloadTest, CancellingAPluginInTheListDestroysItAndRecounts) {
  TulmKel* a = addPlugin(*manager, "Same", "/p/one.kel");
  TulmKel* b = addPlugin(*manager, "Same", "/p/two.kel");
  FrameworkAccess::setInstanceCount(*a, 2);
  FrameworkAccess::setInstanceCount(*b, 2);
  EXPECT_EQ(manager->CancelPlugin(b, "/p/two.kel", nullptr), smrOk);
  ASSERT_EQ(manager->GetPluginCount(), 1);
  EXPECT_EQ(a->InstanceCount(), 1); // the one left carries the true count
}

// Another thread's stack holds the module's code: a plug-in's thread waiting in
// it, and not once that thread has ended, while a thread of the host answers
// without it; a thread that blocks every signal cannot be asked, and holds it.
using RunningCodeTest = LifecycleTest;

// A word of the stack that points into the module without being a return
// address, an entry point kept in a local, is no running code.
TEST_F(RunningCodeTest, APointerIntoTheModuleIsNoReturnAddress) {
  TulmKel* plugin = load("Commander");
  ASSERT_NE(plugin, nullptr);
  void* module = plugin->ModuleHandle();
  void* volatile kept = ::dlsym(module, "RegisterKelvarin");
  ASSERT_NE(kept, nullptr);
  EXPECT_FALSE(ModuleCodeOnStack(module));
  EXPECT_NE(kept, nullptr);
}

// Zeroes the stack below the caller, where loading the module left words that
// lead into it: the signal's frame goes there.
[[gnu::noinline]] void clearStackBelow() {
  char dead[64 * 1024];
  ::explicit_bzero(dead, sizeof dead);
}

// A signal that interrupts the module's own code finds it running, though the
// only word that leads there is the interrupted instruction in the signal's context.
TEST(RunningCodeSignalTest, CodeThatASignalInterruptedIsRunning) {
  using Busy = void (*)(volatile std::sig_atomic_t*, volatile std::sig_atomic_t*);
  // Kept out of this frame, where the walk would find them above the signal's.
  static void* module;
  static Busy busy;
  static volatile std::sig_atomic_t started, stop, running;
  started = 0;
  stop = 0;
  running = -1;
  module = ::dlopen(KELVARIN_FIXTURE_DIR "/FxBusy.so", RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(module, nullptr) << ::dlerror();
  busy = reinterpret_cast<Busy>(::dlsym(module, "kelvarin_fixture_busy"));
  ASSERT_NE(busy, nullptr);
  struct sigaction action {};
  struct sigaction previous {};
  action.sa_handler = [](int) {
    running = ModuleCodeOnStack(module) ? 1 : 0;
    stop = 1;
  };
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(::sigaction(SIGUSR2, &action, &previous), 0);
  const pthread_t self = ::pthread_self();
  std::thread sender([self] {
    while (started == 0)
      std::this_thread::yield();
    ::pthread_kill(self, SIGUSR2);
  });
  clearStackBelow();
  busy(&started, &stop);
  sender.join();
  ::sigaction(SIGUSR2, &previous, nullptr);
  EXPECT_EQ(running, 1);
  ::dlclose(module);
}

TEST_F(RunningCodeTest, ModuleCodeOnAnyThreadAsksEveryThread) {
  TulmKel* commander = load("Commander");
  ASSERT_NE(commander, nullptr);
  void* module = commander->ModuleHandle();
  auto threads = [] {
    const std::filesystem::directory_iterator tasks("/proc/self/task");
    return std::distance(begin(tasks), end(tasks));
  };
  // Answers come by the scheduler's leave: a busy machine may keep one from
  // coming in time, which counts as holding until the next question.
  auto freeWithin5s = [&](long most) {
    for (int tries = 0; tries < 500; ++tries) {
      if (threads() <= most && !ModuleCodeOnAnyThread(module)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  };
  const auto before = threads();
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  ASSERT_EQ(manager->ExecuteCommand(commander, "Linger", {keltk::VarInt(ends[0])}), smrOk);
  std::promise<void> release;
  const std::shared_future<void> released = release.get_future().share();
  std::thread host([released] { released.wait(); });
  EXPECT_FALSE(ModuleCodeOnStack(module));
  EXPECT_TRUE(ModuleCodeOnAnyThread(module));
  ::close(ends[1]);
  // The plug-in's thread runs the module's code until it ends (its state's destructor).
  EXPECT_TRUE(freeWithin5s(before + 1));
  ::close(ends[0]);

  std::promise<void> deafened;
  std::thread deaf([&deafened, released] {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    deafened.set_value();
    released.wait();
  });
  deafened.get_future().wait();
  EXPECT_TRUE(ModuleCodeOnAnyThread(module));
  release.set_value();
  deaf.join();
  host.join();
  EXPECT_TRUE(freeWithin5s(before));
}

// The unload of a plug-in whose thread is still in its code, and that left a
// call for the application to run, goes through; its module stays mapped until
// both are done.
TEST_F(RunningCodeTest, AModuleGoesOnceItsThreadsAndPostedCallsAreDone) {
  TulmKel* commander = load("Commander");
  ASSERT_NE(commander, nullptr);
  const std::string path = commander->FileName();
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  ASSERT_EQ(manager->ExecuteCommand(commander, "Linger", {keltk::VarInt(ends[0])}), smrOk);
  ASSERT_EQ(manager->ExecuteCommand(commander, "PostLater", {}), smrOk);
  ASSERT_EQ(manager->UnloadPlugin(commander), smrOk);
  EXPECT_EQ(manager->PluginCount(), 0);
  EXPECT_TRUE(isMapped(path));
  for (int i = 0; i < 3; ++i)
    keltk::Application()->Idle();
  EXPECT_TRUE(isMapped(path));
  ::close(ends[1]);
  bool unmapped = false;
  for (int tries = 0; tries < 500 && !unmapped; ++tries) {
    keltk::Application()->Idle();
    unmapped = !isMapped(path);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(unmapped);
  ::close(ends[0]);
}

} // namespace
} // namespace kelvarin::test
