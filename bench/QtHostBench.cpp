// The 200-item plug-in menu of menu_bench merged into, and taken out of, the
// program's own menu bar of a QtHost application, against building and
// destroying the same QMenu/QAction tree on that bar directly. Goal: at most
// twice the direct cost. Runs offscreen unless a display is named.
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
    for (const char* title : {"&File", "&Edit", "&Help"})
      window->menuBar()->addMenu(title)->addAction("Entry");
    window->show();
    host = new kelvarin::QtHost(window);
    holder = keltk::CreateObject<keltk::TComponent>(nullptr);
    source = sourceMenu(holder);
  }

  int argc = 1;
  char name[13] = "qthost_bench";
  char* argv[2] = {name, nullptr};
  QApplication* qt = nullptr;
  QMainWindow* window = nullptr;
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

void BM_BuildQtMenu200OnTheProgramsBar(benchmark::State& state) {
  buildAndDestroyOn(state, program().window->menuBar());
}
BENCHMARK(BM_BuildQtMenu200OnTheProgramsBar)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
