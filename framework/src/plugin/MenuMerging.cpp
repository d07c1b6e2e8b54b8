// Menu merging: the plug-in's settings, the manager's copy of a plug-in menu into
// the host's main menu, and the plug-in's merge and unmerge.
#include "kelvarin/MenuMerging.h"

#include "ExceptionReport.h"
#include "LogCalls.h"
#include "PluginCallScope.h"
#include "ThreadCheck.h"
#include "kelvarin/Catalogue.h"
#include "kelvarin/Errors.h"
#include "kelvarin/manager.h"
#include "kelvarin/plugin.h"

#include <charconv>
#include <fmt/format.h>
#include <keltk/Application.h>
#include <keltk/Exception.h>
#include <keltk/Forms.h>
#include <keltk/Menus.h>
#include <utility>
#include <vector>

namespace kelvarin {

namespace {

TErrorClass mergeError() {
  return &EulmKelMergeError::StaticClass();
}

// A menu item that the merge makes. Choosing it runs the plug-in's handler as
// plug-in code, so that the plug-in is not unloaded under its own handler.
class TMergedMenuItem : public keltk::TMenuItem {
public:
  explicit TMergedMenuItem(TulmKel* plugin) : TMenuItem(nullptr), plugin_(plugin) {}
  void Click() override {
    PluginCallScope scope(plugin_);
    TMenuItem::Click();
  }

private:
  TulmKel* plugin_;
};

// "a decimal number with an optional sign"; -1 when the text is anything else.
int positionOf(const std::string& text) {
  std::string_view s = text;
  if (!s.empty() && s.front() == '+') {
    s.remove_prefix(1);
    if (!s.empty() && s.front() == '-') return -1; // one sign only
  }
  int value = -1;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size()) return -1;
  return value;
}

bool isWithin(const keltk::TMenuItem* item, const keltk::TMenuItem* tree) {
  for (const keltk::TMenuItem* p = item; p != nullptr; p = p->Parent())
    if (p == tree) return true;
  return false;
}

// The plug-in whose code a menu item's handlers belong to: the one that owns it.
TulmKel* owningPlugin(keltk::TComponent* item) {
  for (keltk::TComponent* c = item; c != nullptr; c = c->Owner())
    if (auto* plugin = keltk::ObjectAs<TulmKel>(c)) return plugin;
  return nullptr;
}

std::vector<TMenuMerging::SiblingState> siblingStates(const keltk::TMenuItem* parent) {
  std::vector<TMenuMerging::SiblingState> states;
  states.reserve(static_cast<std::size_t>(parent->Count()));
  for (int i = 0; i < parent->Count(); ++i) {
    keltk::TMenuItem* item = parent->Items(i);
    states.push_back({item, item->GroupIndex(), item->Checked()});
  }
  return states;
}

// Group indexes first, in order (each may not fall below an earlier sibling's),
// then the checks. Items no longer there are skipped.
void restoreSiblings(keltk::TMenuItem* parent,
                     const std::vector<TMenuMerging::SiblingState>& states) {
  if (parent == nullptr) return;
  for (const auto& state : states)
    if (parent->IndexOf(state.item) >= 0) try {
        state.item->SetGroupIndex(state.groupIndex);
      } catch (const keltk::Exception&) {
        // An item merged in since sits in between; leave this one as it is.
      }
  for (const auto& state : states)
    if (parent->IndexOf(state.item) >= 0 && state.item->Checked() != state.checked)
      state.item->SetChecked(state.checked);
}

std::vector<keltk::TMenuItem*> subItems(const keltk::TMenuItem* item) {
  std::vector<keltk::TMenuItem*> items;
  items.reserve(static_cast<std::size_t>(item->Count()));
  for (int i = 0; i < item->Count(); ++i)
    items.push_back(item->Items(i));
  return items;
}

} // namespace

// ---- TMenuMerging

const keltk::EnumInfo& TargetMenuInfo() {
  static const keltk::EnumInfo info = keltk::EnumInfo::sequence(
      "TTargetMenu", {"tmPluginsTopLevelMenu", "tmSearchByIndex", "tmSearchByCaption"});
  return info;
}

