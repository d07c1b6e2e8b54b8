#include "keltk/Menus.h"

#include "keltk/Exception.h"
#include "keltk/PropInfo.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace keltk;

namespace {

std::vector<std::string> freedItems;

class TTrackedItem : public TMenuItem {
public:
  explicit TTrackedItem(const std::string& caption) : TMenuItem(nullptr) { SetCaption(caption); }
  ~TTrackedItem() override { freedItems.push_back(Caption()); }
};

TTrackedItem* item(const std::string& caption) {
  return CreateObject<TTrackedItem>(caption);
}

std::vector<std::string> captions(const TMenuItem* parent) {
  std::vector<std::string> out;
  for (int i = 0; i < parent->Count(); ++i)
    out.push_back(parent->Items(i)->Caption());
  return out;
}

class TClickSink : public TObject {
public:
  std::vector<TObject*> senders;
  void Clicked(TObject* sender) { senders.push_back(sender); }
};

class MenuTest : public ::testing::Test {
protected:
  void SetUp() override { freedItems.clear(); }
};

} // namespace

TEST_F(MenuTest, AddInsertAtPositionsAndMenuIndex) {
  ObjectPtr<TMenuItem> root(item("root"));
  root->Add(item("&File"));
  root->Add(item("&Help"));
  root->Insert(1, item("&Edit"));
  root->Insert(0, item("First"));
  root->Insert(4, item("Last"));
  EXPECT_EQ(captions(root.get()),
            (std::vector<std::string>{"First", "&File", "&Edit", "&Help", "Last"}));
  EXPECT_EQ(root->Items(2)->MenuIndex(), 2);
  EXPECT_EQ(root->Items(2)->Parent(), root.get());
  EXPECT_EQ(root->MenuIndex(), -1);

  root->Items(0)->SetMenuIndex(3);
  EXPECT_EQ(captions(root.get()),
            (std::vector<std::string>{"&File", "&Edit", "&Help", "First", "Last"}));
  root->Items(4)->SetMenuIndex(-5); // clamped to the first place
  EXPECT_EQ(root->Items(0)->Caption(), "Last");
  root->Items(0)->SetMenuIndex(99); // clamped to the last place
  EXPECT_EQ(root->Items(4)->Caption(), "Last");
}

TEST_F(MenuTest, InsertRefusesItemsWithAParentAndBadPositions) {
  ObjectPtr<TMenuItem> a(item("a"));
  ObjectPtr<TMenuItem> b(item("b"));
  TMenuItem* child = item("child");
  a->Add(child);
  EXPECT_THROW(b->Add(child), EMenuError);
  EXPECT_THROW(b->Insert(0, child), EMenuError);
  TMenuItem* loose = item("loose");
  EXPECT_THROW(b->Insert(2, loose), EMenuError);
  EXPECT_THROW(b->Insert(-1, loose), EMenuError);
  EXPECT_THROW(child->Add(a.get()), EMenuError); // would contain itself
  b->Add(loose);
  EXPECT_EQ(child->Parent(), a.get());
  EXPECT_THROW(a->Items(1), EListError);
  EXPECT_THROW(a->Delete(1), EMenuError);
  EXPECT_THROW(a->Remove(loose), EMenuError);
}

TEST_F(MenuTest, DeleteDetachesWithoutFreeing) {
  ObjectPtr<TMenuItem> root(item("root"));
  root->Add(item("a"));
  root->Add(item("b"));
  TMenuItem* a = root->Items(0);
  root->Delete(0);
  EXPECT_TRUE(freedItems.empty());
  EXPECT_EQ(a->Parent(), nullptr);
  EXPECT_EQ(captions(root.get()), std::vector<std::string>{"b"});
  root->Add(a); // free to go elsewhere
  EXPECT_EQ(a->MenuIndex(), 1);
  root->Remove(a);
  FreeObject(a);
  EXPECT_EQ(freedItems, std::vector<std::string>{"a"});
}

TEST_F(MenuTest, ClearFreesSubItemsAndTheirDescendants) {
  ObjectPtr<TMenuItem> root(item("root"));
  TMenuItem* tools = item("Tools");
  root->Add(tools);
  tools->Add(item("Run"));
  tools->Add(item("Stop"));
  tools->Items(0)->Add(item("Fast"));
  root->Add(item("Help"));
  root->Clear();
  EXPECT_EQ(root->Count(), 0);
  std::vector<std::string> freed = freedItems;
  std::sort(freed.begin(), freed.end());
  EXPECT_EQ(freed, (std::vector<std::string>{"Fast", "Help", "Run", "Stop", "Tools"}));
}

