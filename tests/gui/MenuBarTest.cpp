// A form's main menu as the user sees it: the window's menu bar, its drop-downs
// and their entries, in step with the model.
#include "GuiTestSupport.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QMenuBar>
#include <keltk/Menus.h>

namespace guitest {
namespace {

class MenuBarTest : public GuiTest {
protected:
  void SetUp() override {
    GuiTest::SetUp();
    form.reset(CreateObject<TForm>(nullptr, CreateNew));
    form->SetBounds(40, 40, 320, 200);
    menu = CreateObject<TMainMenu>(form.get());
    form->SetMenu(menu);
    file = add(menu->Items(), "&File");
    add(file, "&Open");
  }
  void TearDown() override {
    form.reset();
    GuiTest::TearDown();
  }

  TMenuItem* add(TMenuItem* parent, const std::string& caption) {
    auto* item = CreateObject<TMenuItem>(form.get());
    item->SetCaption(caption);
    parent->Add(item);
    return item;
  }
  QMenuBar* bar() const { return PeerWidget(*form)->findChild<QMenuBar*>(); }
  static std::vector<std::string> texts(const QWidget* w) {
    std::vector<std::string> out;
    for (const QAction* a : w->actions())
      out.push_back(a->isSeparator() ? "-" : a->text().toStdString());
    return out;
  }
  QMenu* dropDown(int index) const { return bar()->actions().at(index)->menu(); }

  Owned<TForm> form;
  TMainMenu* menu = nullptr;
  TMenuItem* file = nullptr;
};

TEST_F(MenuBarTest, TheMenuIsTheWindowsBarAboveTheClientArea) {
  auto* button = CreateObject<TButton>(form.get());
  button->SetParent(form.get());
  button->SetBounds(0, 0, 80, 24);
  form->Show();
  ASSERT_NE(bar(), nullptr);
  EXPECT_EQ(texts(bar()), (std::vector<std::string>{"&File"}));
  EXPECT_EQ(texts(dropDown(0)), (std::vector<std::string>{"&Open"}));
  const int barHeight = bar()->height();
  EXPECT_GT(barHeight, 0);
  // The client area keeps its size and starts below the bar.
  EXPECT_EQ(PeerWidget(*form)->height(), form->ClientHeight() + barHeight);
  EXPECT_EQ(PeerWidget(*button)->y(), barHeight);

  form->SetMenu(nullptr);
  EXPECT_EQ(PeerWidget(*form)->findChild<QMenuBar*>(), nullptr);
  EXPECT_EQ(PeerWidget(*button)->y(), 0);
}

TEST_F(MenuBarTest, EveryChangeShowsAtOnce) {
  form->Show();
  TMenuItem* edit = add(menu->Items(), "&Edit");
  TMenuItem* help = add(menu->Items(), "&Help");
  TMenuItem* cut = add(edit, "Cu&t");
  EXPECT_EQ(texts(bar()), (std::vector<std::string>{"&File", "&Edit", "&Help"}));
  EXPECT_EQ(texts(dropDown(1)), (std::vector<std::string>{"Cu&t"}));

  help->SetMenuIndex(0);
  edit->SetCaption("&Change");
  cut->SetEnabled(false);
  EXPECT_EQ(texts(bar()), (std::vector<std::string>{"&Help", "&File", "&Change"}));
  EXPECT_FALSE(dropDown(2)->actions().at(0)->isEnabled());

  // A whole tree at once, and out again: the bar is as before.
  FreeObject(edit);
  EXPECT_EQ(texts(bar()), (std::vector<std::string>{"&Help", "&File"}));
  file->Clear();
  EXPECT_EQ(dropDown(1), nullptr) << "an item without sub-items is a command";
}

TEST_F(MenuBarTest, ItemStatesShowOnTheirEntries) {
  struct Case {
    const char* caption;
    std::function<void(TMenuItem*)> set;
    std::function<void(const QAction*)> check;
  };
  TBitmap glyph;
  glyph.SetSize(4, 4);
  const std::vector<Case> cases = {
      {"Fish && &Chips", [](TMenuItem*) {},
       [](const QAction* a) { EXPECT_EQ(a->text().toStdString(), "Fish && &Chips"); }},
      {"-", [](TMenuItem*) {}, [](const QAction* a) { EXPECT_TRUE(a->isSeparator()); }},
      {"&Save", [](TMenuItem* i) { i->SetShortCut(0x4000 | 'S'); },
       [](const QAction* a) { EXPECT_EQ(a->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S)); }},
      {"Hidden", [](TMenuItem* i) { i->SetVisible(false); },
       [](const QAction* a) { EXPECT_FALSE(a->isVisible()); }},
      {"Greyed", [](TMenuItem* i) { i->SetEnabled(false); },
       [](const QAction* a) { EXPECT_FALSE(a->isEnabled()); }},
      {"Ticked", [](TMenuItem* i) { i->SetChecked(true); },
       [](const QAction* a) { EXPECT_TRUE(a->isChecked()); }},
      {"Main", [](TMenuItem* i) { i->SetDefault(true); },
       [](const QAction* a) { EXPECT_TRUE(a->font().bold()); }},
      {"Hinted", [](TMenuItem* i) { i->SetHint("Says more"); },
       [](const QAction* a) { EXPECT_EQ(a->statusTip().toStdString(), "Says more"); }},
      {"Pictured", [&](TMenuItem* i) { i->SetBitmap(&glyph); },
       [](const QAction* a) { EXPECT_FALSE(a->icon().isNull()); }},
  };
  form->Show();
  for (const Case& c : cases)
    c.set(add(file, c.caption));
  const QList<QAction*> actions = dropDown(0)->actions();
  ASSERT_EQ(actions.size(), static_cast<qsizetype>(cases.size() + 1));
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].caption);
    cases[i].check(actions.at(static_cast<qsizetype>(i + 1)));
  }
}