const keltk::EnumInfo& MenuMergeTypeInfo() {
  static const keltk::EnumInfo info = keltk::EnumInfo::sequence(
      "TMenuMergeType",
      {"mtOverwriteItem", "mtCreateChildItem", "mtCreateNewItemAbove", "mtCreateNewItemBellow"});
  return info;
}

// Told by the watched menu items when they are freed.
class TMenuMerging::Watcher : public keltk::TComponent {
public:
  explicit Watcher(TMenuMerging& settings) : TComponent(nullptr), settings_(settings) {}

protected:
  void Notification(keltk::TComponent* component, keltk::TOperation operation) override {
    TComponent::Notification(component, operation);
    if (operation == keltk::TOperation::opRemove) settings_.forget(component);
  }

private:
  TMenuMerging& settings_;
};

const keltk::TClassInfo& TMenuMerging::StaticClass() {
  static keltk::TClassInfo info(
      "TMenuMerging", &keltk::TPersistent::StaticClass(), [](keltk::TClassInfo& i) {
        using M = TMenuMerging;
        keltk::ClassBuilder<M> b(i);
        b.boolean("Automatic", &M::Automatic, &M::SetAutomatic);
        b.enumeration("MergeType", MenuMergeTypeInfo(), &M::MergeType, &M::SetMergeType);
        b.component("SourceMenu", &M::SourceMenu, &M::SetSourceMenu);
        b.enumeration("TargetMenu", TargetMenuInfo(), &M::TargetMenu, &M::SetTargetMenu);
        b.string("ValueToSearch", &M::ValueToSearch, &M::SetValueToSearch);
      });
  return info;
}

TMenuMerging::TMenuMerging() {
  MethodFrame site{"TMenuMerging.Create"};
  site.step = 1;
  GuardedPassOn(this, site, [&] {
    automatic_ = false;
    mergeType_ = mtCreateChildItem;
    sourceMenu_ = nullptr;
    targetMenu_ = tmPluginsTopLevelMenu;
    valueToSearch_.clear();
    mergedItem_ = nullptr;
    site.step = 2;
    watcher_.reset(keltk::CreateObject<Watcher>(*this));
  });
}

TMenuMerging::~TMenuMerging() {
  MethodFrame site{"TMenuMerging.Destroy"};
  site.step = 1;
  GuardedSwallow(this, site, [&] {
    // The watcher asks the watched items to forget it as it goes.
    watcher_.reset();
  });
}

void TMenuMerging::SetSourceMenu(keltk::TMenuItem* item) {
  if (item == sourceMenu_) return;
  keltk::TMenuItem* old = sourceMenu_;
  sourceMenu_ = item;
  watch(old, item);
}

void TMenuMerging::SetMergedItem(keltk::TMenuItem* item) {
  if (item == mergedItem_) return;
  keltk::TMenuItem* old = mergedItem_;
  mergedItem_ = item;
  watch(old, item);
}

void TMenuMerging::watch(keltk::TMenuItem* oldItem, keltk::TMenuItem* newItem) {
  if (watcher_ == nullptr) return;
  // One item may be both the source and the merged item; keep watching it while
  // either reference remains.
  if (oldItem != nullptr && oldItem != sourceMenu_ && oldItem != mergedItem_)
    watcher_->RemoveFreeNotification(oldItem);
  if (newItem != nullptr) watcher_->FreeNotification(newItem);
}

void TMenuMerging::forget(const keltk::TComponent* item) {
  if (item == sourceMenu_) sourceMenu_ = nullptr;
  if (item == mergedItem_) mergedItem_ = nullptr;
}

// ---- the manager's merge

