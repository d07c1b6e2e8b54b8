// A plug-in's menu-merging settings: which of its own menu items is copied into
// the host's main menu, where the copy goes and how it is placed.
#pragma once

#include <cstdint>
#include <keltk/Component.h>
#include <keltk/PropInfo.h>
#include <string>
#include <vector>

namespace keltk {
class TMenuItem;
} // namespace keltk

namespace kelvarin {

// Where the target item is looked for.
enum TTargetMenu : std::uint8_t {
  tmPluginsTopLevelMenu, // the manager's PluginsTopLevelMenu
  tmSearchByIndex,       // a menu-bar item by position, "%LeftMostItem%" or "%RightMostItem%"
  tmSearchByCaption,     // the leftmost menu-bar item whose caption matches
};
const keltk::EnumInfo& TargetMenuInfo();

// How the copy is placed relative to the target.
enum TMenuMergeType : std::uint8_t {
  mtOverwriteItem,       // the target itself takes the source's properties and sub-items
  mtCreateChildItem,     // a new last sub-item of the target
  mtCreateNewItemAbove,  // a new item just before the target
  mtCreateNewItemBellow, // a new item just after the target
};
const keltk::EnumInfo& MenuMergeTypeInfo();

class TMenuMerging : public keltk::TPersistent {
public:
  TMenuMerging();
  ~TMenuMerging() override;
  static const keltk::TClassInfo& StaticClass();
  const keltk::TClassInfo& ClassType() const override { return StaticClass(); }

  // Published settings; none declares a streaming default.
  bool Automatic() const { return automatic_; }
  void SetAutomatic(bool automatic) { automatic_ = automatic; }
  TMenuMergeType MergeType() const { return mergeType_; }
  void SetMergeType(TMenuMergeType type) { mergeType_ = type; }
  // One of the plug-in's own menu items; forgotten when it is freed.
  keltk::TMenuItem* SourceMenu() const { return sourceMenu_; }
  void SetSourceMenu(keltk::TMenuItem* item);
  TTargetMenu TargetMenu() const { return targetMenu_; }
  void SetTargetMenu(TTargetMenu target) { targetMenu_ = target; }
  const std::string& ValueToSearch() const { return valueToSearch_; }
  void SetValueToSearch(const std::string& value) { valueToSearch_ = value; }

  // The item in the host's menu that the last merge produced, or null. It belongs
  // to the host's menu tree, not to these settings; when something else frees it,
  // it is forgotten here.
  keltk::TMenuItem* MergedItem() const { return mergedItem_; }
  void SetMergedItem(keltk::TMenuItem* item);

  // The host items beside a newly made merged item as they were before the merge
  // (inserting it may raise their group indexes and uncheck a radio item), so the
  // unmerge can put them back.
  struct SiblingState {
    keltk::TMenuItem* item;
    std::uint8_t groupIndex;
    bool checked;
  };
  std::vector<SiblingState>& SiblingsBefore() { return siblingsBefore_; }

private:
  class Watcher;
  void watch(keltk::TMenuItem* oldItem, keltk::TMenuItem* newItem);
  void forget(const keltk::TComponent* item);

  bool automatic_ = false;
  TMenuMergeType mergeType_ = mtCreateChildItem;
  keltk::TMenuItem* sourceMenu_ = nullptr;
  TTargetMenu targetMenu_ = tmPluginsTopLevelMenu;
  std::string valueToSearch_;
  keltk::TMenuItem* mergedItem_ = nullptr;
  std::vector<SiblingState> siblingsBefore_;
  keltk::ObjectPtr<Watcher> watcher_;
};

} // namespace kelvarin
