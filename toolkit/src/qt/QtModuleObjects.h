// Which QObjects code of a plug-in module made, so that none that calls into the
// module outlives its unmapping.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

class QObject;
struct link_map;

namespace keltk::qt {

class ModuleObjects {
public:
  // One for the process: Qt's object hooks are process-wide too. Never destroyed,
  // as Qt destroys objects until the very end of the process.
  static ModuleObjects& instance();

  void watch(void* module);
  // Deletes the module's timers that live on the calling thread and that `isPeer`
  // does not claim; answers how many of its other objects live, plus one until
  // the calls posted on this thread before now are delivered.
  std::size_t release(void* module, const std::function<bool(const QObject*)>& isPeer);
  void forget(void* module);

private:
  struct Module {
    void* handle;
    link_map* map;
    // Set by a call posted behind everything the module may have posted.
    std::shared_ptr<std::atomic<bool>> drained;
  };
  struct Made {
    link_map* map;
    // Made by Qt's object library on the module's behalf (a timer of its own, one
    // that QTimer::singleShot makes), not lazily by Qt for its own use.
    bool direct;
  };

  ModuleObjects() = default;
  static void added(QObject* object);
  static void removed(QObject* object);
  void record(QObject* object);
  bool install();
  void uninstall();
  Module* find(void* handle);

  std::mutex mutex_;
  std::vector<Module> modules_;
  std::unordered_map<QObject*, Made> objects_;
  std::atomic<bool> watching_ = false;
  bool installed_ = false;
  link_map* qtCore_ = nullptr;
  void (*previousAdded_)(QObject*) = nullptr;
  void (*previousRemoved_)(QObject*) = nullptr;
};

} // namespace keltk::qt
