#include "QtModuleObjects.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <algorithm>
#include <cstring>
#include <dlfcn.h>
#include <execinfo.h>
#include <link.h>

// The table through which QtCore tells debugging tools of every QObject made and
// destroyed. Qt installs no header for it; its layout is versioned in slot 0.
extern "C" quintptr qtHookData[];

namespace keltk::qt {

namespace {

enum HookIndex : std::size_t {
  HookDataVersion = 0,
  HookDataSize = 1,
  AddQObject = 3,
  RemoveQObject = 4
};
using ObjectHook = void (*)(QObject*);

// Enough to get from the hook through Qt's constructors to the code that asked.
constexpr int kFrames = 16;

// The loaded file that holds `address`, or null.
link_map* imageOf(const void* address) {
  dl_find_object found;
  return _dl_find_object(const_cast<void*>(address), &found) == 0 ? found.dlfo_link_map : nullptr;
}

bool isTimer(const QObject* object) {
  // QTimer::singleShot makes an object of a class of its own, not a QTimer.
  return object->inherits("QTimer") ||
         std::strcmp(object->metaObject()->className(), "QSingleShotTimer") == 0;
}

} // namespace

ModuleObjects& ModuleObjects::instance() {
  static auto* objects = new ModuleObjects;
  return *objects;
}

ModuleObjects::Module* ModuleObjects::find(void* handle) {
  auto it = std::find_if(modules_.begin(), modules_.end(),
                         [&](const Module& m) { return m.handle == handle; });
  return it != modules_.end() ? &*it : nullptr;
}

void ModuleObjects::watch(void* module) {
  link_map* map = nullptr;
  if (module == nullptr || dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) return;
  std::lock_guard lock(mutex_);
  if (find(module) != nullptr || !install()) return;
  modules_.push_back({module, map, nullptr});
  watching_ = true;
}

void ModuleObjects::forget(void* module) {
  std::lock_guard lock(mutex_);
  const Module* gone = find(module);
  if (gone == nullptr) return;
  std::erase_if(objects_, [&](const auto& entry) { return entry.second.map == gone->map; });
  modules_.erase(modules_.begin() + (gone - modules_.data()));
  if (!modules_.empty()) return;
  watching_ = false;
  uninstall();
}

bool ModuleObjects::install() {
  if (installed_) return true;
  if (qtHookData[HookDataVersion] < 1 || qtHookData[HookDataSize] <= RemoveQObject) return false;
  // The first backtrace loads the unwinder; not inside a hook.
  void* frame = nullptr;
  backtrace(&frame, 1);
  qtCore_ = imageOf(reinterpret_cast<const void*>(&qVersion));
  previousAdded_ = reinterpret_cast<ObjectHook>(qtHookData[AddQObject]);
  previousRemoved_ = reinterpret_cast<ObjectHook>(qtHookData[RemoveQObject]);
  qtHookData[AddQObject] = reinterpret_cast<quintptr>(&ModuleObjects::added);
  qtHookData[RemoveQObject] = reinterpret_cast<quintptr>(&ModuleObjects::removed);
  installed_ = true;
  return true;
}

void ModuleObjects::uninstall() {
  // A tool that chained to our hooks after us still calls them: they stay then.
  if (qtHookData[AddQObject] != reinterpret_cast<quintptr>(&ModuleObjects::added) ||
      qtHookData[RemoveQObject] != reinterpret_cast<quintptr>(&ModuleObjects::removed))
    return;
  qtHookData[AddQObject] = reinterpret_cast<quintptr>(previousAdded_);
  qtHookData[RemoveQObject] = reinterpret_cast<quintptr>(previousRemoved_);
  installed_ = false;
}

void ModuleObjects::added(QObject* object) {
  ModuleObjects& self = instance();
  if (self.watching_.load(std::memory_order_relaxed)) self.record(object);
  if (self.previousAdded_ != nullptr) self.previousAdded_(object);
}

void ModuleObjects::removed(QObject* object) {
  ModuleObjects& self = instance();
  if (self.watching_.load(std::memory_order_relaxed)) {
    std::lock_guard lock(self.mutex_);
    self.objects_.erase(object);
  }
  if (self.previousRemoved_ != nullptr) self.previousRemoved_(object);
}

void ModuleObjects::record(QObject* object) {
  void* frames[kFrames];
  const int count = backtrace(frames, kFrames);
  link_map* callers[kFrames];
  // A return address follows its call: the byte before it belongs to the caller.
  for (int i = 0; i < count; ++i)
    callers[i] = imageOf(static_cast<const char*>(frames[i]) - 1);
  // One in the module's own image (a static) is destroyed with the module.
  link_map* home = imageOf(object);
  std::lock_guard lock(mutex_);
  bool inCore = false;
  bool direct = true;
  for (int i = 0; i < count; ++i) {
    link_map* caller = callers[i];
    if (caller != nullptr && caller == qtCore_) {
      inCore = true;
      continue;
    }
    if (std::any_of(modules_.begin(), modules_.end(),
                    [&](const Module& m) { return m.map == caller; })) {
      if (caller != home) objects_[object] = {caller, inCore && direct};
      return;
    }
    if (inCore) direct = false;
  }
}

std::size_t ModuleObjects::release(void* module,
                                   const std::function<bool(const QObject*)>& isPeer) {
  // Asking Qt for the thread may make an object: not under the lock.
  const QThread* here = QThread::currentThread();
  std::vector<QObject*> timers;
  std::size_t alive = 0;
  std::shared_ptr<std::atomic<bool>> drained;
  bool post = false;
  {
    std::lock_guard lock(mutex_);
    Module* m = find(module);
    if (m == nullptr) return 0;
    for (const auto& [object, made] : objects_) {
      // Objects Qt made for itself while the module's code was on the stack (a
      // cache, a plug-in loader of its own) are Qt's, not the module's.
      if (made.map != m->map || !made.direct) continue;
      // One on another thread can only be deleted there.
      if (object->thread() != here) {
        ++alive;
      } else if (isPeer(object)) {
        continue;
      } else if (isTimer(object)) {
        timers.push_back(object);
      } else {
        ++alive; // Qt may hold it: only its owner can let it go
      }
    }
    post = m->drained == nullptr;
    if (post) m->drained = std::make_shared<std::atomic<bool>>(false);
    drained = m->drained;
  }
  // Deleting a timer stops it and destroys its functor while the code is mapped;
  // one may go with another (its parent).
  std::vector<QPointer<QObject>> guarded(timers.begin(), timers.end());
  for (const QPointer<QObject>& timer : guarded)
    delete timer.data();
  // QTimer::singleShot(0, ...) and queued calls post an event holding a functor of
  // the module, and no object. Events of one priority are delivered in the order
  // they were posted: once this call runs, the module's are delivered too.
  if (post) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || !QMetaObject::invokeMethod(
                              app, [drained] { *drained = true; }, Qt::QueuedConnection))
      *drained = true;
  }
  return alive + (*drained ? 0 : 1);
}

} // namespace keltk::qt
