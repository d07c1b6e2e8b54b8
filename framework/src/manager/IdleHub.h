// The application idle handler that every manager of a framework copy installs.
// It carries out the queued unloads of each live manager of the copy, so that
// the one hook serves them all, and it outlives them: a host handler that
// chained to it after the first load reaches nothing freed once a manager is gone.
#pragma once

#include "ModuleLoader.h"

#include <keltk/Application.h>
#include <keltk/Object.h>
#include <vector>

namespace kelvarin {

class TulmKelMan;

class IdleHub : public keltk::TObject {
public:
  static IdleHub& instance();

  keltk::TIdleEvent handler() { return keltk::TIdleEvent::bind<&IdleHub::onIdle>(this); }
  // Also drains the queues from the application's own idle handlers, beside
  // OnIdle: a handler a plug-in put in OnIdle without chaining cannot stop them.
  void serve(keltk::TApplication* app);
  void add(TulmKelMan* manager);
  void remove(TulmKelMan* manager);
  // A live manager other than `manager`, or null.
  TulmKelMan* anyManagerBut(const TulmKelMan* manager) const;
  // Whether `test` holds for a live manager of this copy.
  template <class Test> bool anyManager(Test test) const {
    if (managers_ != nullptr)
      for (const TulmKelMan* m : *managers_)
        if (test(*m)) return true;
    return false;
  }
  // Forgets the idle handlers the managers chain to that lie in `module`; true
  // when there was one.
  bool forgetChainedHandlersIn(const ModuleSpan& module);
  // Whether `manager` is alive (of this framework copy).
  bool has(const TulmKelMan* manager) const;

  // Drains every live manager's queue; the manager that holds the hook then
  // chains to the handler it found (TulmKelMan::OnAppIdle). An idle step raised
  // while one is running does nothing at all.
  void onIdle(keltk::TObject* Sender, bool& Done);

private:
  void service(keltk::TObject* Sender, bool& Done);
  keltk::TIdleEvent serviceHandler() { return keltk::TIdleEvent::bind<&IdleHub::service>(this); }
  // Drains the queue of every live manager but `holder` that is not in its own
  // idle handler.
  void drainAllBut(const TulmKelMan* holder);

  // Made with the first manager and freed with the last, so that a framework
  // copy that is unloaded leaves nothing behind.
  std::vector<TulmKelMan*>* managers_ = nullptr;
  bool running_ = false;
  keltk::TApplication* served_ = nullptr;
};

} // namespace kelvarin
