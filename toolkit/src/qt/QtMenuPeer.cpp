// A form's main menu as its menu bar: one action per item, a drop-down for an
// item with sub-items. Each change of the model touches only the items it names,
// so a plug-in merging a large menu into a shown bar does not rebuild it.
#include "QtMenuPeer.h"

#include "QtConvert.h"
#include "keltk/Exception.h"
#include "keltk/Menus.h"

#include <QAction>
#include <QActionEvent>
#include <QActionGroup>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QIcon>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QVariant>
#include <algorithm>
#include <utility>

namespace keltk::qt {

namespace {

// Shortcut bits: the key's virtual-key code in the low byte, modifiers above.
constexpr TShortCut scShift = 0x2000;
constexpr TShortCut scCtrl = 0x4000;
constexpr TShortCut scAlt = 0x8000;

int toQtKey(int vk) {
  if ((vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z')) return vk;
  if (vk >= 0x70 && vk <= 0x87) return Qt::Key_F1 + (vk - 0x70);
  if (vk >= 0x60 && vk <= 0x69) return Qt::Key_0 + (vk - 0x60); // numeric keypad
  switch (vk) {
  case 0x08:
    return Qt::Key_Backspace;
  case 0x09:
    return Qt::Key_Tab;
  case 0x0D:
    return Qt::Key_Return;
  case 0x1B:
    return Qt::Key_Escape;
  case 0x20:
    return Qt::Key_Space;
  case 0x21:
    return Qt::Key_PageUp;
  case 0x22:
    return Qt::Key_PageDown;
  case 0x23:
    return Qt::Key_End;
  case 0x24:
    return Qt::Key_Home;
  case 0x25:
    return Qt::Key_Left;
  case 0x26:
    return Qt::Key_Up;
  case 0x27:
    return Qt::Key_Right;
  case 0x28:
    return Qt::Key_Down;
  case 0x2D:
    return Qt::Key_Insert;
  case 0x2E:
    return Qt::Key_Delete;
  default:
    return 0;
  }
}

QKeySequence toKeySequence(TShortCut shortCut) {
  const int key = toQtKey(shortCut & 0xFF);
  if (key == 0) return {};
  int modifiers = 0;
  if (shortCut & scShift) modifiers |= Qt::SHIFT;
  if (shortCut & scCtrl) modifiers |= Qt::CTRL;
  if (shortCut & scAlt) modifiers |= Qt::ALT;
  return QKeySequence(key | modifiers);
}

// The glyph with its bottom-left colour left out, as menu bitmaps are drawn.
QIcon toIcon(const TBitmap& bitmap) {
  if (bitmap.Empty()) return {};
  QImage image(bitmap.Width(), bitmap.Height(), QImage::Format_ARGB32);
  const std::uint32_t clear = bitmap.Pixel(0, bitmap.Height() - 1);
  for (int y = 0; y < bitmap.Height(); ++y) {
    const std::uint32_t* from = bitmap.ScanLine(y);
    auto* to = reinterpret_cast<std::uint32_t*>(image.scanLine(y));
    for (int x = 0; x < bitmap.Width(); ++x)
      to[x] = from[x] == clear ? 0u : from[x];
  }
  return QIcon(QPixmap::fromImage(image));
}

// The toolkit's shortcut for a program entry's first key, or 0 when it has none.
TShortCut fromKeySequence(const QKeySequence& keys) {
  if (keys.isEmpty()) return 0;
  const QKeyCombination first = keys[0];
  const int key = static_cast<int>(first.key());
  for (int vk = 1; vk <= 0xFF; ++vk) {
    if (toQtKey(vk) != key) continue;
    const Qt::KeyboardModifiers mods = first.keyboardModifiers();
    TShortCut shortCut = static_cast<TShortCut>(vk);
    if (mods & Qt::ShiftModifier) shortCut |= scShift;
    if (mods & Qt::ControlModifier) shortCut |= scCtrl;
    if (mods & Qt::AltModifier) shortCut |= scAlt;
    return shortCut;
  }
  return 0;
}

// Where a program keeps the toolkit Tag of an entry.
constexpr const char* kTagProperty = "kelTag";

// Gives `item` what the program's entry shows.
void readEntry(TMenuItem& item, const QAction& action) {
  item.SetCaption(action.isSeparator() ? "-" : fromQString(action.text()));
  try {
    item.SetName(fromQString(action.objectName()));
  } catch (const Exception&) {
    // Not a valid component name: the item is found by caption, index or tag.
  }
  item.SetTag(action.property(kTagProperty).toLongLong());
  item.SetEnabled(action.isEnabled());
  item.SetVisible(action.isVisible());
  item.SetChecked(action.isChecked());
  item.SetShortCut(fromKeySequence(action.shortcut()));
  item.SetHint(fromQString(action.statusTip()));
}

// An item for the program's `action` and one below it for each entry of its
// drop-down; each is listed in `adopted` with the entry it stands for.
TMenuItem* shadowOf(QAction& action, std::unordered_map<const TMenuItem*, QAction*>& adopted) {
  auto* item = CreateObject<TMenuItem>(nullptr);
  readEntry(*item, action);
  adopted[item] = &action;
  if (QMenu* dropDown = action.menu())
    for (QAction* child : dropDown->actions())
      item->Add(shadowOf(*child, adopted));
  return item;
}

// Takes `item` and those below it out of `adopted`, before they are freed.
void forgetShadows(std::unordered_map<const TMenuItem*, QAction*>& adopted, const TMenuItem& item) {
  adopted.erase(&item);
  for (int i = 0; i < item.Count(); ++i)
    forgetShadows(adopted, *item.Items(i));
}

// True while the item still says what the program's entry shows and runs no
// handler of the model's: the entry can go on showing it.
bool standsFor(const TMenuItem& item, const QAction& action) {
  if (item.OnClick() || !item.Bitmap()->Empty() || item.RadioItem() || item.Default()) return false;
  if (item.IsLine() != action.isSeparator()) return false;
  if (!item.IsLine() && toQString(item.Caption()) != action.text()) return false;
  return item.Enabled() == action.isEnabled() && item.Visible() == action.isVisible() &&
         item.Checked() == action.isChecked() &&
         item.ShortCut() == fromKeySequence(action.shortcut()) &&
         toQString(item.Hint()) == action.statusTip();
}

} // namespace

class MenuBarPeer::ProgramWatch final : public QObject {
public:
  explicit ProgramWatch(MenuBarPeer& peer) : peer_(peer) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    const QEvent::Type type = event->type();
    if (type == QEvent::ActionAdded || type == QEvent::ActionRemoved ||
        type == QEvent::ActionChanged)
      peer_.programChanged(*watched, type, *static_cast<QActionEvent*>(event)->action());
    return false;
  }

private:
  MenuBarPeer& peer_;
};

MenuBarPeer::MenuBarPeer(QtGuiBackend& backend, TMenu& menu, QWidget* window)
    : backend_(&backend), menu_(menu), bar_(new QMenuBar(window)),
      alive_(std::make_shared<bool>(true)) {
  backend.registerMenuPeer(this);
  // One connection for every entry: a drop-down passes its entries' triggers on
  // to the widgets it hangs from, up to the bar.
  QObject::connect(bar_.data(), &QMenuBar::triggered, bar_.data(),
                   [this, alive = alive_](QAction* action) { triggered(alive, action); });
  rebuild();
  bar_->show();
}

MenuBarPeer::MenuBarPeer(QtGuiBackend& backend, TMenu& menu, QMenuBar* bar,
                         std::unordered_map<const TMenuItem*, QAction*> adopted)
    : backend_(&backend), menu_(menu), bar_(bar), programBar_(true), adopted_(std::move(adopted)),
      alive_(std::make_shared<bool>(true)) {
  backend.registerMenuPeer(this);
  // Merged entries are connected where they enter the program's menus: those
  // need not hang from its bar, so their triggers may never reach it.
  watch_ = std::make_unique<ProgramWatch>(*this);
  bar->installEventFilter(watch_.get());
  rebuild();
}

MenuBarPeer::~MenuBarPeer() {
  *alive_ = false;
  if (backend_ != nullptr) backend_->unregisterMenuPeer(this);
  QMenuBar* bar = bar_.data();
  if (bar == nullptr) return;
  if (programBar_) {
    // Whatever is still merged leaves the program's menus; its own entries stay.
    closing_ = true;
    watch_.reset();
    if (backend_ != nullptr)
      for (const TMenuItem* child : std::vector(nodes_[menu_.Items()].children))
        drop(child);
    return;
  }
  bar->hide();
  // The action being triggered may be the one that led here.
  if (backend_ != nullptr && backend_->dispatching())
    bar->deleteLater();
  else
    delete bar;
}

QAction* MenuBarPeer::actionOf(const TMenuItem& item) const {
  auto it = nodes_.find(&item);
  return it != nodes_.end() ? it->second.action : nullptr;
}

TMenuItem* MenuBarPeer::adoptedItem(const QAction& action) const {
  for (const auto& [item, node] : nodes_)
    if (node.adopted && node.action == &action) return const_cast<TMenuItem*>(item);
  return nullptr;
}

void MenuBarPeer::detach() {
  backend_ = nullptr;
}

void MenuBarPeer::releaseWidget() {
  backend_ = nullptr;
  bar_ = nullptr;
  nodes_.clear();
  groups_.clear();
  items_.clear();
}

void MenuBarPeer::rebuild() {
  if (!bar_) return;
  // The program's entries are shown by the same items again, not by copies.
  for (const auto& [item, node] : nodes_)
    if (node.adopted) adopted_[item] = node.action;
  const std::vector<const TMenuItem*> shown = nodes_[menu_.Items()].children;
  for (const TMenuItem* child : shown)
    drop(child);
  nodes_.clear();
  groups_.clear();
  items_.clear();
  keyed_.clear();
  unsettled_.clear();
  nodes_[menu_.Items()];
  syncChildren(*menu_.Items());
  settleKeys();
}

void MenuBarPeer::itemChanged(TMenuItem* source, bool rebuild) {
  if (!bar_ || backend_ == nullptr) return;
  ++changing_;
  if (source == nullptr || nodes_.find(source) == nodes_.end()) {
    this->rebuild();
  } else {
    // A rebuild that changed the sub-items came from them; otherwise the item
    // itself changed (its caption, say).
    const bool childrenChanged = rebuild && syncChildren(*source);
    if (source != menu_.Items() && !childrenChanged) apply(*source);
    settleKeys();
  }
  // Items are put back once the model is done with the change that freed them.
  if (--changing_ == 0) restoreItems();
}

void MenuBarPeer::restoreItems() {
  while (!putBack_.empty() && !closing_) {
    const PutBack entry = putBack_.back();
    putBack_.pop_back();
    auto parentNode = nodes_.find(entry.parent);
    if (entry.action == nullptr || parentNode == nodes_.end()) continue;
    QWidget* container = entry.parent == menu_.Items()
                             ? bar_.data()
                             : static_cast<QWidget*>(parentNode->second.menu);
    if (container == nullptr) continue;
    // Every other entry there has an item: the entry's place is the item's index.
    const auto index = static_cast<int>(container->actions().indexOf(entry.action.data()));
    if (index < 0) continue;
    TMenuItem* item = shadowOf(*entry.action, adopted_);
    auto* parent = const_cast<TMenuItem*>(entry.parent);
    parent->Insert(std::min(index, parent->Count()), item);
  }
}

void MenuBarPeer::programChanged(QObject& container, QEvent::Type type, QAction& action) {
  // Our own edits of the program's menus, and those of a program that is ending.
  if (changing_ > 0 || closing_ || !bar_ || backend_ == nullptr) return;
  TMenuItem* item = adoptedItem(action);
  if (type == QEvent::ActionRemoved) {
    // Whatever was merged into the entry goes with it.
    if (item != nullptr) FreeObject(item);
    return;
  }
  if (type == QEvent::ActionChanged) {
    if (item == nullptr) return;
    following_ = item;
    readEntry(*item, action);
    following_ = nullptr;
    return;
  }
  TMenuItem* parent = itemShowing(container);
  if (item != nullptr || parent == nullptr || items_.contains(&action)) return;
  // Every entry there has an item, in the same order: its place is the item's index.
  const auto index =
      static_cast<int>(qobject_cast<QWidget*>(&container)->actions().indexOf(&action));
  TMenuItem* shadow = shadowOf(action, adopted_);
  try {
    parent->Insert(std::clamp(index, 0, parent->Count()), shadow);
  } catch (const Exception&) {
    // Refused by the model (its groups' order): the entry is simply not one of its items.
    forgetShadows(adopted_, *shadow);
    FreeObject(shadow);
  }
}

TMenuItem* MenuBarPeer::itemShowing(const QObject& container) const {
  if (&container == bar_.data()) return menu_.Items();
  for (const auto& [item, node] : nodes_)
    if (node.adopted && node.programMenu && node.menu == &container)
      return const_cast<TMenuItem*>(item);
  return nullptr;
}

void MenuBarPeer::bind(const TMenuItem& item, QAction* action) {
  Node& node = nodes_[&item];
  node.action = action;
  node.adopted = true;
  node.menu = action->menu();
  node.programMenu = node.menu != nullptr;
  if (node.programMenu) node.menu->installEventFilter(watch_.get());
  // Listed with its key, so that a merged entry with the same key leaves it to
  // the program's entry, which had it first.
  listKey(item, node);
  syncChildren(item);
}

bool MenuBarPeer::inProgramMenu(const TMenuItem& item) const {
  if (!programBar_) return false;
  if (item.Parent() == menu_.Items()) return true;
  auto parent = nodes_.find(item.Parent());
  return parent != nodes_.end() && parent->second.adopted;
}

void MenuBarPeer::connectTrigger(const TMenuItem& item, QAction* action) {
  if (!inProgramMenu(item)) return;
  QObject::connect(action, &QAction::triggered, action,
                   [this, alive = alive_, action] { triggered(alive, action); });
}

void MenuBarPeer::standIn(const TMenuItem& item, Node& node) {
  QAction* original = node.action;
  auto* container =
      qobject_cast<QWidget*>(item.Parent() == menu_.Items() ? static_cast<QObject*>(bar_.data())
                                                            : nodes_[item.Parent()].menu);
  if (container == nullptr) return;
  // The entries below stay in the program's drop-down, out of sight with it;
  // whatever was merged there goes.
  for (const TMenuItem* child : std::exchange(node.children, {}))
    drop(child);
  Node& self = nodes_[&item]; // dropping may have moved the table
  unlistKey(&item, self.key);
  self.key = 0;
  self.adopted = false;
  self.programMenu = false;
  self.menu = nullptr;
  self.original = original;
  self.action = new QAction(container);
  items_[self.action] = &item;
  connectTrigger(item, self.action);
  container->insertAction(original, self.action);
  container->removeAction(original);
}

QWidget* MenuBarPeer::containerOf(const TMenuItem& item) {
  if (&item == menu_.Items()) return bar_.data();
  Node& node = nodes_[&item];
  if (node.menu == nullptr) {
    // A child of the widget that shows the item, so that it goes with it.
    node.menu = new QMenu(qobject_cast<QWidget*>(node.action->parent()));
    node.action->setMenu(node.menu);
    // A drop-down of ours passes its entries' triggers, and those of the drop-downs
    // below it, on to its parent: the topmost one in the program's menus reports
    // them all, with one connection (the program's menus need not reach its bar).
    if (node.adopted || inProgramMenu(item))
      QObject::connect(node.menu, &QMenu::triggered, node.menu,
                       [this, alive = alive_](QAction* action) { triggered(alive, action); });
  }
  return node.menu;
}

bool MenuBarPeer::syncChildren(const TMenuItem& parent) {
  Node& node = nodes_[&parent]; // stays put while other entries come and go
  if (parent.Count() == 0 && node.children.empty()) return false;
  std::vector<const TMenuItem*> now;
  now.reserve(static_cast<std::size_t>(parent.Count()));
  for (int i = 0; i < parent.Count(); ++i)
    now.push_back(parent.Items(i));
  if (node.children == now) return false;
  // One item added at the end, the way a merge copies a menu: nothing else to
  // compare or move, so a long menu is not walked again for each item.
  if (now.size() == node.children.size() + 1 &&
      std::equal(node.children.begin(), node.children.end(), now.begin()) &&
      nodes_.find(now.back()) == nodes_.end()) {
    node.children = std::move(now);
    QWidget* container = containerOf(parent);
    const TMenuItem* added = nodes_[&parent].children.back();
    create(*added, *container);
    const Node& made = nodes_[added];
    if (container->actions().isEmpty() || container->actions().back() != made.action)
      container->addAction(made.action);
    return true;
  }
  // Items gone from here are not read: they may be freed already.
  ++stamp_;
  for (const TMenuItem* item : now)
    if (auto it = nodes_.find(item); it != nodes_.end()) it->second.seen = stamp_;
  for (const TMenuItem* old : node.children)
    if (auto it = nodes_.find(old); it != nodes_.end() && it->second.seen != stamp_)
      drop(old, &parent);
  node.children = std::move(now);
  if (node.children.empty()) {
    if (&parent != menu_.Items()) removeDropDown(node);
    return true;
  }
  QWidget* container = containerOf(parent);
  for (const TMenuItem* item : node.children)
    if (nodes_.find(item) == nodes_.end()) create(*item, *container);
  order(*container, node.children);
  return true;
}

void MenuBarPeer::order(QWidget& container, const std::vector<const TMenuItem*>& items) {
  QList<QAction*> current = container.actions();
  for (std::size_t i = 0; i < items.size(); ++i) {
    QAction* action = nodes_[items[i]].action;
    const auto at = static_cast<qsizetype>(i);
    if (at < current.size() && current[at] == action) continue;
    container.insertAction(at < current.size() ? current[at] : nullptr, action);
    current = container.actions();
  }
}

void MenuBarPeer::create(const TMenuItem& item, QWidget& container) {
  if (auto own = adopted_.extract(&item)) {
    bind(item, own.mapped());
    return;
  }
  auto* action = new QAction(&container);
  nodes_[&item].action = action;
  items_[action] = &item;
  connectTrigger(item, action);
  apply(item);
  syncChildren(item);
}

void MenuBarPeer::triggered(const std::shared_ptr<bool>& alive, QAction* action) {
  if (!*alive || backend_ == nullptr) return;
  auto entry = items_.find(action);
  if (entry == items_.end()) return;
  const TMenuItem* key = entry->second;
  auto* item = const_cast<TMenuItem*>(key);
  // Through the item's own Click, so plug-in code runs as every other event does.
  backend_->dispatch([item] { item->Click(); });
  // Qt toggled a checkable action by itself; the model says what it shows.
  if (*alive && nodes_.find(key) != nodes_.end()) {
    ++changing_;
    apply(*item);
    settleKeys();
    if (--changing_ == 0) restoreItems();
  }
}

void MenuBarPeer::drop(const TMenuItem* key, const TMenuItem* parent) {
  auto it = nodes_.find(key);
  if (it == nodes_.end()) return;
  Node node = std::move(it->second);
  nodes_.erase(it);
  groups_.erase(key);
  unlistKey(key, node.key);
  if (node.adopted) {
    // The drop-down may be the program's: what was merged into it goes one by one.
    for (const TMenuItem* child : node.children)
      drop(child);
    removeDropDown(node);
    return;
  }
  for (const TMenuItem* child : node.children)
    forget(child);
  items_.erase(node.action);
  if (node.original != nullptr) {
    // Back in its place, as the program left it.
    if (auto* container = qobject_cast<QWidget*>(node.action->parent()))
      container->insertAction(node.action, node.original);
    if (parent != nullptr) putBack_.push_back({parent, node.original});
  }
  // The entry goes first: unhooking its drop-down would only make the menu it
  // is in lay out again. The entries below go with the drop-down, whose
  // children they are.
  if (node.action != nullptr) disposeOf(node.action);
  if (node.menu != nullptr && !node.programMenu) disposeOf(std::exchange(node.menu, nullptr));
}

void MenuBarPeer::forget(const TMenuItem* key) {
  auto it = nodes_.find(key);
  if (it == nodes_.end()) return;
  const Node node = std::move(it->second);
  nodes_.erase(it);
  for (const TMenuItem* child : node.children)
    forget(child);
  groups_.erase(key);
  items_.erase(node.action);
  unlistKey(key, node.key);
}

void MenuBarPeer::removeDropDown(Node& node) {
  if (node.menu == nullptr || node.programMenu) return;
  if (node.action != nullptr) node.action->setMenu(static_cast<QMenu*>(nullptr));
  disposeOf(node.menu);
  node.menu = nullptr;
}

void MenuBarPeer::disposeOf(QObject* object) {
  if (auto* action = qobject_cast<QAction*>(object)) {
    // Out of sight now, even when it has to live on until its signal returns.
    for (QObject* shown : action->associatedObjects())
      if (auto* w = qobject_cast<QWidget*>(shown)) w->removeAction(action);
  }
  if (backend_ != nullptr && backend_->dispatching())
    object->deleteLater();
  else
    delete object;
}

QActionGroup* MenuBarPeer::groupOf(const TMenuItem& item) {
  auto& byIndex = groups_[item.Parent()];
  QActionGroup*& group = byIndex[item.GroupIndex()];
  if (group == nullptr) {
    group = new QActionGroup(bar_.data());
    group->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
  }
  return group;
}

void MenuBarPeer::listKey(const TMenuItem& item, Node& node) {
  const TShortCut key =
      item.IsLine() || toKeySequence(item.ShortCut()).isEmpty() ? 0 : item.ShortCut();
  if (key != node.key) {
    unlistKey(&item, node.key);
    node.key = key;
    if (key != 0) keyed_[key].push_back(&item);
  }
  // Its text or the time it got the key may have changed.
  if (key != 0) unsettled_.insert(key);
}

void MenuBarPeer::unlistKey(const TMenuItem* key, TShortCut shortCut) {
  auto list = keyed_.find(shortCut);
  if (list == keyed_.end()) return;
  std::erase(list->second, key);
  if (list->second.empty())
    keyed_.erase(list);
  else
    unsettled_.insert(shortCut);
}

void MenuBarPeer::settleKeys() {
  for (const TShortCut shortCut : std::exchange(unsettled_, {})) {
    auto list = keyed_.find(shortCut);
    if (list == keyed_.end()) continue;
    const TMenuItem* holder = *std::min_element(list->second.begin(), list->second.end(),
                                                [](const TMenuItem* a, const TMenuItem* b) {
                                                  return a->ShortCutSince() < b->ShortCutSince();
                                                });
    for (const TMenuItem* item : list->second) {
      const Node& node = nodes_.at(item);
      if (node.adopted) continue; // the program's entry keeps its text and key
      QAction* action = node.action;
      if (item == holder) {
        action->setText(toQString(item->Caption()));
        action->setShortcut(toKeySequence(shortCut));
      } else {
        action->setShortcut({});
        action->setText(toQString(item->Caption() + "\t" + ShortCutToText(shortCut)));
      }
    }
  }
}

void MenuBarPeer::apply(const TMenuItem& item) {
  Node* found = &nodes_[&item];
  if (found->adopted) {
    if (&item == following_ || standsFor(item, *found->action)) return;
    standIn(item, *found);
    found = &nodes_[&item];
    if (found->adopted) return; // nowhere to stand in: the program's entry stays untouched
  }
  Node& node = *found;
  QAction* action = node.action;
  if (action == nullptr) return;
  action->setSeparator(item.IsLine());
  // Some styles draw a separator's text. An entry with a shortcut gets its text
  // and key when the keys are settled.
  listKey(item, node);
  if (node.key == 0) {
    action->setText(item.IsLine() ? QString() : toQString(item.Caption()));
    action->setShortcut({});
  }
  action->setEnabled(item.Enabled());
  action->setVisible(item.Visible());
  action->setStatusTip(toQString(item.Hint()));
  action->setActionGroup(item.RadioItem() ? groupOf(item) : nullptr);
  action->setCheckable(item.RadioItem() || item.AutoCheck() || item.Checked());
  action->setChecked(item.Checked());
  QFont font = action->font();
  if (font.bold() != item.Default()) {
    font.setBold(item.Default());
    action->setFont(font);
  }
  // Setting an icon always tells the menus to lay out again: only when there is one.
  if (!item.Bitmap()->Empty() || !action->icon().isNull()) action->setIcon(toIcon(*item.Bitmap()));
}

// ---- Where the bar goes --------------------------------------------------------------

QMenuBar* menuBarOf(const QWidget* window) {
  if (window == nullptr) return nullptr;
  QMenuBar* bar = window->findChild<QMenuBar*>(QString(), Qt::FindDirectChildrenOnly);
  return bar != nullptr && !bar->isHidden() ? bar : nullptr;
}

int menuBarHeight(const QWidget* window) {
  const QMenuBar* bar = menuBarOf(window);
  return bar != nullptr ? bar->sizeHint().height() : 0;
}

bool showsMenu(const TMenu& menu, const QWidget* window) {
  const auto* peer = dynamic_cast<const MenuBarPeer*>(menu.Peer());
  return peer != nullptr && peer->bar() != nullptr && peer->bar()->parentWidget() == window;
}

bool grabOpenMenu(QWidget& window, const TMenu& menu, const TMenuItem& item, const QString& path) {
  const auto* peer = dynamic_cast<const MenuBarPeer*>(menu.Peer());
  QAction* action = peer != nullptr ? peer->actionOf(item) : nullptr;
  QMenu* dropDown = action != nullptr ? action->menu() : nullptr;
  if (dropDown == nullptr || peer->bar() == nullptr) return false;
  peer->bar()->setActiveAction(action);
  QElapsedTimer clock;
  clock.start();
  while (!dropDown->isVisible() && clock.elapsed() < 2000)
    QCoreApplication::processEvents();
  if (!dropDown->isVisible()) return false;
  // One picture of both windows where they are on the screen.
  const QRect client(window.mapToGlobal(QPoint(0, 0)), window.size());
  const QRect open(dropDown->mapToGlobal(QPoint(0, 0)), dropDown->size());
  const QRect all = client.united(open);
  QPixmap picture(all.size());
  picture.fill(window.palette().color(QPalette::Window));
  {
    QPainter painter(&picture);
    painter.drawPixmap(client.topLeft() - all.topLeft(), window.grab());
    painter.drawPixmap(open.topLeft() - all.topLeft(), dropDown->grab());
  }
  dropDown->hide();
  return picture.save(path, "PNG");
}

std::unique_ptr<TMenuPeer> makeMenuBarPeer(QtGuiBackend& backend, TMenu& menu, QWidget* window) {
  return std::make_unique<MenuBarPeer>(backend, menu, window);
}

void adoptBar(QtGuiBackend& backend, TMenu& menu, QMenuBar& bar) {
  std::unordered_map<const TMenuItem*, QAction*> adopted;
  menu.SetPeer(nullptr);
  menu.Items()->Clear();
  for (QAction* action : bar.actions())
    menu.Items()->Add(shadowOf(*action, adopted));
  menu.SetPeer(std::make_unique<MenuBarPeer>(backend, menu, &bar, std::move(adopted)));
}

} // namespace keltk::qt