namespace {

// Copies the properties and handlers of `source` onto `dest`, in a fixed order
// (the action first, so the later steps overwrite what it applied). The name and
// the sub-items are not copied.
bool transferProperties(TulmKelMan* manager, const keltk::TMenuItem* source,
                        keltk::TMenuItem* dest) {
  MethodFrame site{"TulmKelMan.MergeMenu.Transferir_Propriedades"};
  bool done = false;
  site.step = 1;
  GuardedSwallow(manager, site, [&] {
    dest->SetAction(source->Action());
    site.step = 2;
    dest->SetAutoLineReduction(source->AutoLineReduction());
    dest->SetAutoHotkeys(source->AutoHotkeys());
    site.step = 3;
    dest->SetBitmap(source->Bitmap());
    site.step = 4;
    dest->SetBreak(source->Break());
    dest->SetCaption(source->Caption());
    dest->SetChecked(source->Checked());
    dest->SetDefault(source->Default());
    dest->SetEnabled(source->Enabled());
    site.step = 5;
    try {
      dest->SetGroupIndex(source->GroupIndex());
    } catch (const keltk::Exception&) {
      // The siblings' order of groups may refuse it; the copy goes on without it.
    }
    site.step = 6;
    dest->SetHelpContext(source->HelpContext());
    dest->SetHint(source->Hint());
    dest->SetImageIndex(source->ImageIndex());
    dest->SetRadioItem(source->RadioItem());
    dest->SetShortCut(source->ShortCut());
    dest->SetSubMenuImages(source->SubMenuImages());
    dest->SetTag(source->Tag());
    dest->SetVisible(source->Visible());
    site.step = 7;
    // Still bound to the plug-in: the copy runs the plug-in's code, with the copy
    // as sender.
    dest->SetOnAdvancedDrawItem(source->OnAdvancedDrawItem());
    dest->SetOnDrawItem(source->OnDrawItem());
    dest->SetOnClick(source->OnClick());
    dest->SetOnMeasureItem(source->OnMeasureItem());
    site.step = 8;
    done = true;
  });
  return done;
}

// Appends to `parent` a copy of `source` and of everything below it. Each source
// item's Tag then leads to its copy.
bool copyTree(TulmKelMan* manager, TulmKel* plugin, keltk::TMenuItem* source,
              keltk::TMenuItem* parent) {
  MethodFrame site{"TulmKelMan.MergeMenu.Copiar"};
  bool done = false;
  site.step = 1;
  GuardedSwallow(manager, site, [&] {
    keltk::ObjectPtr<keltk::TMenuItem> copy(keltk::CreateObject<TMergedMenuItem>(plugin));
    site.step = 2;
    // A copy that failed is not left half made.
    if (!transferProperties(manager, source, copy.get())) return;
    site.step = 3;
    source->SetTag(reinterpret_cast<std::intptr_t>(copy.get()));
    site.step = 4;
    keltk::TMenuItem* added = copy.get();
    parent->Add(added);
    copy.release();
    site.step = 5;
    for (keltk::TMenuItem* child : subItems(source))
      if (!copyTree(manager, plugin, child, added)) return;
    site.step = 6;
    done = true;
  });
  return done;
}

// After a failed merge nothing in the host's menu may lead into the plug-in's code
// any more: a new item goes entirely; an overwritten target loses the copies and
// the handlers it took from the source. Its own sub-items stay unless the merge had
// already replaced them (`copying`).
void undoMerge(keltk::TMenuItem* receiver, bool created, bool copying,
               const keltk::TMenuItem* source) {
  try {
    if (created) {
      keltk::FreeObject(receiver);
      return;
    }
    if (copying) receiver->Clear();
    if (source == nullptr) return;
    if (receiver->OnClick() == source->OnClick()) receiver->SetOnClick({});
    if (receiver->OnDrawItem() == source->OnDrawItem()) receiver->SetOnDrawItem({});
    if (receiver->OnAdvancedDrawItem() == source->OnAdvancedDrawItem())
      receiver->SetOnAdvancedDrawItem({});
    if (receiver->OnMeasureItem() == source->OnMeasureItem()) receiver->SetOnMeasureItem({});
  } catch (const keltk::Exception&) {
    // Best effort: the failure itself has been reported already.
  }
}

} // namespace

TKelMethodResult TulmKelMan::MergeMenu(keltk::TMenuItem* Source, TTargetMenu TargetMenu,
                                       const std::string& ValueToSearch, TMenuMergeType MergeType,
                                       keltk::TMenuItem*& MergedItem) {
  std::vector<TMenuMerging::SiblingState> siblingsBefore;
  return mergeMenu(Source, TargetMenu, ValueToSearch, MergeType, MergedItem, siblingsBefore);
}

