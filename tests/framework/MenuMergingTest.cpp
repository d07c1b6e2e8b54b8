// Merging a plug-in's menu into the host's main menu and taking it out again, on
// a host main form built in the test (no window system).
#include "LifecycleSupport.h"

#include <fmt/format.h>
#include <functional>
#include <gtest/gtest.h>
#include <keltk/Forms.h>
#include <keltk/Menus.h>
#include <keltk/Resources.h>
#include <keltk/Writer.h>

namespace kelvarin::test {
namespace {

std::string entry(std::string_view origin, char kind, std::string_view msg) {
  return fmt::format("  {:<20} {}  {}", origin, kind, msg);
}

std::vector<std::string> captions(const keltk::TMenuItem* parent) {
  std::vector<std::string> out;
  for (int i = 0; i < parent->Count(); ++i)
    out.push_back(parent->Items(i)->Caption());
  return out;
}

using Captions = std::vector<std::string>;

// A plug-in whose menu handlers record who called them.
class MenuPlugin : public TulmKel {
public:
  using TulmKel::TulmKel;
  void Clicked(keltk::TObject* sender) {
    senders.push_back(sender);
    depths.push_back(CodeDepth());
  }
  void Drawn(keltk::TObject*, keltk::TCanvas*, keltk::TRect, bool) {}
  std::vector<keltk::TObject*> senders;
  std::vector<int> depths;
};

std::vector<std::string> freedCaptions;

class TTrackedItem : public keltk::TMenuItem {
public:
  using TMenuItem::TMenuItem;
  ~TTrackedItem() override { freedCaptions.push_back(Caption()); }
};

class MenuMergingTest : public ::testing::Test {
protected:
  MenuMergingTest() {
    freedCaptions.clear();
    previousMainForm = keltk::Application()->MainForm();
    form.reset(keltk::CreateObject<keltk::TForm>(nullptr, keltk::CreateNew));
    menu = keltk::CreateObject<keltk::TMainMenu>(form.get());
    form->SetMenu(menu);
    bar = menu->Items();
    for (const char* caption : {"&File", "&Edit", "&Help"})
      bar->Add(hostItem(caption));
    edit = bar->Items(1);
    edit->Add(hostItem("&Undo"));
    edit->Add(hostItem("&Copy"));
    keltk::Application()->SetMainForm(form.get());

    manager.reset(keltk::CreateObject<TulmKelMan>(nullptr));
    manager->Log()->SetDumpOn(doNever);
    plugin = addPlugin<MenuPlugin>(*manager, "Menus", "/plugins/menus.kel");

    tools = pluginItem("&Tools");
    run = pluginItem("&Run");
    stop = pluginItem("&Stop");
    tools->Add(run);
    tools->Add(stop);
    const auto click = keltk::TNotifyEvent::bind<&MenuPlugin::Clicked>(plugin);
    tools->SetOnClick(click);
    run->SetOnClick(click);
    stop->SetOnClick(click);
    plugin->MenuMerging()->SetSourceMenu(tools);
  }
  ~MenuMergingTest() override {
    manager.reset(); // unloads the plug-in, which unmerges what is still merged
    form.reset();
    keltk::Application()->SetMainForm(previousMainForm);
  }

  keltk::TMenuItem* hostItem(const std::string& caption) {
    auto* item = keltk::CreateObject<TTrackedItem>(form.get());
    item->SetCaption(caption);
    return item;
  }
  keltk::TMenuItem* pluginItem(const std::string& caption) {
    auto* item = keltk::CreateObject<keltk::TMenuItem>(plugin);
    item->SetCaption(caption);
    return item;
  }
  void settings(TTargetMenu target, const std::string& value, TMenuMergeType type) {
    plugin->MenuMerging()->SetTargetMenu(target);
    plugin->MenuMerging()->SetValueToSearch(value);
    plugin->MenuMerging()->SetMergeType(type);
  }
  keltk::TMenuItem* merged() const { return plugin->MenuMerging()->MergedItem(); }
  std::vector<std::string> log() const { return linesAfterStamp(*manager->Log()); }
  // Merges through the manager directly and checks that it failed with `message`
  // (as the log's last line and the result), leaving the host's menu alone.
  void expectMergeError(TTargetMenu target, const std::string& value, TMenuMergeType type,
                        const std::string& message, keltk::TMenuItem* source = nullptr) {
    keltk::TMenuItem* item = bar;
    const Captions before = captions(bar);
    const TKelMethodResult r =
        manager->MergeMenu(source != nullptr ? source : tools, target, value, type, item);
    EXPECT_FALSE(r.Success);
    EXPECT_EQ(r.ErrorMsg, message);
    ASSERT_NE(r.ErrorClass, nullptr);
    EXPECT_STREQ(r.ErrorClass->name, "EulmKelMergeError");
    EXPECT_EQ(item, nullptr);
    EXPECT_EQ(log().back(), entry("MANAGER", 'E', message));
    EXPECT_EQ(captions(bar), before);
  }

