#include "IdleHub.h"

#include "Immortal.h"
#include "kelvarin/manager.h"

#include <algorithm>
#include <utility>

namespace kelvarin {

IdleHub& IdleHub::instance() {
  return Immortal<IdleHub>();
}

void IdleHub::add(TulmKelMan* manager) {
  if (managers_ == nullptr) managers_ = new std::vector<TulmKelMan*>;
  managers_->push_back(manager);
}

void IdleHub::remove(TulmKelMan* manager) {
  if (managers_ == nullptr) return;
  std::erase(*managers_, manager);
  if (!managers_->empty()) return;
  delete managers_;
  managers_ = nullptr;
  // A framework copy that goes leaves no handler of its own behind.
  if (keltk::TApplication* app = std::exchange(served_, nullptr))
    app->RemoveIdleHandler(serviceHandler());
}

void IdleHub::serve(keltk::TApplication* app) {
  if (served_ == app) return;
  if (served_ != nullptr) served_->RemoveIdleHandler(serviceHandler());
  served_ = app;
  app->AddIdleHandler(serviceHandler());
}

TulmKelMan* IdleHub::anyManagerBut(const TulmKelMan* manager) const {
  if (managers_ == nullptr) return nullptr;
  for (TulmKelMan* m : *managers_)
    if (m != manager) return m;
  return nullptr;
}

bool IdleHub::has(const TulmKelMan* manager) const {
  return managers_ != nullptr &&
         std::find(managers_->begin(), managers_->end(), manager) != managers_->end();
}

bool IdleHub::forgetChainedHandlersIn(const ModuleSpan& module) {
  bool found = false;
  if (managers_ != nullptr)
    for (TulmKelMan* m : *managers_)
      if (module.holds(reinterpret_cast<const void*>(m->savedOnIdle_.code()))) {
        m->savedOnIdle_ = {};
        found = true;
      }
  return found;
}

void IdleHub::drainAllBut(const TulmKelMan* holder) {
  // A copy: unload handlers may make or free managers.
  const std::vector<TulmKelMan*> managers =
      managers_ != nullptr ? *managers_ : std::vector<TulmKelMan*>();
  for (TulmKelMan* m : managers)
    if (m != holder && has(m) && !m->inIdle_) m->drainPendingUnloads();
}

void IdleHub::onIdle(keltk::TObject* Sender, bool& Done) {
  if (running_) return;
  running_ = true;
  Done = true;
  TulmKelMan* holder = nullptr;
  if (managers_ != nullptr)
    for (TulmKelMan* m : *managers_)
      if (m->hookedApplication_ != nullptr) {
        holder = m;
        break;
      }
  drainAllBut(holder);
  if (holder != nullptr && has(holder)) holder->OnAppIdle(Sender, Done);
  running_ = false;
}

void IdleHub::service(keltk::TObject*, bool&) {
  // Reached through OnIdle this step, the queues are empty by now.
  if (running_) return;
  running_ = true;
  drainAllBut(nullptr);
  running_ = false;
}

} // namespace kelvarin
