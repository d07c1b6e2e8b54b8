// Menus: trees of menu items under a menu component's root item.
#pragma once

#include "keltk/Component.h"
#include "keltk/Graphics.h"
#include "keltk/NotifyEvent.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace keltk {

class TMenu;
class TMenuPeer;

using TShortCut = std::uint16_t;

enum TMenuBreak { mbNone, mbBreak, mbBarBreak };
const EnumInfo& MenuBreakInfo();

enum TMenuItemAutoFlag { maAutomatic, maManual, maParent };
const EnumInfo& MenuItemAutoFlagInfo();

enum TOwnerDrawStateFlag : std::uint32_t {
  odSelected = 1u << 0,
  odGrayed = 1u << 1,
  odDisabled = 1u << 2,
  odChecked = 1u << 3,
  odFocused = 1u << 4,
  odDefault = 1u << 5,
};
using TOwnerDrawState = std::uint32_t;

using TMenuDrawItemEvent =
    Event<void(TObject* Sender, TCanvas* ACanvas, TRect ARect, bool Selected)>;
using TAdvancedMenuDrawItemEvent =
    Event<void(TObject* Sender, TCanvas* ACanvas, TRect ARect, TOwnerDrawState State)>;
using TMenuMeasureItemEvent =
    Event<void(TObject* Sender, TCanvas* ACanvas, int& Width, int& Height)>;

class TMenuItem : public TComponent {
public:
  explicit TMenuItem(TComponent* owner);
  // Detaches the item from its parent and frees its sub-items.
  ~TMenuItem() override;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }

  // ---- published properties
  // Any component serves as the action (the toolkit has no action classes); the
  // reference is dropped when that component is freed.
  TComponent* Action() const { return action_; }
  void SetAction(TComponent* action);
  TMenuItemAutoFlag AutoHotkeys() const { return autoHotkeys_; }
  void SetAutoHotkeys(TMenuItemAutoFlag flag);
  TMenuItemAutoFlag AutoLineReduction() const { return autoLineReduction_; }
  void SetAutoLineReduction(TMenuItemAutoFlag flag);
  bool AutoCheck() const { return autoCheck_; }
  void SetAutoCheck(bool autoCheck);
  // Owned; assigning copies the image.
  TBitmap* Bitmap() const { return bitmap_.get(); }
  void SetBitmap(const TBitmap* bitmap);
  TMenuBreak Break() const { return break_; }
  void SetBreak(TMenuBreak value);
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& caption);
  bool Checked() const { return checked_; }
  // Checking a radio item unchecks the radio items of its group among its siblings.
  void SetChecked(bool checked);
  bool Default() const { return default_; }
  void SetDefault(bool value);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  std::uint8_t GroupIndex() const { return groupIndex_; }
  // Raises EMenuError when an earlier sibling has a greater group index; later
  // siblings with a smaller one are raised to the new value.
  void SetGroupIndex(std::uint8_t value);
  int HelpContext() const { return helpContext_; }
  void SetHelpContext(int value);
  const std::string& Hint() const { return hint_; }
  void SetHint(const std::string& hint);
  int ImageIndex() const { return imageIndex_; }
  void SetImageIndex(int index);
  bool RadioItem() const { return radioItem_; }
  void SetRadioItem(bool value);
  TShortCut ShortCut() const { return shortCut_; }
  void SetShortCut(TShortCut value);
  // When the item got its shortcut, on the process's monotonic clock: of two items
  // with one key, the lower value had it first (0 without a shortcut).
  std::uint64_t ShortCutSince() const { return shortCutSince_; }
  // An image list component; the reference is dropped when it is freed.
  TComponent* SubMenuImages() const { return subMenuImages_; }
  void SetSubMenuImages(TComponent* images);
  bool Visible() const { return visible_; }
  void SetVisible(bool visible);

  const TNotifyEvent& OnClick() const { return onClick_; }
  void SetOnClick(const TNotifyEvent& handler) { onClick_ = handler; }
  const TMenuDrawItemEvent& OnDrawItem() const { return onDrawItem_; }
  void SetOnDrawItem(const TMenuDrawItemEvent& handler) { onDrawItem_ = handler; }
  const TAdvancedMenuDrawItemEvent& OnAdvancedDrawItem() const { return onAdvancedDrawItem_; }
  void SetOnAdvancedDrawItem(const TAdvancedMenuDrawItemEvent& handler) {
    onAdvancedDrawItem_ = handler;
  }
  const TMenuMeasureItemEvent& OnMeasureItem() const { return onMeasureItem_; }
  void SetOnMeasureItem(const TMenuMeasureItemEvent& handler) { onMeasureItem_ = handler; }

  // ---- sub-items
  int Count() const { return static_cast<int>(items_.size()); }
  // Raises EListError for an index outside 0..Count()-1.
  TMenuItem* Items(int index) const;
  TMenuItem* operator[](int index) const { return Items(index); }
  void Add(TMenuItem* item);
  // Index 0..Count(); raises EMenuError for an item that already has a parent or
  // an index out of range.
  void Insert(int index, TMenuItem* item);
  // Detaches the sub-item at `index` without freeing it.
  void Delete(int index);
  void Remove(TMenuItem* item);
  // Frees every sub-item.
  void Clear();
  int IndexOf(const TMenuItem* item) const;
  // First sub-item whose caption matches under AnsiSameCaption, or null.
  TMenuItem* Find(std::string_view caption) const;

  TMenuItem* Parent() const { return parent_; }
  // Position among the parent's sub-items (-1 without a parent). Setting it moves
  // the item; values outside the range go to the nearest end.
  int MenuIndex() const;
  void SetMenuIndex(int index);
  // The menu whose tree holds this item, or null.
  TMenu* GetParentMenu() const;
  bool IsLine() const { return caption_ == "-"; }

  // Runs the item as if chosen: toggles Checked for AutoCheck items, then OnClick
  // with this item as sender. Disabled items do nothing.
  virtual void Click();

  // ---- stored data
  // An item placed directly on a form or data module, outside any menu, is stored
  // as one of the root's own components.
  bool HasParent() const override { return parent_ != nullptr; }
  TComponent* GetParentComponent() const override;
  void SetParentComponent(TComponent* parent) override;
  void GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) const override;