  keltk::TApplication* app() const { return keltk::Application(); }

  keltk::TForm* previousMainForm = nullptr;
  keltk::ObjectPtr<keltk::TForm> form;
  keltk::TMainMenu* menu = nullptr;
  keltk::TMenuItem* bar = nullptr;
  keltk::TMenuItem* edit = nullptr;
  keltk::ObjectPtr<TulmKelMan> manager;
  MenuPlugin* plugin = nullptr;
  keltk::TMenuItem* tools = nullptr;
  keltk::TMenuItem* run = nullptr;
  keltk::TMenuItem* stop = nullptr;
};

// ---- the worked example

TEST_F(MenuMergingTest, BelowTheTargetAndBackAgain) {
  settings(tmSearchByCaption, "Edit", mtCreateNewItemBellow);
  EXPECT_EQ(plugin->MergeMenu(), smrOk);
  EXPECT_EQ(captions(bar), (Captions{"&File", "&Edit", "&Tools", "&Help"}));
  keltk::TMenuItem* copy = bar->Items(2);
  EXPECT_EQ(merged(), copy);
  EXPECT_NE(copy, tools);
  EXPECT_EQ(captions(copy), (Captions{"&Run", "&Stop"}));
  EXPECT_EQ(run->Tag(), reinterpret_cast<std::intptr_t>(copy->Items(0)));
  EXPECT_EQ(stop->Tag(), reinterpret_cast<std::intptr_t>(copy->Items(1)));
  EXPECT_EQ(tools->Tag(), 0);
  EXPECT_EQ(copy->Owner(), nullptr);
  EXPECT_EQ(log().back(), entry("Menus", 'A', "Menu \"&Tools\" of plugin \"menus.kel\" mergged."));

  EXPECT_EQ(plugin->UnmergeMenu(), smrOk);
  EXPECT_EQ(captions(bar), (Captions{"&File", "&Edit", "&Help"}));
  EXPECT_EQ(merged(), nullptr);
  EXPECT_EQ(log().back(),
            entry("Menus", 'A', "Menu \"&Tools\" of plugin \"menus.kel\" unmergged."));
  // The plug-in's own menu is untouched.
  EXPECT_EQ(captions(tools), (Captions{"&Run", "&Stop"}));
}

TEST_F(MenuMergingTest, AboveTheTarget) {
  settings(tmSearchByCaption, "Edit", mtCreateNewItemAbove);
  EXPECT_EQ(plugin->MergeMenu(), smrOk);
  EXPECT_EQ(captions(bar), (Captions{"&File", "&Tools", "&Edit", "&Help"}));
  EXPECT_EQ(captions(bar->Items(1)), (Captions{"&Run", "&Stop"}));
  EXPECT_EQ(plugin->UnmergeMenu(), smrOk);
  EXPECT_EQ(captions(bar), (Captions{"&File", "&Edit", "&Help"}));
}

TEST_F(MenuMergingTest, AsTheLastEntryOfTheTargetsDropDown) {
  settings(tmSearchByCaption, "Edit", mtCreateChildItem);
  EXPECT_EQ(plugin->MergeMenu(), smrOk);
  EXPECT_EQ(captions(bar), (Captions{"&File", "&Edit", "&Help"}));
  EXPECT_EQ(captions(edit), (Captions{"&Undo", "&Copy", "&Tools"}));
  EXPECT_EQ(merged(), edit->Items(2));
  EXPECT_EQ(captions(edit->Items(2)), (Captions{"&Run", "&Stop"}));
  EXPECT_EQ(plugin->UnmergeMenu(), smrOk);
  EXPECT_EQ(captions(edit), (Captions{"&Undo", "&Copy"}));
}

TEST_F(MenuMergingTest, ChoosingAMergedEntryRunsThePluginsHandlerAsPluginCode) {
  settings(tmSearchByCaption, "Edit", mtCreateNewItemBellow);
  ASSERT_EQ(plugin->MergeMenu(), smrOk);
  keltk::TMenuItem* runCopy = merged()->Items(0);
  runCopy->Click();
  merged()->Click();
  ASSERT_EQ(plugin->senders.size(), 2u);
  EXPECT_EQ(plugin->senders[0], runCopy);
  EXPECT_EQ(plugin->senders[1], merged());
  EXPECT_EQ(plugin->depths, (std::vector<int>{1, 1}));
  EXPECT_EQ(plugin->CodeDepth(), 0);
}

// ---- what is copied

TEST_F(MenuMergingTest, EveryListedPropertyAndHandlerIsCopied) {
  auto* action = keltk::CreateObject<keltk::TComponent>(plugin);
  auto* images = keltk::CreateObject<keltk::TComponent>(plugin);
  run->SetAction(action);
  run->SetAutoLineReduction(keltk::maManual);
  run->SetAutoHotkeys(keltk::maAutomatic);
  run->Bitmap()->SetSize(2, 2);
  run->Bitmap()->SetPixel(0, 1, 0xFF00FF00u);
  run->SetBreak(keltk::mbBarBreak);
  run->SetChecked(true);
  run->SetDefault(true);
  run->SetEnabled(false);
  run->SetGroupIndex(3);
  run->SetHelpContext(77);
  run->SetHint("Runs it");
  run->SetImageIndex(4);
  run->SetRadioItem(true);
  run->SetShortCut(0x4052);
  run->SetSubMenuImages(images);
  run->SetVisible(false);
  run->SetOnDrawItem(keltk::TMenuDrawItemEvent::bind<&MenuPlugin::Drawn>(plugin));
  run->SetName("RunItem");

  settings(tmSearchByIndex, "%RightMostItem%", mtCreateChildItem);
  ASSERT_EQ(plugin->MergeMenu(), smrOk);
  keltk::TMenuItem* copy = merged()->Items(0);
  EXPECT_EQ(copy->Action(), action);
  EXPECT_EQ(copy->AutoLineReduction(), keltk::maManual);
  EXPECT_EQ(copy->AutoHotkeys(), keltk::maAutomatic);
  EXPECT_NE(copy->Bitmap(), run->Bitmap());
  EXPECT_EQ(copy->Bitmap()->Width(), 2);
  EXPECT_EQ(copy->Bitmap()->Pixel(0, 1), 0xFF00FF00u);
  EXPECT_EQ(copy->Break(), keltk::mbBarBreak);
  EXPECT_EQ(copy->Caption(), "&Run");
  EXPECT_TRUE(copy->Checked());
  EXPECT_TRUE(copy->Default());
  EXPECT_FALSE(copy->Enabled());
  EXPECT_EQ(copy->GroupIndex(), 3);
  EXPECT_EQ(copy->HelpContext(), 77);
  EXPECT_EQ(copy->Hint(), "Runs it");
  EXPECT_EQ(copy->ImageIndex(), 4);
  EXPECT_TRUE(copy->RadioItem());
  EXPECT_EQ(copy->ShortCut(), 0x4052);
  EXPECT_EQ(copy->SubMenuImages(), images);
  EXPECT_FALSE(copy->Visible());
  EXPECT_EQ(copy->OnClick(), run->OnClick());
  EXPECT_EQ(copy->OnDrawItem(), run->OnDrawItem());
  EXPECT_EQ(copy->OnDrawItem().data(), plugin);
  // Neither the name nor the old Tag's meaning: the copy has the source's former Tag.
  EXPECT_EQ(copy->Name(), "");
  EXPECT_EQ(copy->Tag(), 0);
  EXPECT_EQ(run->Tag(), reinterpret_cast<std::intptr_t>(copy));
  // The merged top item is the last of Help's drop-down.
  EXPECT_EQ(merged()->Parent(), bar->Items(2));
}

TEST_F(MenuMergingTest, TagsLeadToTheCopiesAtEveryDepth) {
  keltk::TMenuItem* deep = pluginItem("Deep");
  keltk::TMenuItem* deeper = pluginItem("Deeper");
  stop->Add(deep);
  deep->Add(deeper);
  tools->SetTag(1234);
  deeper->SetTag(99);
  settings(tmSearchByIndex, "1", mtCreateNewItemBellow);
  ASSERT_EQ(plugin->MergeMenu(), smrOk);
  keltk::TMenuItem* deepCopy = merged()->Items(1)->Items(0);
  EXPECT_EQ(deepCopy->Caption(), "Deep");
  EXPECT_EQ(deep->Tag(), reinterpret_cast<std::intptr_t>(deepCopy));
  EXPECT_EQ(deeper->Tag(), reinterpret_cast<std::intptr_t>(deepCopy->Items(0)));
  EXPECT_EQ(deepCopy->Items(0)->Tag(), 99);
  EXPECT_EQ(tools->Tag(), 1234);
  EXPECT_EQ(merged()->Tag(), 1234);
}

TEST_F(MenuMergingTest, OverwritingReplacesTheTargetAndUnmergingRemovesIt) {
  settings(tmSearchByCaption, "&edit", mtOverwriteItem);
  ASSERT_EQ(plugin->MergeMenu(), smrOk);
  EXPECT_EQ(merged(), edit);
  EXPECT_EQ(captions(bar), (Captions{"&File", "&Tools", "&Help"}));
  EXPECT_EQ(captions(edit), (Captions{"&Run", "&Stop"}));
  EXPECT_EQ(edit->OnClick(), tools->OnClick());
  EXPECT_EQ(freedCaptions, (Captions{"&Copy", "&Undo"}));
  EXPECT_EQ(plugin->UnmergeMenu(), smrOk);
  EXPECT_EQ(captions(bar), (Captions{"&File", "&Help"}));
  EXPECT_EQ(freedCaptions.back(), "&Tools");
}

// ---- finding the target

TEST_F(MenuMergingTest, PositionsAndTheSpecialValues) {
  bar->Add(hostItem("&Window"));
  bar->Add(hostItem("&Tools"));
  keltk::TMenuItem* item = nullptr;
  ASSERT_EQ(manager->MergeMenu(tools, tmSearchByIndex, "0", mtCreateNewItemAbove, item), smrOk);
  EXPECT_EQ(bar->Items(0), item);
  keltk::FreeObject(item);
  ASSERT_EQ(
      manager->MergeMenu(tools, tmSearchByIndex, "%LeftMostItem%", mtCreateNewItemAbove, item),
      smrOk);
  EXPECT_EQ(bar->Items(0), item);
  keltk::FreeObject(item);
  ASSERT_EQ(manager->MergeMenu(tools, tmSearchByIndex, "+4", mtCreateNewItemBellow, item), smrOk);
  EXPECT_EQ(bar->Items(5), item);
  keltk::FreeObject(item);
  ASSERT_EQ(
      manager->MergeMenu(tools, tmSearchByIndex, "%RightMostItem%", mtCreateNewItemBellow, item),
      smrOk);
  EXPECT_EQ(bar->Items(5), item);
  keltk::FreeObject(item);
  ASSERT_EQ(manager->MergeMenu(tools, tmSearchByIndex, "3", mtCreateNewItemBellow, item), smrOk);
  EXPECT_EQ(bar->Items(4), item);
  keltk::FreeObject(item);
  EXPECT_EQ(captions(bar), (Captions{"&File", "&Edit", "&Help", "&Window", "&Tools"}));
}

TEST_F(MenuMergingTest, CaptionsMatchWithoutMarkersOrCaseAndTheLeftmostWins) {
  keltk::TMenuItem* second = hostItem("Fil&e");
  bar->Add(second);
  keltk::TMenuItem* item = nullptr;
  ASSERT_EQ(manager->MergeMenu(tools, tmSearchByCaption, "file", mtCreateChildItem, item), smrOk);
  EXPECT_EQ(item->Parent(), bar->Items(0));
  EXPECT_EQ(second->Count(), 0);
  keltk::FreeObject(item);
  // Hidden items take part too.
  bar->Items(2)->SetVisible(false);
  ASSERT_EQ(manager->MergeMenu(tools, tmSearchByCaption, "HELP", mtCreateChildItem, item), smrOk);
  EXPECT_EQ(item->Parent(), bar->Items(2));
  keltk::FreeObject(item);
}

TEST_F(MenuMergingTest, SettingsThatFindNoTarget) {
  expectMergeError(tmSearchByIndex, "%leftmostitem%", mtCreateChildItem,
                   "Error $E01C:  Invalid parameter: \"Value\" (must be Integer).");
  expectMergeError(tmSearchByIndex, "-1", mtCreateChildItem,
                   "Error $E01C:  Invalid parameter: \"Value\" (must be Integer).");
  expectMergeError(tmSearchByIndex, "+-1", mtCreateChildItem,
                   "Error $E01C:  Invalid parameter: \"Value\" (must be Integer).");
  bar->Add(hostItem("&Window"));
  bar->Add(hostItem("&About"));
  expectMergeError(tmSearchByIndex, "7", mtCreateChildItem,
                   "Error $E029:  Target menu item not found (Index: 7).");
  expectMergeError(tmSearchByIndex, "-2", mtCreateChildItem,
                   "Error $E029:  Target menu item not found (Index: -2).");
  expectMergeError(tmSearchByCaption, "Tools", mtCreateChildItem,
                   "Error $E029:  Target menu item not found (Caption: \"Tools\").");
  expectMergeError(tmPluginsTopLevelMenu, "", mtCreateChildItem,
                   "Error $E029:  Target menu item not found (PluginsTopLevelMenu: nil).");
}

TEST_F(MenuMergingTest, AnUnassignedSourceAndAMissingHostMenu) {
  keltk::TMenuItem* item = bar;
  TKelMethodResult r = manager->MergeMenu(nullptr, tmSearchByIndex, "0", mtCreateChildItem, item);
  EXPECT_EQ(r.ErrorMsg, "Error $E026:  Parameter \"\"Source\"\" must be of class TMenuItem.");
  EXPECT_EQ(item, nullptr);
  EXPECT_EQ(
      log().back(),
      entry("MANAGER", 'E', "Error $E026:  Parameter \"\"Source\"\" must be of class TMenuItem."));

  manager->SetPluginsTopLevelMenu(edit);
  form->SetMenu(nullptr);
  for (TTargetMenu target : {tmPluginsTopLevelMenu, tmSearchByIndex, tmSearchByCaption})
    expectMergeError(target, "0", mtCreateChildItem, "Error $E022:  Host main menu not found.");
  form->SetMenu(menu);
  keltk::Application()->SetMainForm(nullptr);
  expectMergeError(tmSearchByIndex, "0", mtCreateChildItem,
                   "Error $E022:  Host main menu not found.");
}

TEST_F(MenuMergingTest, ThePluginsTopLevelMenu) {
  manager->SetPluginsTopLevelMenu(bar->Items(2));
  // The settings' initial values put the menu under it.
  ASSERT_EQ(plugin->MergeMenu(), smrOk);
  EXPECT_EQ(merged()->Parent(), bar->Items(2));
}

TEST_F(MenuMergingTest, ExceptionsAreReportedAndLeaveNothingBehind) {
  keltk::TMenuItem* item = bar;
  keltk::ObjectPtr<keltk::TMainMenu> empty(keltk::CreateObject<keltk::TMainMenu>(nullptr));
  form->SetMenu(empty.get());
  TKelMethodResult r =
      manager->MergeMenu(tools, tmSearchByIndex, "%LeftMostItem%", mtCreateChildItem, item);
  EXPECT_EQ(r, smrUnexpectedError);
  EXPECT_EQ(item, nullptr);
  EXPECT_EQ(log().back(), entry("MANAGER", 'E',
                                "EXCEPTION [ulmKELrp.bpl] ulmKELru.TulmKelMan.MergeMenu.41: "
                                "[EListError] List index out of bounds (0)"));
  r = manager->MergeMenu(tools, tmSearchByIndex, "%RightMostItem%", mtCreateChildItem, item);
  EXPECT_EQ(log().back(), entry("MANAGER", 'E',
                                "EXCEPTION [ulmKELrp.bpl] ulmKELru.TulmKelMan.MergeMenu.41: "
                                "[EListError] List index out of bounds (-1)"));
  form->SetMenu(menu);

  // A target without a parent has nothing to be inserted into.
  keltk::ObjectPtr<keltk::TMenuItem> loose(keltk::CreateObject<keltk::TMenuItem>(nullptr));
  manager->SetPluginsTopLevelMenu(loose.get());
  r = manager->MergeMenu(tools, tmPluginsTopLevelMenu, "", mtCreateNewItemAbove, item);
  EXPECT_FALSE(r.Success);
  EXPECT_EQ(item, nullptr);
  EXPECT_NE(log().back().find("ulmKELru.TulmKelMan.MergeMenu.63: [EMenuError]"), std::string::npos)
      << log().back();

  // A menu cannot be copied into its own tree (the copying would never end).
  r = manager->MergeMenu(edit, tmSearchByCaption, "Edit", mtCreateChildItem, item);
  EXPECT_FALSE(r.Success);
  EXPECT_EQ(captions(edit), (Captions{"&Undo", "&Copy"}));
  EXPECT_NE(log().back().find("[EMenuError] A menu item cannot be merged into its own tree"),
            std::string::npos);
}

// ---- the plug-in's side

TEST_F(MenuMergingTest, UnmergingWithNothingMergedIsRefused) {
  const TKelMethodResult r = plugin->UnmergeMenu();
  EXPECT_EQ(r.ErrorMsg, "Error $E028:  Invalid menu merging alias.");
  EXPECT_STREQ(r.ErrorClass->name, "EulmKelUnloadError");
  EXPECT_FALSE(r.Success);
  EXPECT_EQ(log().back(), entry("Menus", 'E', "Error $E028:  Invalid menu merging alias."));
}

TEST_F(MenuMergingTest, AFailedMergeLeavesNoMergedItem) {
  settings(tmSearchByCaption, "Edit", mtCreateNewItemBellow);
  ASSERT_EQ(plugin->MergeMenu(), smrOk);
  settings(tmSearchByCaption, "Nowhere", mtCreateNewItemBellow);
  const TKelMethodResult r = plugin->MergeMenu();
  EXPECT_EQ(r.ErrorCode, 0xE029);
  EXPECT_EQ(merged(), nullptr);
  // The first copy went before the second merge was tried.
  EXPECT_EQ(captions(bar), (Captions{"&File", "&Edit", "&Help"}));
}

TEST_F(MenuMergingTest, SuccessEntriesOnlyWhenActionsAreLogged) {
  manager->Log()->SetItemsToLog({lkError});
  settings(tmSearchByCaption, "Edit", mtCreateChildItem);
  const std::size_t before = log().size();
  ASSERT_EQ(plugin->MergeMenu(), smrOk);
  ASSERT_EQ(plugin->UnmergeMenu(), smrOk);
  EXPECT_EQ(log().size(), before);
  EXPECT_EQ(plugin->UnmergeMenu().ErrorCode, 0xE028);
  EXPECT_EQ(log().size(), before + 1);
}

TEST_F(MenuMergingTest, AMergedItemFreedByTheHostIsForgotten) {
  settings(tmSearchByCaption, "Edit", mtCreateChildItem);
  ASSERT_EQ(plugin->MergeMenu(), smrOk);
  keltk::FreeObject(edit);
  EXPECT_EQ(merged(), nullptr);
  EXPECT_EQ(plugin->UnmergeMenu().ErrorCode, 0xE028);
}

TEST_F(MenuMergingTest, AFreedSourceIsForgotten) {
  keltk::FreeObject(tools);
  EXPECT_EQ(plugin->MenuMerging()->SourceMenu(), nullptr);
  EXPECT_EQ(plugin->MergeMenu().ErrorCode, 0xE026);
}

TEST_F(MenuMergingTest, FinalizeTakesTheMenuOut) {
  settings(tmSearchByCaption, "Help", mtCreateNewItemAbove);
  ASSERT_EQ(plugin->MergeMenu(), smrOk);
  EXPECT_EQ(plugin->Finalize(), smrOk);
  EXPECT_EQ(captions(bar), (Captions{"&File", "&Edit", "&Help"}));
  EXPECT_EQ(merged(), nullptr);
}

TEST_F(MenuMergingTest, UnmergingANewItemLeavesTheHostsItemsAsTheyWere) {
  keltk::TMenuItem* undo = edit->Items(0);
  keltk::TMenuItem* copy = edit->Items(1);
  undo->SetRadioItem(true);
  copy->SetRadioItem(true);
  copy->SetChecked(true);
  tools->SetRadioItem(true);
  tools->SetChecked(true);
  // Above Help, a higher group lifts Help's; in Edit, a checked radio item of the
  // same group unchecks Copy.
  struct Case {
    const char* target;
    TMenuMergeType type;
    std::uint8_t group;
  };
  for (const Case& c :
       {Case{"Help", mtCreateNewItemAbove, 3}, Case{"Edit", mtCreateChildItem, 0}}) {
    SCOPED_TRACE(c.target);
    tools->SetGroupIndex(c.group);
    settings(tmSearchByCaption, c.target, c.type);
    ASSERT_EQ(plugin->MergeMenu(), smrOk);
    const keltk::TMenuItem* help = bar->Items(bar->Count() - 1);
    EXPECT_TRUE(help->GroupIndex() == 3 || !copy->Checked()) << "the merge changed nothing";
    ASSERT_EQ(plugin->UnmergeMenu(), smrOk);
    EXPECT_EQ(help->GroupIndex(), 0);
    EXPECT_TRUE(copy->Checked());
    EXPECT_FALSE(undo->Checked());
  }
}

// ---- settings in stored form data

class TkelMenuForm : public TulmKel {
public:
  using TulmKel::TulmKel;
  static const keltk::TClassInfo& StaticClass() {
    static keltk::TClassInfo info("TkelMenuForm", &TulmKel::StaticClass());
    return info;
  }
  const keltk::TClassInfo& ClassType() const override { return StaticClass(); }
};

constexpr std::string_view kMenuForm = "object kelMenu: TkelMenuForm\n"
                                       "  MenuMerging.Automatic = True\n"
                                       "  MenuMerging.MergeType = mtCreateNewItemBellow\n"
                                       "  MenuMerging.SourceMenu = Tools1\n"
                                       "  MenuMerging.TargetMenu = tmSearchByCaption\n"
                                       "  MenuMerging.ValueToSearch = 'Edit'\n"
                                       "  object Tools1: TMenuItem\n"
                                       "    Caption = '&Tools'\n"
                                       "    object Run1: TMenuItem\n"
                                       "      Caption = '&Run'\n"
                                       "    end\n"
                                       "  end\n"
                                       "end\n";

TEST(MenuMergingStoredForm, SettingsAreReadAndTheSwitchesAlwaysWritten) {
  keltk::RegisterFormResource(kMenuForm, &kMenuForm);
  keltk::ObjectPtr<TkelMenuForm> plugin(keltk::CreateObject<TkelMenuForm>(nullptr));
  keltk::UnregisterFormResource(kMenuForm);
  TMenuMerging* settings = plugin->MenuMerging();
  EXPECT_TRUE(settings->Automatic());
  EXPECT_EQ(settings->MergeType(), mtCreateNewItemBellow);
  ASSERT_NE(settings->SourceMenu(), nullptr);
  EXPECT_EQ(settings->SourceMenu()->Name(), "Tools1");
  EXPECT_EQ(settings->SourceMenu()->Count(), 1);
  EXPECT_EQ(settings->TargetMenu(), tmSearchByCaption);
  EXPECT_EQ(settings->ValueToSearch(), "Edit");
  EXPECT_EQ(settings->MergedItem(), nullptr);

  // Written back, the menu that the settings name comes along and reads back.
  const std::string written = keltk::WriteComponentToText(plugin.get());
  EXPECT_NE(written.find("  MenuMerging.SourceMenu = Tools1\n"), std::string::npos) << written;
  keltk::RegisterFormResource(written, &kMenuForm);
  keltk::ObjectPtr<TkelMenuForm> again(keltk::CreateObject<TkelMenuForm>(nullptr));
  keltk::UnregisterFormResource(written);
  ASSERT_NE(again->MenuMerging()->SourceMenu(), nullptr);
  EXPECT_EQ(again->MenuMerging()->SourceMenu()->Items(0)->Caption(), "&Run");

  keltk::ObjectPtr<TulmKel> fresh(keltk::CreateObject<TulmKel>(nullptr));
  fresh->SetName("kelFresh");
  const std::string text = keltk::WriteComponentToText(fresh.get());
  EXPECT_NE(text.find("  MenuMerging.Automatic = False\n"
                      "  MenuMerging.MergeType = mtCreateChildItem\n"
                      "  MenuMerging.TargetMenu = tmPluginsTopLevelMenu\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("SourceMenu"), std::string::npos);
  EXPECT_EQ(text.find("ValueToSearch"), std::string::npos);
}

// ---- real plug-in modules: merged at load, taken out at unload

class MenuModuleTest : public LifecycleTest {
protected:
  void SetUp() override {
    LifecycleTest::SetUp();
    previousMainForm = keltk::Application()->MainForm();
    form.reset(keltk::CreateObject<keltk::TForm>(nullptr, keltk::CreateNew));
    auto* menu = keltk::CreateObject<keltk::TMainMenu>(form.get());
    form->SetMenu(menu);
    bar = menu->Items();
    for (const char* caption : {"&File", "&Edit", "&Help"}) {
      auto* item = keltk::CreateObject<keltk::TMenuItem>(form.get());
      item->SetCaption(caption);
      bar->Add(item);
    }
    keltk::Application()->SetMainForm(form.get());
  }
  void TearDown() override {
    manager.reset();
    form.reset();
    keltk::Application()->SetMainForm(previousMainForm);
    LifecycleTest::TearDown();
  }

  keltk::TForm* previousMainForm = nullptr;
  keltk::ObjectPtr<keltk::TForm> form;
  keltk::TMenuItem* bar = nullptr;
};

TEST_F(MenuModuleTest, MergedAtLoadAndTakenOutAtUnload) {
  TulmKel* plugin = load("Menus");
  ASSERT_NE(plugin, nullptr);
  EXPECT_EQ(captions(bar), (Captions{"&File", "&Edit", "&Tools", "&Help"}));
  EXPECT_EQ(captions(bar->Items(2)), (Captions{"&Run", "&Stop"}));
  EXPECT_EQ(plugin->MenuMerging()->MergedItem(), bar->Items(2));
  const auto all = lines();
  EXPECT_NE(std::find(all.begin(), all.end(),
                      line("Menus", 'A', "Menu \"&Tools\" of plugin \"Menus.kel\" mergged.")),
            all.end());

  bar->Items(2)->Items(0)->Click();
  EXPECT_EQ(lines().back(), line("Menus", 'U', "Run chosen in the host"));

  const std::size_t from = logged();
  EXPECT_EQ(manager->UnloadPlugin(plugin), smrOk);
  EXPECT_EQ(captions(bar), (Captions{"&File", "&Edit", "&Help"}));
  const auto after = linesFrom(from);
  EXPECT_NE(std::find(after.begin(), after.end(),
                      line("Menus", 'A', "Menu \"&Tools\" of plugin \"Menus.kel\" unmergged.")),
            after.end());
  EXPECT_FALSE(isMapped(fixture("Menus")));
}

// However the choice reaches the plug-in's handler (the merged copy, the
// plug-in's own item, a host item whose handler it took over), the unload waits
// until the handler has returned.
TEST_F(MenuModuleTest, AMenuEntryThatUnloadsItsOwnPlugin) {
  struct Road {
    const char* module;
    std::function<keltk::TMenuItem*(TulmKel*)> entry;
  };
  const std::vector<Road> roads = {
      {"Menus", [this](TulmKel*) { return bar->Items(2)->Items(1); }},
      {"Menus",
       [](TulmKel* p) { return keltk::ObjectAs<keltk::TMenuItem>(p->FindComponent("Stop1")); }},
      {"MenusOverwrite", [this](TulmKel*) { return bar->Items(2); }},
  };
  for (const Road& road : roads) {
    TulmKel* plugin = load(road.module);
    ASSERT_NE(plugin, nullptr);
    const std::size_t before = logged();
    road.entry(plugin)->Click();
    const std::string path = fixture(road.module);
    EXPECT_EQ(linesFrom(before), (std::vector<std::string>{
                                     action("Plugin Unload Queued: \"Menus\" (\"" + path + "\")."),
                                     line("Menus", 'U', "Stop: unload ok, queued: yes"),
                                 }));
    EXPECT_TRUE(isMapped(path));
    keltk::Application()->Idle();
    EXPECT_EQ(manager->PluginCount(), 0);
    EXPECT_FALSE(isMapped(path)) << road.module;
  }
  // Unmerging an overwritten entry takes it out.
  EXPECT_EQ(captions(bar), (Captions{"&File", "&Edit"}));
}

TEST_F(MenuModuleTest, AutomaticMergingWithoutASourceRefusesTheLoad) {
  const TKelMethodResult r = manager->LoadPlugin("MenusWithoutSource");
  EXPECT_FALSE(r.Success);
  EXPECT_EQ(r.ErrorMsg, "Error $E026:  Parameter \"\"Source\"\" must be of class TMenuItem.");
  EXPECT_EQ(manager->PluginCount(), 0);
  EXPECT_EQ(captions(bar), (Captions{"&File", "&Edit", "&Help"}));
}

} // namespace
} // namespace kelvarin::test
