// A plug-in menu of 200 items in three levels merged into, and taken out of, the
// menu bar of a shown host form, against building and destroying the same
// QMenu/QAction tree on that bar directly. Goal: at most twice the direct cost.
// Runs offscreen unless a display is named.
#include "MenuTree200.h"

#include <QApplication>
#include <keltk/Application.h>
#include <keltk/Forms.h>
#include <keltk/QtBackend.h>

namespace {

using namespace menubench;

// The host: a shown form whose menu bar has File, Edit and Help, and a manager;
// the plug-in's source menu belongs to a holder component as it would to a plug-in.
struct Host {
  Host() {
    offscreenUnlessADisplayIsNamed();
    qt = new QApplication(argc, argv);
    keltk::InstallQtBackend(argc, argv);
    form = keltk::CreateObject<keltk::TForm>(nullptr, keltk::CreateNew);
    auto* menu = keltk::CreateObject<keltk::TMainMenu>(form);
    form->SetMenu(menu);
    for (const char* caption : {"&File", "&Edit", "&Help"})
      menu->Items()->Add(newItem(form, caption));
    keltk::Application()->SetMainForm(form);
    form->Show();
    manager = keltk::CreateObject<kelvarin::TulmKelMan>(form);
    holder = keltk::CreateObject<keltk::TComponent>(nullptr);
    source = sourceMenu(holder);
    bar = keltk::PeerWidget(*form)->findChild<QMenuBar*>();
  }

  int argc = 1;
  char name[11] = "menu_bench";
  char* argv[2] = {name, nullptr};
  QApplication* qt = nullptr;
  keltk::TForm* form = nullptr;
  kelvarin::TulmKelMan* manager = nullptr;
  keltk::TComponent* holder = nullptr;
  keltk::TMenuItem* source = nullptr;
  QMenuBar* bar = nullptr;
};

Host& host() {
  static Host* shared = new Host; // lives until the process ends, as Qt does
  return *shared;
}

void BM_MergeMenu200(benchmark::State& state) {
  Host& h = host();
  mergeAndTakeOut(state, *h.manager, h.source);
}
BENCHMARK(BM_MergeMenu200)->Unit(benchmark::kMicrosecond);

void BM_BuildQtMenu200(benchmark::State& state) {
  buildAndDestroyOn(state, host().bar);
}
BENCHMARK(BM_BuildQtMenu200)->Unit(benchmark::kMicrosecond);

// The model's share: the same merge while the host's form has no window.
void BM_MergeMenu200Unshown(benchmark::State& state) {
  Host& h = host();
  h.form->Menu()->SetPeer(nullptr); // the bar goes (so this one runs last)
  mergeAndTakeOut(state, *h.manager, h.source);
}
BENCHMARK(BM_MergeMenu200Unshown)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