TEST_F(MenuBarTest, RadioItemsOfAGroupAreExclusive) {
  std::vector<TMenuItem*> radios;
  for (const char* caption : {"Small", "Large", "Other"}) {
    TMenuItem* item = add(file, caption);
    item->SetRadioItem(true);
    item->SetGroupIndex(std::string(caption) == "Other" ? 2 : 1);
    radios.push_back(item);
  }
  radios[0]->SetChecked(true);
  radios[2]->SetChecked(true);
  form->Show();
  const QList<QAction*> actions = dropDown(0)->actions();
  ASSERT_NE(actions.at(1)->actionGroup(), nullptr);
  EXPECT_EQ(actions.at(1)->actionGroup(), actions.at(2)->actionGroup());
  EXPECT_NE(actions.at(1)->actionGroup(), actions.at(3)->actionGroup());
  radios[1]->SetChecked(true);
  EXPECT_FALSE(actions.at(1)->isChecked());
  EXPECT_TRUE(actions.at(2)->isChecked());
  EXPECT_TRUE(actions.at(3)->isChecked()) << "another group";
}

TEST_F(MenuBarTest, ChoosingAnEntryRunsTheItemsClick) {
  struct Handler : TComponent {
    using TComponent::TComponent;
    std::vector<TObject*> senders;
    void Chosen(TObject* sender) { senders.push_back(sender); }
  };
  Owned<Handler> handler(CreateObject<Handler>(nullptr));
  TMenuItem* open = file->Items(0);
  open->SetOnClick(TNotifyEvent::bind<&Handler::Chosen>(handler.get()));
  TMenuItem* auto1 = add(file, "Auto");
  auto1->SetAutoCheck(true);
  TMenuItem* plain = add(file, "Plain");
  form->Show();
  const QList<QAction*> actions = dropDown(0)->actions();
  // As a user's choice arrives: from the event loop.
  for (QAction* a : actions)
    QTimer::singleShot(0, a, &QAction::trigger);
  QTimer::singleShot(20, [this] { app()->Terminate(); });
  runWithTimeout();
  EXPECT_EQ(handler->senders, std::vector<TObject*>{open});
  EXPECT_TRUE(auto1->Checked());
  EXPECT_TRUE(actions.at(1)->isChecked());
  EXPECT_FALSE(plain->Checked());
  EXPECT_FALSE(actions.at(2)->isChecked()) << "the model decides what is checked";
}

} // namespace
} // namespace guitest
