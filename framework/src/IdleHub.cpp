#include "IdleHub.h"

#include "kelvarin/manager.h"

#include <algorithm>
#include <utility>

namespace kelvarin {

IdleHub& IdleHub::instance() {
  static IdleHub hub;
  return hub;
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

void IdleHub::onIdle(keltk::TObject* Sender, bool& Done) {
  if (running_) return;
  running_ = true;
  Done = true;
  // A copy: unload handlers may make or free managers.
  const std::vector<TulmKelMan*> managers =
      managers_ != nullptr ? *managers_ : std::vector<TulmKelMan*>();
  auto live = [&](TulmKelMan* m) {
    return managers_ != nullptr &&
           std::find(managers_->begin(), managers_->end(), m) != managers_->end();
  };
  TulmKelMan* holder = nullptr;
  for (TulmKelMan* m : managers) {
    if (!live(m)) continue;
    if (holder == nullptr && m->hookedApplication_ != nullptr) {
      holder = m;
      continue;
    }
    if (!m->inIdle_) m->drainPendingUnloads();
  }
  if (holder != nullptr && live(holder)) holder->OnAppIdle(Sender, Done);
  running_ = false;
}

} // namespace kelvarin