TEST_F(MenuTest, FreeingAnItemDetachesItFromItsParent) {
  ObjectPtr<TMenuItem> root(item("root"));
  root->Add(item("File"));
  TMenuItem* tools = item("Tools");
  root->Add(tools);
  root->Add(item("Help"));
  tools->Add(item("Run"));
  FreeObject(tools);
  EXPECT_EQ(captions(root.get()), (std::vector<std::string>{"File", "Help"}));
  EXPECT_EQ(freedItems, (std::vector<std::string>{"Tools", "Run"}));
  EXPECT_EQ(root->Items(1)->MenuIndex(), 1);
}

TEST_F(MenuTest, ItemsOwnedByAComponentLeaveTheTreeWhenTheOwnerGoes) {
  ObjectPtr<TMenuItem> root(item("root"));
  TComponent* owner = CreateObject<TComponent>(nullptr);
  TMenuItem* owned = CreateObject<TMenuItem>(owner);
  root->Add(owned);
  FreeObject(owner);
  EXPECT_EQ(root->Count(), 0);
}

TEST_F(MenuTest, ClickRunsTheHandlerWithTheItemAsSender) {
  ObjectPtr<TMenuItem> a(item("a"));
  TClickSink sink;
  a->SetOnClick(TNotifyEvent::bind<&TClickSink::Clicked>(&sink));
  a->Click();
  a->SetAutoCheck(true);
  a->Click();
  EXPECT_TRUE(a->Checked());
  a->SetEnabled(false);
  a->Click();
  EXPECT_EQ(sink.senders, (std::vector<TObject*>{a.get(), a.get()}));

  // A copy of the handler calls the same code with the copy as sender.
  ObjectPtr<TMenuItem> copy(item("copy"));
  copy->SetOnClick(a->OnClick());
  copy->Click();
  EXPECT_EQ(sink.senders.back(), copy.get());
}

TEST_F(MenuTest, RadioItemsOfAGroupExcludeEachOther) {
  ObjectPtr<TMenuItem> root(item("root"));
  for (const char* c : {"a", "b", "c"}) {
    TMenuItem* i = item(c);
    i->SetRadioItem(true);
    root->Add(i);
  }
  root->Items(0)->SetChecked(true);
  root->Items(2)->SetChecked(true);
  EXPECT_FALSE(root->Items(0)->Checked());
  EXPECT_TRUE(root->Items(2)->Checked());
}

TEST_F(MenuTest, GroupIndexesNeverDecreaseAlongSiblings) {
  ObjectPtr<TMenuItem> root(item("root"));
  root->Add(item("a"));
  root->Add(item("b"));
  root->Add(item("c"));
  root->Items(1)->SetGroupIndex(5);
  EXPECT_EQ(root->Items(2)->GroupIndex(), 5); // lifted
  EXPECT_EQ(root->Items(0)->GroupIndex(), 0);
  EXPECT_THROW(root->Items(2)->SetGroupIndex(3), EMenuError);
  EXPECT_EQ(root->Items(2)->GroupIndex(), 5);
  TMenuItem* late = item("late");
  root->Add(late);
  EXPECT_EQ(late->GroupIndex(), 5);
}

TEST_F(MenuTest, MainMenuRootAndStoredChildren) {
  ObjectPtr<TComponent> form(CreateObject<TComponent>(nullptr));
  TMainMenu* menu = CreateObject<TMainMenu>(form.get());
  TMenuItem* file = CreateObject<TMenuItem>(form.get());
  file->SetParentComponent(menu);
  TMenuItem* open = CreateObject<TMenuItem>(form.get());
  open->SetParentComponent(file);
  TMenuItem* merged = item("merged"); // no owner: not part of the stored form
  menu->Items()->Add(merged);

  EXPECT_EQ(menu->Items()->Count(), 2);
  EXPECT_EQ(file->GetParentComponent(), menu);
  EXPECT_EQ(open->GetParentComponent(), file);
  EXPECT_EQ(open->GetParentMenu(), menu);
  EXPECT_TRUE(file->HasParent());

  std::vector<TComponent*> children;
  menu->GetChildren([&](TComponent* c) { children.push_back(c); }, form.get());
  EXPECT_EQ(children, std::vector<TComponent*>{file});
  children.clear();
  file->GetChildren([&](TComponent* c) { children.push_back(c); }, form.get());
  EXPECT_EQ(children, std::vector<TComponent*>{open});
  // The form lists the menu itself, not its items.
  children.clear();
  form->GetChildren([&](TComponent* c) { children.push_back(c); }, form.get());
  EXPECT_EQ(children, std::vector<TComponent*>{menu});
}

