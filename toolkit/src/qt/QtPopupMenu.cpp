// Context menus: a QMenu built from a popup menu's items for as long as it is open.
#include "QtConvert.h"
#include "QtGuiBackend.h"
#include "keltk/Menus.h"

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QPointer>
#include <unordered_map>

namespace keltk::qt {

namespace {

// Stands in for the menu's peer while the QMenu is open: an item added, moved or
// freed meanwhile (by a timer, say) makes the chosen entry's item unsafe to click.
struct OpenMenuWatch final : public TMenuPeer {
  OpenMenuWatch(bool& gone, bool& rebuilt) : gone(gone), rebuilt(rebuilt) {}
  ~OpenMenuWatch() override { gone = true; }
  void itemChanged(TMenuItem*, bool rebuild) override { rebuilt = rebuilt || rebuild; }

  bool& gone;
  bool& rebuilt;
};

void addItems(QMenu& into, const TMenuItem& parent,
              std::unordered_map<const QAction*, TMenuItem*>& items) {
  for (int i = 0; i < parent.Count(); ++i) {
    TMenuItem* item = parent.Items(i);
    if (!item->Visible()) continue;
    if (item->IsLine()) {
      into.addSeparator();
      continue;
    }
    if (item->Count() > 0) {
      QMenu* sub = into.addMenu(toQString(item->Caption()));
      sub->setEnabled(item->Enabled());
      addItems(*sub, *item, items);
      continue;
    }
    QAction* action = into.addAction(toQString(item->Caption()));
    action->setEnabled(item->Enabled());
    action->setCheckable(item->Checked() || item->AutoCheck() || item->RadioItem());
    action->setChecked(item->Checked());
    if (item->ShortCut() != 0)
      action->setShortcut(QKeySequence(toQString(ShortCutToText(item->ShortCut()))));
    items[action] = item;
  }
}

} // namespace

void QtGuiBackend::popupMenu(TMenu& menu, int x, int y) {
  if (QCoreApplication::instance() == nullptr || menu.Peer() != nullptr) return;
  QMenu shown;
  std::unordered_map<const QAction*, TMenuItem*> items;
  addItems(shown, *menu.Items(), items);
  if (items.empty()) return;
  bool gone = false;
  bool rebuilt = false;
  menu.SetPeer(std::make_unique<OpenMenuWatch>(gone, rebuilt));
  QPointer<QAction> chosen;
  QObject::connect(&shown, &QMenu::triggered, &shown, [&chosen](QAction* a) { chosen = a; });
  // The model's events go on while the menu is open: it runs a loop of its own.
  shown.exec(QPoint(x, y));
  if (gone) return; // with the menu: not touched again
  menu.SetPeer(nullptr);
  if (rebuilt || chosen.isNull()) return;
  auto entry = items.find(chosen.data());
  if (entry == items.end()) return;
  TMenuItem* item = entry->second;
  // Through the item's own Click, so plug-in code runs as every other event does.
  dispatch([item] { item->Click(); });
}

} // namespace keltk::qt