TKelMethodResult TulmKelMan::mergeMenu(keltk::TMenuItem* Source, TTargetMenu TargetMenu,
                                       const std::string& ValueToSearch, TMenuMergeType MergeType,
                                       keltk::TMenuItem*& MergedItem,
                                       std::vector<TMenuMerging::SiblingState>& siblingsBefore) {
  if (TKelMethodResult refused; !OnManagerThread(*this, "TulmKelMan.MergeMenu", &refused))
    return refused;
  MethodFrame site{"TulmKelMan.MergeMenu"};
  TKelMethodResult result = smrUnexpectedError;
  MergedItem = nullptr;
  siblingsBefore.clear();
  keltk::TMenuItem* receiver = nullptr;
  bool created = false;
  bool copying = false; // the receiver's sub-items are this merge's copies
  auto fail = [&](std::int32_t code, std::initializer_list<keltk::TVarRec> args) {
    LogError(*this, FormatError(mergeError(), result, code, args));
  };
  site.step = 1;
  GuardedSwallow(this, site, [&] {
    site.step = 11;
    if (Source == nullptr) {
      site.step = 12;
      const std::string name = "\"Source\"";
      const std::string className = "TMenuItem";
      fail(E026, {keltk::VarStr(name), keltk::VarStr(className)});
      return;
    }

    site.step = 21;
    keltk::TApplication* app = keltk::Application();
    keltk::TForm* mainForm = app != nullptr ? app->MainForm() : nullptr;
    keltk::TMainMenu* mainMenu = mainForm != nullptr ? mainForm->Menu() : nullptr;
    if (mainMenu == nullptr) {
      site.step = 22;
      fail(E022, {});
      return;
    }
    keltk::TMenuItem* bar = mainMenu->Items();
    TulmKel* plugin = owningPlugin(Source);

    site.step = 31;
    keltk::TMenuItem* target = nullptr;
    switch (TargetMenu) {
    case tmPluginsTopLevelMenu:
      target = pluginsTopLevelMenu_;
      if (target == nullptr) {
        site.step = 32;
        fail(E029, {keltk::VarPChar("PluginsTopLevelMenu: nil")});
        return;
      }
      break;
    case tmSearchByIndex: {
      site.step = 41;
      // On an empty menu bar both special values raise the list's index error.
      if (ValueToSearch == "%LeftMostItem%") {
        target = bar->Items(0);
        break;
      }
      if (ValueToSearch == "%RightMostItem%") {
        target = bar->Items(bar->Count() - 1);
        break;
      }
      const int position = positionOf(ValueToSearch);
      if (position == -1) {
        site.step = 42;
        fail(E01C, {keltk::VarPChar("\"Value\" (must be Integer).")});
        return;
      }
      site.step = 43;
      for (int i = 0; i < bar->Count() && target == nullptr; ++i)
        if (bar->Items(i)->MenuIndex() == position) target = bar->Items(i);
      if (target == nullptr) {
        site.step = 44;
        const std::string what = "Index: " + ValueToSearch;
        fail(E029, {keltk::VarStr(what)});
        return;
      }
      break;
    }
    case tmSearchByCaption:
      site.step = 51;
      for (int i = 0; i < bar->Count() && target == nullptr; ++i)
        if (keltk::AnsiSameCaption(bar->Items(i)->Caption(), ValueToSearch)) target = bar->Items(i);
      if (target == nullptr) {
        site.step = 52;
        const std::string what = "Caption: \"" + ValueToSearch + "\"";
        fail(E029, {keltk::VarStr(what)});
        return;
      }
      break;
    default:
      throw keltk::EConvertError(
          fmt::format("Invalid target menu kind ({})", static_cast<int>(TargetMenu)));
    }
    // Copying a menu into its own tree would never end.
    if (isWithin(target, Source))
      throw keltk::EMenuError("A menu item cannot be merged into its own tree");

    site.step = 61;
    if (MergeType == mtOverwriteItem) {
      receiver = target;
    } else {
      keltk::ObjectPtr<keltk::TMenuItem> item(keltk::CreateObject<TMergedMenuItem>(plugin));
      const keltk::TMenuItem* home = MergeType == mtCreateChildItem ? target : target->Parent();
      if (home != nullptr) siblingsBefore = siblingStates(home);
      if (MergeType == mtCreateChildItem) {
        site.step = 62;
        target->Add(item.get());
      } else {
        site.step = 63;
        keltk::TMenuItem* parent = target->Parent();
        if (parent == nullptr)
          throw keltk::EMenuError("The target menu item has no parent to insert beside");
        const int position = target->MenuIndex();
        if (MergeType == mtCreateNewItemAbove)
          parent->Insert(position, item.get());
        else if (MergeType == mtCreateNewItemBellow && position == parent->Count() - 1)
          parent->Add(item.get());
        else if (MergeType == mtCreateNewItemBellow)
          parent->Insert(position + 1, item.get());
        else
          throw keltk::EConvertError(
              fmt::format("Invalid menu merge type ({})", static_cast<int>(MergeType)));
      }
      receiver = item.release();
      created = true;
    }

    site.step = 71;
    if (!transferProperties(this, Source, receiver)) return;
    site.step = 72;
    receiver->Clear();
    copying = true;
    site.step = 81;
    for (keltk::TMenuItem* child : subItems(Source))
      if (!copyTree(this, plugin, child, receiver)) return;
    site.step = 91;
    MergedItem = receiver;
    result = smrOk;
  });
  if (!result.Success && receiver != nullptr) undoMerge(receiver, created, copying, Source);
  return result;
}

