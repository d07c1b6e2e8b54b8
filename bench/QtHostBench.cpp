// The 200-item plug-in menu of menu_bench merged into, and taken out of, the
// program's own menu bar of a QtHost application, against building and
// destroying the same QMenu/QAction tree on that bar directly. Goal: at most
// twice the direct cost. Runs offscreen unless a display is named.
#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <keltk/Menus.h>
#include <kelvarin/QtHost.h>
#include <kelvarin/manager.h>
#include <string>

namespace {

constexpr int kSubMenus = 9;
constexpr int kLeaves = 190; // 1 + 9 + 190 = 200 items

int leavesOf(int subMenu) {
  return kLeaves / kSubMenus + (subMenu < kLeaves % kSubMenus ? 1 : 0);
}

struct Program {
  Program() {
    if (std::getenv("DISPLAY") == nullptr && std::getenv("QT_QPA_PLATFORM") == nullptr)
      setenv("QT_QPA_PLATFORM", "offscreen", 1);
    qt = new QApplication(argc, argv);
    window = new QMainWindow;
    for (const char* title : {"&File", "&Edit", "&Help"})
      window->menuBar()->addMenu(title)->addAction("Entry");
    window->show();
    host = new kelvarin::QtHost(window);
    holder = keltk::CreateObject<keltk::TComponent>(nullptr);
    source = item("&Tools");
    for (int s = 0; s < kSubMenus; ++s) {
      keltk::TMenuItem* sub = item("Group " + std::to_string(s));
      source->Add(sub);
      for (int l = 0; l < leavesOf(s); ++l)
        sub->Add(item("Entry " + std::to_string(l)));
    }
  }

  keltk::TMenuItem* item(const std::string& caption) const {
    auto* added = keltk::CreateObject<keltk::TMenuItem>(holder);
    added->SetCaption(caption);
    return added;
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
  for (auto _ : state) {
    keltk::TMenuItem* merged = nullptr;
    const auto result = p.host->Manager()->MergeMenu(p.source, kelvarin::tmSearchByCaption, "Edit",
                                                     kelvarin::mtCreateNewItemBellow, merged);
    if (!result.Success) state.SkipWithError(result.ErrorMsg.c_str());
    keltk::FreeObject(merged); // what the plug-in's unmerge does
  }
  state.SetItemsProcessed(state.iterations() * 200);
}
BENCHMARK(BM_MergeMenu200IntoQtHost)->Unit(benchmark::kMicrosecond);

void BM_BuildQtMenu200OnTheProgramsBar(benchmark::State& state) {
  Program& p = program();
  QMenuBar* bar = p.window->menuBar();
  QAction* help = bar->actions().at(2);
  for (auto _ : state) {
    auto* tools = new QMenu(QStringLiteral("&Tools"), bar);
    bar->insertMenu(help, tools);
    for (int s = 0; s < kSubMenus; ++s) {
      QMenu* sub = tools->addMenu(QStringLiteral("Group ") + QString::number(s));
      for (int l = 0; l < leavesOf(s); ++l)
        sub->addAction(QStringLiteral("Entry ") + QString::number(l));
    }
    delete tools;
  }
  state.SetItemsProcessed(state.iterations() * 200);
}
BENCHMARK(BM_BuildQtMenu200OnTheProgramsBar)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
