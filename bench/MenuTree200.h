// The 200-item plug-in menu the menu benchmarks merge (a top item, 9 groups, 190
// entries), the same tree built straight on a Qt menu bar as the yardstick, and
// the loops that time both.
#pragma once

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QString>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <keltk/Menus.h>
#include <kelvarin/manager.h>
#include <string>

namespace menubench {

constexpr int kSubMenus = 9;
constexpr int kLeaves = 190;
constexpr int kItems = 1 + kSubMenus + kLeaves;

inline int leavesOf(int subMenu) {
  return kLeaves / kSubMenus + (subMenu < kLeaves % kSubMenus ? 1 : 0);
}

// The benchmarks run offscreen unless a display is named.
inline void offscreenUnlessADisplayIsNamed() {
  if (std::getenv("DISPLAY") == nullptr && std::getenv("QT_QPA_PLATFORM") == nullptr)
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
}

inline keltk::TMenuItem* newItem(keltk::TComponent* owner, const std::string& caption) {
  auto* added = keltk::CreateObject<keltk::TMenuItem>(owner);
  added->SetCaption(caption);
  return added;
}

// "&Tools" with its groups and entries, owned by `holder` as a plug-in's source
// menu is by the plug-in.
inline keltk::TMenuItem* sourceMenu(keltk::TComponent* holder) {
  keltk::TMenuItem* source = newItem(holder, "&Tools");
  for (int s = 0; s < kSubMenus; ++s) {
    keltk::TMenuItem* sub = newItem(holder, "Group " + std::to_string(s));
    source->Add(sub);
    for (int l = 0; l < leavesOf(s); ++l)
      sub->Add(newItem(holder, "Entry " + std::to_string(l)));
  }
  return source;
}

// Merges `source` below "Edit" and takes it out again, as a plug-in's unmerge does.
inline void mergeAndTakeOut(benchmark::State& state, kelvarin::TulmKelMan& manager,
                            keltk::TMenuItem* source) {
  for (auto _ : state) {
    keltk::TMenuItem* merged = nullptr;
    const auto result = manager.MergeMenu(source, kelvarin::tmSearchByCaption, "Edit",
                                          kelvarin::mtCreateNewItemBellow, merged);
    if (!result.Success) state.SkipWithError(result.ErrorMsg.c_str());
    keltk::FreeObject(merged);
  }
  state.SetItemsProcessed(state.iterations() * kItems);
}

// The same tree as QMenus and QActions, made on `bar` before its third entry and
// destroyed again.
inline void buildAndDestroyOn(benchmark::State& state, QMenuBar* bar) {
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
  state.SetItemsProcessed(state.iterations() * kItems);
}

} // namespace menubench