// ---- the plug-in's merge and unmerge

namespace {

// A merged entry whose shortcut an entry already had shows the key but does not
// take it: one line each says where the key stays.
void logKeysKeptElsewhere(TulmKel* plugin, const keltk::TMenuItem& item) {
  const keltk::TMenuItem* holder = keltk::ShortCutHolder(item);
  if (holder != nullptr && holder != &item)
    LogAction(*plugin, ActionText::ShortcutKept,
              {keltk::ShortCutToText(item.ShortCut()), keltk::StripHotkey(item.Caption()),
               keltk::StripHotkey(holder->Caption())});
  for (keltk::TMenuItem* child : subItems(&item))
    logKeysKeptElsewhere(plugin, *child);
}

} // namespace

TKelMethodResult TulmKel::MergeMenu() {
  MethodFrame site{"TulmKel.MergeMenu"};
  TKelMethodResult result = smrUnexpectedError;
  site.step = 1;
  GuardedSwallow(this, site, [&] {
    TMenuMerging* settings = MenuMerging();
    TulmKelMan* manager = Manager();
    site.step = 2;
    if (manager == nullptr) return;
    // A second merge would leave the first copy behind, still wired to this
    // plug-in's code after it is gone: take the first one out. The unmerge lets go
    // of it before freeing it, so even a failed one (reported) leaves no link.
    if (settings->MergedItem() != nullptr) (void)UnmergeMenu();
    keltk::TMenuItem* merged = nullptr;
    std::vector<TMenuMerging::SiblingState> siblingsBefore;
    result = FrameworkAccess::mergeMenu(*manager, *settings, merged, siblingsBefore);
    site.step = 3;
    settings->SetMergedItem(result.Success ? merged : nullptr);
    if (!result.Success) siblingsBefore.clear();
    settings->SiblingsBefore() = std::move(siblingsBefore);
    site.step = 4;
    if (result.Success) {
      LogAction(*this, ActionText::MenuMerged,
                {settings->SourceMenu()->Caption(), ShortFileName()});
      logKeysKeptElsewhere(this, *merged);
    }
  });
  return result;
}

TKelMethodResult TulmKel::UnmergeMenu() {
  MethodFrame site{"TulmKel.UnmergeMenu"};
  TKelMethodResult result = smrUnexpectedError;
  site.step = 1;
  GuardedSwallow(this, site, [&] {
    TMenuMerging* settings = MenuMerging();
    site.step = 11;
    if (settings->MergedItem() == nullptr) {
      site.step = 12;
      LogError(*this, FormatError(&EulmKelUnloadError::StaticClass(), result, E028));
      return;
    }
    site.step = 31;
    keltk::TMenuItem* merged = settings->MergedItem();
    const std::string caption = merged->Caption();
    keltk::TMenuItem* parent = merged->Parent();
    settings->SetMergedItem(nullptr);
    keltk::FreeObject(merged);
    site.step = 32;
    restoreSiblings(parent, std::exchange(settings->SiblingsBefore(), {}));
    site.step = 41;
    if (Manager() != nullptr)
      LogAction(*this, ActionText::MenuUnmerged, {caption, ShortFileName()});
    site.step = 51;
    result = smrOk;
  });
  return result;
}

} // namespace kelvarin