TEST_F(MenuTest, MenuReportsChangesOfItsTree) {
  struct TSink : TObject {
    std::vector<std::pair<TMenuItem*, bool>> changes;
    void Changed(TObject*, TMenuItem* source, bool rebuild) {
      changes.push_back({source, rebuild});
    }
  } sink;
  ObjectPtr<TMainMenu> menu(CreateObject<TMainMenu>(nullptr));
  menu->SetOnChange(TMenuChangeEvent::bind<&TSink::Changed>(&sink));
  TMenuItem* a = item("a");
  menu->Items()->Add(a);
  a->SetEnabled(false);
  ASSERT_EQ(sink.changes.size(), 2u);
  EXPECT_TRUE(sink.changes[0].second);
  EXPECT_EQ(sink.changes[1].first, a);
  EXPECT_FALSE(sink.changes[1].second);
}

TEST_F(MenuTest, PublishesEveryPropertyThatMenuMergingCopies) {
  const TClassInfo& cls = TMenuItem::StaticClass();
  for (const char* name : {"Action",
                           "AutoLineReduction",
                           "AutoHotkeys",
                           "Bitmap",
                           "Break",
                           "Caption",
                           "Checked",
                           "Default",
                           "Enabled",
                           "GroupIndex",
                           "HelpContext",
                           "Hint",
                           "ImageIndex",
                           "RadioItem",
                           "ShortCut",
                           "SubMenuImages",
                           "Tag",
                           "Visible",
                           "OnAdvancedDrawItem",
                           "OnDrawItem",
                           "OnClick",
                           "OnMeasureItem",
                           "AutoCheck"})
    EXPECT_NE(cls.findProperty(name), nullptr) << name;
  ObjectPtr<TMenuItem> a(item("a"));
  a->SetTag(static_cast<std::intptr_t>(reinterpret_cast<std::uintptr_t>(a.get())));
  EXPECT_EQ(reinterpret_cast<TMenuItem*>(a->Tag()), a.get()); // pointer-sized
  EXPECT_EQ(FindClass("TMenuItem"), &cls);
  EXPECT_EQ(FindClass("TMainMenu"), &TMainMenu::StaticClass());
}

TEST_F(MenuTest, ActionReferenceIsDroppedWhenTheActionGoes) {
  ObjectPtr<TMenuItem> a(item("a"));
  TComponent* action = CreateObject<TComponent>(nullptr);
  a->SetAction(action);
  a->SetSubMenuImages(action);
  FreeObject(action);
  EXPECT_EQ(a->Action(), nullptr);
  EXPECT_EQ(a->SubMenuImages(), nullptr);
}

TEST(AnsiSameCaption, IgnoresAcceleratorsAndCase) {
  EXPECT_TRUE(AnsiSameCaption("&File", "file"));
  EXPECT_TRUE(AnsiSameCaption("Fi&le", "FILE"));
  EXPECT_TRUE(AnsiSameCaption("&Edit", "&edit"));
  EXPECT_FALSE(AnsiSameCaption("&File", "Files"));
  EXPECT_TRUE(AnsiSameCaption("Fish && Chips", "fish && chips"));
  EXPECT_FALSE(AnsiSameCaption("Fish && Chips", "Fish &Chips")); // a lone '&' marks the C
  EXPECT_TRUE(AnsiSameCaption("&Ação", "AÇÃO"));
  EXPECT_EQ(StripHotkey("&Save && Exit&"), "Save & Exit");
}

// A key belongs to the item of the tree that got it first, wherever it sits; a
// key given again counts from then on.
TEST_F(MenuTest, AShortCutIsHeldByTheItemThatGotItFirst) {
  for (const auto& [shortCut, text] :
       std::vector<std::pair<TShortCut, std::string>>{{0x4000 | 'Q', "Ctrl+Q"},
                                                      {0x6000 | 0x74, "Ctrl+Shift+F5"},
                                                      {0x8000 | 0x2E, "Alt+Del"},
                                                      {0xE000 | '7', "Ctrl+Alt+Shift+7"},
                                                      {0, ""},
                                                      {0x4000 | 0xBA, ""}})
    EXPECT_EQ(ShortCutToText(shortCut), text) << shortCut;

  ObjectPtr<TMenuItem> root(item("root"));
  TMenuItem* file = item("&File");
  TMenuItem* tools = item("&Tools");
  root->Add(tools);
  root->Add(file);
  TMenuItem* exit = item("E&xit");
  TMenuItem* run = item("&Run");
  exit->SetShortCut(0x4000 | 'Q');
  run->SetShortCut(0x4000 | 'Q');
  tools->Add(run); // before Exit in the tree, later with the key
  file->Add(exit);
  EXPECT_EQ(ShortCutHolder(*run), exit);
  EXPECT_EQ(ShortCutHolder(*exit), exit);
  EXPECT_EQ(ShortCutHolder(*file), nullptr);
  exit->SetShortCut(0);
  exit->SetShortCut(0x4000 | 'Q');
  EXPECT_EQ(ShortCutHolder(*exit), run);
}