protected:
  void Notification(TComponent* component, TOperation operation) override;

private:
  friend class TMenu;
  void changed(bool rebuild);
  void turnSiblingsOff();

  TComponent* action_ = nullptr;
  TMenuItemAutoFlag autoHotkeys_ = maParent;
  TMenuItemAutoFlag autoLineReduction_ = maParent;
  bool autoCheck_ = false;
  std::unique_ptr<TBitmap> bitmap_;
  TMenuBreak break_ = mbNone;
  std::string caption_;
  bool checked_ = false;
  bool default_ = false;
  bool enabled_ = true;
  std::uint8_t groupIndex_ = 0;
  int helpContext_ = 0;
  std::string hint_;
  int imageIndex_ = -1;
  bool radioItem_ = false;
  TShortCut shortCut_ = 0;
  std::uint64_t shortCutSince_ = 0;
  TComponent* subMenuImages_ = nullptr;
  bool visible_ = true;
  TNotifyEvent onClick_;
  TMenuDrawItemEvent onDrawItem_;
  TAdvancedMenuDrawItemEvent onAdvancedDrawItem_;
  TMenuMeasureItemEvent onMeasureItem_;

  std::vector<TMenuItem*> items_;
  TMenuItem* parent_ = nullptr;
  TMenu* menu_ = nullptr; // set on a menu's root item only
};

// Raised after a menu's tree or one of its items changed. `Source` is the item
// that changed (null for the whole menu); `Rebuild` is true when items were
// added, removed or moved.
using TMenuChangeEvent = Event<void(TObject* Sender, TMenuItem* Source, bool Rebuild)>;

class TMenu : public TComponent {
public:
  explicit TMenu(TComponent* owner);
  ~TMenu() override;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }

  // The root item; its sub-items are the menu's entries (for a main menu, the
  // menu bar).
  TMenuItem* Items() const { return items_; }

  const TMenuChangeEvent& OnChange() const { return onChange_; }
  void SetOnChange(const TMenuChangeEvent& handler) { onChange_ = handler; }

  // The window system's counterpart (the menu bar of a shown form), told about changes.
  TMenuPeer* Peer() const { return peer_.get(); }
  void SetPeer(std::unique_ptr<TMenuPeer> peer);

  // Stored data nests the root item's sub-items directly in the menu's block.
  void GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) const override;

protected:
  friend class TMenuItem;
  virtual void MenuChanged(TMenuItem* source, bool rebuild);

private:
  TMenuItem* items_;
  TMenuChangeEvent onChange_;
  std::unique_ptr<TMenuPeer> peer_;
};

class TMainMenu : public TMenu {
public:
  explicit TMainMenu(TComponent* owner);
  ~TMainMenu() override;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }
};

// A context menu: shown by Popup, or by a right click (or the context-menu key) on
// a control or form whose PopupMenu it is.
class TPopupMenu : public TMenu {
public:
  explicit TPopupMenu(TComponent* owner);
  ~TPopupMenu() override;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }

  // Raises OnPopup, then shows the items at screen point (x, y) and returns once
  // the menu is closed, after the chosen item's Click. Without a window system
  // only OnPopup runs.
  virtual void Popup(int x, int y);
  // The control whose right click showed the menu last; null after a Popup of the
  // program's own.
  TComponent* PopupComponent() const { return popupComponent_; }
  void SetPopupComponent(TComponent* component);
  // Off: a right click on the controls leaves the menu alone.
  bool AutoPopup() const { return autoPopup_; }
  void SetAutoPopup(bool value) { autoPopup_ = value; }

  const TNotifyEvent& OnPopup() const { return onPopup_; }
  void SetOnPopup(const TNotifyEvent& handler) { onPopup_ = handler; }

protected:
  void Notification(TComponent* component, TOperation operation) override;

private:
  TComponent* popupComponent_ = nullptr;
  bool autoPopup_ = true;
  TNotifyEvent onPopup_;
};

// The caption without accelerator markers: "&File" gives "File", "Fish && Chips"
// gives "Fish & Chips".
std::string StripHotkey(std::string_view caption);
// Captions equal without regard to case once accelerator markers are removed.
bool AnsiSameCaption(std::string_view a, std::string_view b);

// The shortcut as the menus show it ("Ctrl+Q", "Ctrl+Shift+F5"); "" for none or a
// key without a name.
std::string ShortCutToText(TShortCut shortCut);
// Of the items in `item`'s menu tree (the item's topmost parent and everything
// below it) with `item`'s shortcut, the one that had it first: that one takes the
// key, the others only show it. Null when `item` has no shortcut, or one without
// a name, which no menu takes.
const TMenuItem* ShortCutHolder(const TMenuItem& item);

} // namespace keltk
