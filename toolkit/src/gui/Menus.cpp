#include "keltk/Menus.h"

#include "keltk/Backend.h"
#include "keltk/Exception.h"
#include "keltk/PropInfo.h"
#include "keltk/StrUtils.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fmt/format.h>

namespace keltk {

const EnumInfo& MenuBreakInfo() {
  static const EnumInfo info =
      EnumInfo::sequence("TMenuBreak", {"mbNone", "mbBreak", "mbBarBreak"});
  return info;
}

const EnumInfo& MenuItemAutoFlagInfo() {
  static const EnumInfo info =
      EnumInfo::sequence("TMenuItemAutoFlag", {"maAutomatic", "maManual", "maParent"});
  return info;
}

std::string StripHotkey(std::string_view caption) {
  std::string out;
  out.reserve(caption.size());
  for (std::size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] != '&') {
      out.push_back(caption[i]);
      continue;
    }
    if (i + 1 < caption.size() && caption[i + 1] == '&') {
      out.push_back('&');
      ++i;
    }
  }
  return out;
}

bool AnsiSameCaption(std::string_view a, std::string_view b) {
  return SameText(StripHotkey(a), StripHotkey(b));
}

namespace {

// The monotonic clock in nanoseconds, one tick further than its last answer: the
// clock is the same for every toolkit copy, so items whose keys different copies
// set (the host's, a plug-in's code) compare correctly too.
std::uint64_t shortCutClock() {
  static std::atomic<std::uint64_t> last{0};
  const auto now =
      static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
  std::uint64_t previous = last.load();
  std::uint64_t next = 0;
  do
    next = std::max(now, previous + 1);
  while (!last.compare_exchange_weak(previous, next));
  return next;
}

std::string keyName(int vk) {
  if ((vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z')) return std::string(1, char(vk));
  if (vk >= 0x70 && vk <= 0x87) return fmt::format("F{}", vk - 0x6F);
  if (vk >= 0x60 && vk <= 0x69) return std::string(1, char('0' + vk - 0x60));
  switch (vk) {
  case 0x08:
    return "Backspace";
  case 0x09:
    return "Tab";
  case 0x0D:
    return "Return";
  case 0x1B:
    return "Esc";
  case 0x20:
    return "Space";
  case 0x21:
    return "PgUp";
  case 0x22:
    return "PgDown";
  case 0x23:
    return "End";
  case 0x24:
    return "Home";
  case 0x25:
    return "Left";
  case 0x26:
    return "Up";
  case 0x27:
    return "Right";
  case 0x28:
    return "Down";
  case 0x2D:
    return "Ins";
  case 0x2E:
    return "Del";
  default:
    return {};
  }
}

void collectHolder(const TMenuItem& from, const TMenuItem& item, const TMenuItem*& holder) {
  for (int i = 0; i < from.Count(); ++i) {
    const TMenuItem* child = from.Items(i);
    if (child->ShortCut() == item.ShortCut() && !child->IsLine() &&
        child->ShortCutSince() < holder->ShortCutSince())
      holder = child;
    collectHolder(*child, item, holder);
  }
}

} // namespace

std::string ShortCutToText(TShortCut shortCut) {
  std::string key = keyName(shortCut & 0xFF);
  if (key.empty()) return key;
  // Qt's order, so that the text matches the menus' own.
  std::string text;
  if (shortCut & 0x4000) text += "Ctrl+";
  if (shortCut & 0x8000) text += "Alt+";
  if (shortCut & 0x2000) text += "Shift+";
  return text + key;
}

const TMenuItem* ShortCutHolder(const TMenuItem& item) {
  if (item.IsLine() || ShortCutToText(item.ShortCut()).empty()) return nullptr;
  const TMenuItem* root = &item;
  while (root->Parent() != nullptr)
    root = root->Parent();
  const TMenuItem* holder = &item;
  collectHolder(*root, item, holder);
  return holder;
}

TMenuPeer::~TMenuPeer() = default;

// ---- TMenuItem ----------------------------------------------------------------

TMenuItem::TMenuItem(TComponent* owner) : TComponent(owner), bitmap_(std::make_unique<TBitmap>()) {}

TMenuItem::~TMenuItem() {
  IncludeState(csDestroying);
  if (parent_ != nullptr) {
    TMenuItem* parent = parent_;
    parent->items_.erase(std::remove(parent->items_.begin(), parent->items_.end(), this),
                         parent->items_.end());
    parent_ = nullptr;
    parent->changed(true);
  }
  Clear();
}

const TClassInfo& TMenuItem::StaticClass() {
  static TClassInfo info("TMenuItem", &TComponent::StaticClass(), [](TClassInfo& i) {
    using M = TMenuItem;
    ClassBuilder<M> b(i);
    b.componentFactory();
    b.component("Action", &M::Action, &M::SetAction);
    b.boolean("AutoCheck", &M::AutoCheck, &M::SetAutoCheck).defaultValue(0);
    b.enumeration("AutoHotkeys", MenuItemAutoFlagInfo(), &M::AutoHotkeys, &M::SetAutoHotkeys)
        .defaultValue(maParent);
    b.enumeration("AutoLineReduction", MenuItemAutoFlagInfo(), &M::AutoLineReduction,
                  &M::SetAutoLineReduction)
        .defaultValue(maParent);
    b.object("Bitmap", &M::Bitmap);
    b.enumeration("Break", MenuBreakInfo(), &M::Break, &M::SetBreak).defaultValue(mbNone);
    b.string("Caption", &M::Caption, &M::SetCaption);
    b.boolean("Checked", &M::Checked, &M::SetChecked).defaultValue(0);
    b.component("SubMenuImages", &M::SubMenuImages, &M::SetSubMenuImages);
    b.boolean("Default", &M::Default, &M::SetDefault).defaultValue(0);
    b.boolean("Enabled", &M::Enabled, &M::SetEnabled).defaultValue(1);
    b.integer("GroupIndex", &M::GroupIndex, &M::SetGroupIndex).defaultValue(0);
    b.integer("HelpContext", &M::HelpContext, &M::SetHelpContext).defaultValue(0);
    b.string("Hint", &M::Hint, &M::SetHint);
    b.integer("ImageIndex", &M::ImageIndex, &M::SetImageIndex).defaultValue(-1);
    b.boolean("RadioItem", &M::RadioItem, &M::SetRadioItem).defaultValue(0);
    b.integer("ShortCut", &M::ShortCut, &M::SetShortCut).defaultValue(0);
    b.boolean("Visible", &M::Visible, &M::SetVisible).defaultValue(1);
    b.event("OnAdvancedDrawItem", &M::OnAdvancedDrawItem, &M::SetOnAdvancedDrawItem);
    b.event("OnClick", &M::OnClick, &M::SetOnClick);
    b.event("OnDrawItem", &M::OnDrawItem, &M::SetOnDrawItem);
    b.event("OnMeasureItem", &M::OnMeasureItem, &M::SetOnMeasureItem);
  });
  return info;
}

void TMenuItem::changed(bool rebuild) {
  const TMenuItem* root = this;
  while (root->parent_ != nullptr)
    root = root->parent_;
  if (root->menu_ != nullptr) root->menu_->MenuChanged(this, rebuild);
}

void TMenuItem::SetAction(TComponent* action) {
  if (action == action_) return;
  if (action_ != nullptr && action_ != subMenuImages_) RemoveFreeNotification(action_);
  action_ = action;
  if (action != nullptr) action->FreeNotification(this);
  changed(false);
}

void TMenuItem::SetSubMenuImages(TComponent* images) {
  if (images == subMenuImages_) return;
  if (subMenuImages_ != nullptr && subMenuImages_ != action_)
    RemoveFreeNotification(subMenuImages_);
  subMenuImages_ = images;
  if (images != nullptr) images->FreeNotification(this);
  changed(false);
}

void TMenuItem::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation != TOperation::opRemove) return;
  if (component == action_) action_ = nullptr;
  if (component == subMenuImages_) subMenuImages_ = nullptr;
}

