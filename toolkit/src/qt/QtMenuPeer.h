// The menu bar of a form window, kept in step with the form's main menu; or a
// program's own menu bar, whose entries the menu's items stand for.
#pragma once

#include "QtGuiBackend.h"

#include <QEvent>
#include <QMenuBar>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <unordered_map>
#include <vector>

class QAction;
class QActionGroup;
class QMenu;
class QObject;
class QWidget;

namespace keltk {
class TMenu;
class TMenuItem;
using TShortCut = std::uint16_t;
} // namespace keltk

namespace keltk::qt {

class MenuBarPeer final : public TMenuPeer {
public:
  // Makes the bar at the top of `window`, with an action for every item.
  MenuBarPeer(QtGuiBackend& backend, TMenu& menu, QWidget* window);
  // Shows `menu` in a bar the program made: the items already in `menu` stand for
  // the program's entries named in `adopted` (filled by adoptBar), which are shown
  // as they are; merged items get entries of their own among them.
  MenuBarPeer(QtGuiBackend& backend, TMenu& menu, QMenuBar* bar,
              std::unordered_map<const TMenuItem*, QAction*> adopted);
  ~MenuBarPeer() override;
  MenuBarPeer(const MenuBarPeer&) = delete;
  MenuBarPeer& operator=(const MenuBarPeer&) = delete;

  void itemChanged(TMenuItem* source, bool rebuild) override;
  QMenuBar* bar() const { return bar_.data(); }
  // The entry of `item` on the bar or in a drop-down, or null.
  QAction* actionOf(const TMenuItem& item) const;
  // The item that stands for the program's entry `action`, or null.
  TMenuItem* adoptedItem(const QAction& action) const;
  // The backend goes: the bar went with its window, nothing is left to call.
  void detach();
  // Forgets the bar without calling Qt (the program is ending).
  void releaseWidget();

private:
  struct Node {
    QAction* action = nullptr; // none for the menu's root item
    QMenu* menu = nullptr;     // the drop-down, while the item has sub-items
    std::vector<const TMenuItem*> children;
    unsigned seen = 0; // marks the items still in their parent's new list
    TShortCut key = 0; // the shortcut the item is listed under in keyed_
    // `action` is the program's own entry, shown as the program set it up; with
    // `programMenu`, `menu` is the program's too. Neither is ever changed or freed
    // here; the node goes when the program takes the entry out of its menu.
    bool adopted = false;
    bool programMenu = false;
    // An overwritten program entry: out of its menu while `action` stands in its
    // place, put back when the item goes.
    QPointer<QAction> original;
  };

  class ProgramWatch;

  void rebuild();
  // The program added, took out or changed an entry of its bar or of one of its
  // menus that the model shows: the model follows.
  void programChanged(QObject& container, QEvent::Type type, QAction& action);
  // The item whose entries `container` shows, when it is the program's bar or menu.
  TMenuItem* itemShowing(const QObject& container) const;
  // Binds an item the program's entry stands for (adoptBar made it).
  void bind(const TMenuItem& item, QAction* action);
  // The model changed an adopted item: from now on it is shown by an entry of ours
  // in the program entry's place.
  void standIn(const TMenuItem& item, Node& node);
  // True when the item's entry goes into one of the program's own menus.
  bool inProgramMenu(const TMenuItem& item) const;
  void connectTrigger(const TMenuItem& item, QAction* action);
  // A program entry put back after an overwrite gets an item again, in its place.
  void restoreItems();
  // True when the sub-items had changed.
  bool syncChildren(const TMenuItem& parent);
  void order(QWidget& container, const std::vector<const TMenuItem*>& items);
  void create(const TMenuItem& item, QWidget& container);
  // Takes the item's entry and everything below it away; a program's entry stays
  // (an overwritten one goes back in its place, under `parent` when given).
  void drop(const TMenuItem* key, const TMenuItem* parent = nullptr);
  // Forgets an entry whose widgets go with an ancestor's.
  void forget(const TMenuItem* key);
  void removeDropDown(Node& node);
  void disposeOf(QObject* object);
  void apply(const TMenuItem& item);
  // Lists the item under its shortcut, out of the list of the one it had before.
  void listKey(const TMenuItem& item, Node& node);
  void unlistKey(const TMenuItem* key, TShortCut shortCut);
  // Gives each changed shortcut to the entry that had it first; the others show
  // it in their text only, since Qt disables every action of an ambiguous key.
  void settleKeys();
  QWidget* containerOf(const TMenuItem& item);
  QActionGroup* groupOf(const TMenuItem& item);
  void triggered(const std::shared_ptr<bool>& alive, QAction* action);

  QtGuiBackend* backend_;
  TMenu& menu_;
  QPointer<QMenuBar> bar_;
  // The bar is the program's: it is neither hidden nor freed here.
  bool programBar_ = false;
  bool closing_ = false;
  int changing_ = 0;                                       // itemChanged calls on the stack
  std::unordered_map<const TMenuItem*, QAction*> adopted_; // items not shown yet
  // The item being brought in line with the program's entry: it stays adopted.
  const TMenuItem* following_ = nullptr;
  // Watches the program's bar and menus (none for a bar of our own).
  std::unique_ptr<QObject> watch_;
  struct PutBack {
    const TMenuItem* parent;
    QPointer<QAction> action;
  };
  std::vector<PutBack> putBack_;
  // Shared with the actions' signal handlers, which may outlive the peer.
  std::shared_ptr<bool> alive_;
  // Keyed by item; an entry is dropped without reading the item, which may be gone.
  std::unordered_map<const TMenuItem*, Node> nodes_;
  std::unordered_map<const QAction*, const TMenuItem*> items_;
  unsigned stamp_ = 0;
  // The entries with each shortcut, and the shortcuts whose holder may have changed.
  std::map<TShortCut, std::vector<const TMenuItem*>> keyed_;
  std::set<TShortCut> unsettled_;
  // Radio items' exclusive groups, per parent item and group index.
  std::unordered_map<const TMenuItem*, std::map<int, QActionGroup*>> groups_;
};

// The shown menu bar of a form window, or null.
QMenuBar* menuBarOf(const QWidget* window);
// The height the menu bar takes at the top of a form window (0 without one).
int menuBarHeight(const QWidget* window);
// True when `menu` is shown as the menu bar of `window`.
bool showsMenu(const TMenu& menu, const QWidget* window);
// Opens the drop-down of `item` on `window`'s bar and saves both as one picture.
bool grabOpenMenu(QWidget& window, const TMenu& menu, const TMenuItem& item, const QString& path);
std::unique_ptr<TMenuPeer> makeMenuBarPeer(QtGuiBackend& backend, TMenu& menu, QWidget* window);
// Fills `menu` with items that stand for the entries of the program's `bar` and
// shows it there.
void adoptBar(QtGuiBackend& backend, TMenu& menu, QMenuBar& bar);

} // namespace keltk::qt
