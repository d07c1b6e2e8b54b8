// A plug-in menu of 200 items in three levels merged into, and taken out of, the
// menu bar of a shown host form, against building and destroying the same
// QMenu/QAction tree on that bar directly. Goal: at most twice the direct cost.
// Runs offscreen unless a display is named.
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <keltk/Application.h>
#include <keltk/Forms.h>
#include <keltk/Menus.h>
#include <keltk/QtBackend.h>
#include <kelvarin/manager.h>
#include <string>

namespace {

constexpr int kSubMenus = 9;
constexpr int kLeaves = 190; // 1 + 9 + 190 = 200 items

int leavesOf(int subMenu) {
  return kLeaves / kSubMenus + (subMenu < kLeaves % kSubMenus ? 1 : 0);
}

// The host: a shown form whose menu bar has File, Edit and Help, and a manager;
// the plug-in's source menu belongs to a holder component as it would to a plug-in.
struct Host {
  Host() {
    if (std::getenv("DISPLAY") == nullptr && std::getenv("QT_QPA_PLATFORM") == nullptr)
      setenv("QT_QPA_PLATFORM", "offscreen", 1);
    qt = new QApplication(argc, argv);
    keltk::InstallQtBackend(argc, argv);
    form = keltk::CreateObject<keltk::TForm>(nullptr, keltk::CreateNew);
    auto* menu = keltk::CreateObject<keltk::TMainMenu>(form);
    form->SetMenu(menu);
    for (const char* caption : {"&File", "&Edit", "&Help"})
      menu->Items()->Add(item(form, caption));
    keltk::Application()->SetMainForm(form);
    form->Show();
    manager = keltk::CreateObject<kelvarin::TulmKelMan>(form);
    holder = keltk::CreateObject<keltk::TComponent>(nullptr);
    source = item(holder, "&Tools");
    for (int s = 0; s < kSubMenus; ++s) {
      keltk::TMenuItem* sub = item(holder, "Group " + std::to_string(s));
      source->Add(sub);
      for (int l = 0; l < leavesOf(s); ++l)
        sub->Add(item(holder, "Entry " + std::to_string(l)));
    }
    bar = keltk::PeerWidget(*form)->findChild<QMenuBar*>();
  }

  static keltk::TMenuItem* item(keltk::TComponent* owner, const std::string& caption) {
    auto* added = keltk::CreateObject<keltk::TMenuItem>(owner);
    added->SetCaption(caption);
    return added;
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
  for (auto _ : state) {
    keltk::TMenuItem* merged = nullptr;
    const auto result = h.manager->MergeMenu(h.source, kelvarin::tmSearchByCaption, "Edit",
                                             kelvarin::mtCreateNewItemBellow, merged);
    if (!result.Success) state.SkipWithError(result.ErrorMsg.c_str());
    keltk::FreeObject(merged); // what the plug-in's unmerge does
  }
  state.SetItemsProcessed(state.iterations() * 200);
}
BENCHMARK(BM_MergeMenu200)->Unit(benchmark::kMicrosecond);

void BM_BuildQtMenu200(benchmark::State& state) {
  Host& h = host();
  QAction* help = h.bar->actions().at(2);
  for (auto _ : state) {
    auto* tools = new QMenu(QStringLiteral("&Tools"), h.bar);
    h.bar->insertMenu(help, tools);
    for (int s = 0; s < kSubMenus; ++s) {
      QMenu* sub = tools->addMenu(QStringLiteral("Group ") + QString::number(s));
      for (int l = 0; l < leavesOf(s); ++l)
        sub->addAction(QStringLiteral("Entry ") + QString::number(l));
    }
    delete tools;
  }
  state.SetItemsProcessed(state.iterations() * 200);
}
BENCHMARK(BM_BuildQtMenu200)->Unit(benchmark::kMicrosecond);

// The model's share: the same merge while the host's form has no window.
void BM_MergeMenu200Unshown(benchmark::State& state) {
  Host& h = host();
  h.form->Menu()->SetPeer(nullptr); // the bar goes (so this one runs last)
  for (auto _ : state) {
    keltk::TMenuItem* merged = nullptr;
    (void)h.manager->MergeMenu(h.source, kelvarin::tmSearchByCaption, "Edit",
                               kelvarin::mtCreateNewItemBellow, merged);
    keltk::FreeObject(merged);
  }
  state.SetItemsProcessed(state.iterations() * 200);
}
BENCHMARK(BM_MergeMenu200Unshown)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