void TMenuItem::SetAutoHotkeys(TMenuItemAutoFlag flag) {
  if (flag == autoHotkeys_) return;
  autoHotkeys_ = flag;
  changed(false);
}

void TMenuItem::SetAutoLineReduction(TMenuItemAutoFlag flag) {
  if (flag == autoLineReduction_) return;
  autoLineReduction_ = flag;
  changed(false);
}

void TMenuItem::SetAutoCheck(bool autoCheck) {
  autoCheck_ = autoCheck;
}

void TMenuItem::SetBitmap(const TBitmap* bitmap) {
  bitmap_->Assign(bitmap);
  changed(false);
}

void TMenuItem::SetBreak(TMenuBreak value) {
  if (value == break_) return;
  break_ = value;
  changed(true);
}

void TMenuItem::SetCaption(const std::string& caption) {
  if (caption == caption_) return;
  caption_ = caption;
  changed(true); // a caption may turn an item into a separator line and back
}

void TMenuItem::turnSiblingsOff() {
  if (parent_ == nullptr) return;
  for (TMenuItem* sibling : parent_->items_)
    if (sibling != this && sibling->radioItem_ && sibling->groupIndex_ == groupIndex_ &&
        sibling->checked_) {
      sibling->checked_ = false;
      sibling->changed(false);
    }
}

