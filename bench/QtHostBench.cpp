// The 200-item plug-in menu of menu_bench merged into, and taken out of, the
// program's own menu bar of a QtHost application, against building and
// destroying the same QMenu/QAction tree directly on the bar of a window the
// host does not watch (the host follows what the program adds to its own bar,
// which is not the yardstick's cost). Goal: at most twice the direct cost. Runs offscreen unless a
// display is named.
#include "MenuTree200.h"

#include <QApplication>
#include <QMainWindow>
#include <kelvarin/QtHost.h>

namespace {

using namespace menubench;

struct Program {
  Program() {
    offscreenUnlessADisplayIsNamed();
    qt = new QApplication(argc, argv);
    window = new QMainWindow;
    plain = new QMainWindow;
    for (QMainWindow* w : {window, plain}) {
      for (const char* title : {"&File", "&Edit", "&Help"})
        w->menuBar()->addMenu(title)->addAction("Entry");
      w->show();
    }
    host = new kelvarin::QtHost(window);
    holder = keltk::CreateObject<keltk::TComponent>(nullptr);
    source = sourceMenu(holder);
  }

  int argc = 1;
  char name[13] = "qthost_bench";
  char* argv[2] = {name, nullptr};
  QApplication* qt = nullptr;
  QMainWindow* window = nullptr;
  QMainWindow* plain = nullptr;
  kelvarin::QtHost* host = nullptr;
  keltk::TComponent* holder = nullptr;
  keltk::TMenuItem* source = nullptr;
};

Program& program() {
  static Program* shared = new Program; // lives until the process ends, as Qt does
  return *shared;
}

void BM_MergeMenu200IntoQtHost(benchmark::State& state) {
  Program& p = program();
  mergeAndTakeOut(state, *p.host->Manager(), p.source);
}
BENCHMARK(BM_MergeMenu200IntoQtHost)->Unit(benchmark::kMicrosecond);

void BM_BuildQtMenu200OnABar(benchmark::State& state) {
  buildAndDestroyOn(state, program().plain->menuBar());
}
BENCHMARK(BM_BuildQtMenu200OnABar)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