void TMenuItem::SetChecked(bool checked) {
  if (checked == checked_) return;
  checked_ = checked;
  if (checked && radioItem_) turnSiblingsOff();
  changed(false);
}

void TMenuItem::SetDefault(bool value) {
  if (value == default_) return;
  default_ = value;
  changed(false);
}

void TMenuItem::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  changed(false);
}

void TMenuItem::SetGroupIndex(std::uint8_t value) {
  if (value == groupIndex_) return;
  if (parent_ != nullptr) {
    // Group indexes never decrease along the siblings.
    const auto pos = static_cast<std::size_t>(MenuIndex());
    for (std::size_t i = 0; i < pos; ++i)
      if (parent_->items_[i]->groupIndex_ > value)
        throw EMenuError("GroupIndex cannot be less than a previous menu item's GroupIndex");
    for (std::size_t i = pos + 1; i < parent_->items_.size(); ++i)
      parent_->items_[i]->groupIndex_ = std::max(parent_->items_[i]->groupIndex_, value);
  }
  groupIndex_ = value;
  if (radioItem_ && checked_) turnSiblingsOff();
  changed(false);
}

void TMenuItem::SetHelpContext(int value) {
  helpContext_ = value;
}

void TMenuItem::SetHint(const std::string& hint) {
  if (hint == hint_) return;
  hint_ = hint;
  changed(false); // the status tip of the item's entry
}

void TMenuItem::SetImageIndex(int index) {
  if (index == imageIndex_) return;
  imageIndex_ = index;
  changed(false);
}

void TMenuItem::SetRadioItem(bool value) {
  if (value == radioItem_) return;
  radioItem_ = value;
  if (radioItem_ && checked_) turnSiblingsOff();
  changed(false);
}

void TMenuItem::SetShortCut(TShortCut value) {
  if (value == shortCut_) return;
  shortCut_ = value;
  shortCutSince_ = value != 0 ? shortCutClock() : 0;
  changed(false);
}

void TMenuItem::SetVisible(bool visible) {
  if (visible == visible_) return;
  visible_ = visible;
  changed(true);
}

TMenuItem* TMenuItem::Items(int index) const {
  if (index < 0 || index >= Count())
    throw EListError(fmt::format("List index out of bounds ({})", index));
  return items_[static_cast<std::size_t>(index)];
}

void TMenuItem::Add(TMenuItem* item) {
  Insert(Count(), item);
}

void TMenuItem::Insert(int index, TMenuItem* item) {
  if (item == nullptr) return;
  if (item->parent_ != nullptr || item->menu_ != nullptr) throw EMenuError("Menu inserted twice");
  if (index < 0 || index > Count()) throw EMenuError("Menu index out of range");
  for (const TMenuItem* p = this; p != nullptr; p = p->parent_)
    if (p == item) throw EMenuError("A menu item cannot contain itself");
  // Keep group indexes non-decreasing: the newcomer takes at least its
  // predecessor's, and lifts the ones after it to its own.
  if (index > 0)
    item->groupIndex_ =
        std::max(item->groupIndex_, items_[static_cast<std::size_t>(index - 1)]->groupIndex_);
  for (std::size_t i = static_cast<std::size_t>(index); i < items_.size(); ++i)
    items_[i]->groupIndex_ = std::max(items_[i]->groupIndex_, item->groupIndex_);
  items_.insert(items_.begin() + index, item);
  item->parent_ = this;
  changed(true);
}

void TMenuItem::Delete(int index) {
  if (index < 0 || index >= Count()) throw EMenuError("Menu index out of range");
  TMenuItem* item = items_[static_cast<std::size_t>(index)];
  items_.erase(items_.begin() + index);
  item->parent_ = nullptr;
  changed(true);
}

void TMenuItem::Remove(TMenuItem* item) {
  const int index = IndexOf(item);
  if (index < 0) throw EMenuError("Sub-menu is not in menu");
  Delete(index);
}

void TMenuItem::Clear() {
  if (items_.empty()) return;
  while (!items_.empty()) {
    TMenuItem* last = items_.back();
    items_.pop_back();
    last->parent_ = nullptr;
    FreeObject(last);
  }
  changed(true);
}

int TMenuItem::IndexOf(const TMenuItem* item) const {
  auto it = std::find(items_.begin(), items_.end(), item);
  return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

TMenuItem* TMenuItem::Find(std::string_view caption) const {
  for (TMenuItem* item : items_)
    if (AnsiSameCaption(item->caption_, caption)) return item;
  return nullptr;
}

int TMenuItem::MenuIndex() const {
  return parent_ == nullptr ? -1 : parent_->IndexOf(this);
}

void TMenuItem::SetMenuIndex(int index) {
  if (parent_ == nullptr) return;
  const int last = parent_->Count() - 1;
  index = std::clamp(index, 0, last);
  const int current = MenuIndex();
  if (index == current) return;
  auto& siblings = parent_->items_;
  siblings.erase(siblings.begin() + current);
  siblings.insert(siblings.begin() + index, this);
  parent_->changed(true);
}

TMenu* TMenuItem::GetParentMenu() const {
  const TMenuItem* root = this;
  while (root->parent_ != nullptr)
    root = root->parent_;
  return root->menu_;
}

void TMenuItem::Click() {
  if (!enabled_) return;
  if (autoCheck_) SetChecked(!checked_);
  if (onClick_) onClick_(this);
}

TComponent* TMenuItem::GetParentComponent() const {
  if (parent_ != nullptr && parent_->menu_ != nullptr) return parent_->menu_;
  return parent_;
}

void TMenuItem::SetParentComponent(TComponent* parent) {
  TMenuItem* target = nullptr;
  if (TMenu* menu = ObjectAs<TMenu>(parent))
    target = menu->Items();
  else
    target = ObjectAs<TMenuItem>(parent);
  if (target == nullptr || target == parent_) return;
  if (parent_ != nullptr) parent_->Remove(this);
  target->Add(this);
}

void TMenuItem::GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) const {
  // Only the items that belong to the stored form; merged-in items have no owner.
  for (TMenuItem* item : items_)
    if (item->Owner() == root) proc(item);
}

// ---- TMenu --------------------------------------------------------------------

TMenu::TMenu(TComponent* owner) : TComponent(owner), items_(CreateObject<TMenuItem>(nullptr)) {
  items_->menu_ = this;
}

TMenu::~TMenu() {
  IncludeState(csDestroying);
  peer_.reset();
  items_->menu_ = nullptr;
  FreeObject(items_);
}

const TClassInfo& TMenu::StaticClass() {
  static TClassInfo info("TMenu", &TComponent::StaticClass());
  return info;
}

void TMenu::SetPeer(std::unique_ptr<TMenuPeer> peer) {
  peer_ = std::move(peer);
}

void TMenu::MenuChanged(TMenuItem* source, bool rebuild) {
  if (HasState(csDestroying) || HasState(csLoading)) return;
  if (peer_) peer_->itemChanged(source, rebuild);
  if (onChange_) onChange_(this, source, rebuild);
}

void TMenu::GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) const {
  items_->GetChildren(proc, root);
}

TMainMenu::TMainMenu(TComponent* owner) : TMenu(owner) {}
TMainMenu::~TMainMenu() = default;

const TClassInfo& TMainMenu::StaticClass() {
  static TClassInfo info("TMainMenu", &TMenu::StaticClass(),
                         [](TClassInfo& i) { ClassBuilder<TMainMenu>(i).componentFactory(); });
  return info;
}

// ---- TPopupMenu ----------------------------------------------------------------

TPopupMenu::TPopupMenu(TComponent* owner) : TMenu(owner) {}
TPopupMenu::~TPopupMenu() = default;

const TClassInfo& TPopupMenu::StaticClass() {
  static TClassInfo info("TPopupMenu", &TMenu::StaticClass(), [](TClassInfo& i) {
    using P = TPopupMenu;
    ClassBuilder<P> b(i);
    b.componentFactory();
    b.boolean("AutoPopup", &P::AutoPopup, &P::SetAutoPopup).defaultValue(1);
    b.event("OnPopup", &P::OnPopup, &P::SetOnPopup);
  });
  return info;
}

void TPopupMenu::Popup(int x, int y) {
  if (onPopup_) onPopup_(this);
  if (TGuiBackend* gui = GuiBackend()) gui->popupMenu(*this, x, y);
}

void TPopupMenu::SetPopupComponent(TComponent* component) {
  if (component == popupComponent_) return;
  if (popupComponent_ != nullptr) RemoveFreeNotification(popupComponent_);
  popupComponent_ = component;
  if (component != nullptr) component->FreeNotification(this);
}

void TPopupMenu::Notification(TComponent* component, TOperation operation) {
  TMenu::Notification(component, operation);
  if (operation == TOperation::opRemove && component == popupComponent_) popupComponent_ = nullptr;
}

} // namespace keltk
