// The common controls read from a stored form, shown by their widgets, driven by
// the user through the event loop; the timer and the popup menu.
#include "GuiTestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFrame>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTest>
#include <fmt/format.h>
#include <keltk/Menus.h>
#include <keltk/PropInfo.h>
#include <keltk/Resources.h>

using namespace guitest;

namespace {

constexpr std::string_view kNotesForm = R"(object NotesForm: TNotesForm
  Caption = 'Notes'
  ClientWidth = 400
  ClientHeight = 300
  PopupMenu = FormMenu
  object Memo: TMemo
    Left = 8
    Top = 8
    Width = 200
    Height = 80
    Lines.Strings = (
      'first'
      'second')
    ScrollBars = ssVertical
    WordWrap = False
    OnChange = MemoChange
  end
  object Done: TCheckBox
    Left = 8
    Top = 96
    Caption = 'Done'
    Checked = True
    OnClick = Clicked
  end
  object Kind: TComboBox
    Left = 8
    Top = 120
    Items.Strings = (
      'Idea'
      'Task')
    ItemIndex = 1
    Style = csDropDownList
    OnChange = KindChange
  end
  object List: TListBox
    Left = 220
    Top = 8
    Items.Strings = (
      'one'
      'two'
      'three')
    ItemIndex = 0
    PopupMenu = ListMenu
    OnClick = Clicked
    OnDblClick = ListDblClick
  end
  object Box: TGroupBox
    Left = 8
    Top = 150
    Width = 200
    Height = 90
    Caption = 'Priority'
    object Low: TRadioButton
      Left = 8
      Top = 20
      Caption = 'Low'
      Checked = True
      OnClick = Clicked
    end
    object High: TRadioButton
      Left = 8
      Top = 44
      Caption = 'High'
      OnClick = Clicked
    end
  end
  object Bar: TPanel
    Left = 220
    Top = 150
    Width = 170
    Height = 40
    BevelOuter = bvLowered
    Caption = 'Status'
  end
  object Saver: TTimer
    Interval = 10
    OnTimer = SaverTimer
  end
  object ListMenu: TPopupMenu
    object Rename: TMenuItem
      Caption = 'Rename'
      OnClick = MenuClick
    end
    object Remove: TMenuItem
      Caption = 'Remove'
      OnClick = MenuClick
    end
  end
  object FormMenu: TPopupMenu
  end
end
)";

// What its handlers saw lives outside the form, which a test frees.
std::vector<std::string> seen;
int ticks = 0;

class TNotesForm : public TForm {
public:
  using TForm::TForm;
  static const TClassInfo& StaticClass() {
    static TClassInfo info("TNotesForm", &TForm::StaticClass(), [](TClassInfo& i) {
      ClassBuilder<TNotesForm>(i)
          .method<&TNotesForm::MemoChange>("MemoChange")
          .method<&TNotesForm::KindChange>("KindChange")
          .method<&TNotesForm::Clicked>("Clicked")
          .method<&TNotesForm::ListDblClick>("ListDblClick")
          .method<&TNotesForm::MenuClick>("MenuClick")
          .method<&TNotesForm::SaverTimer>("SaverTimer");
    });
    return info;
  }
  const TClassInfo& ClassType() const override { return StaticClass(); }

  void MemoChange(TObject* s) { seen.push_back("change " + as<TMemo>(s)->Lines()->Strings(0)); }
  void KindChange(TObject* s) { seen.push_back("kind " + as<TComboBox>(s)->Text()); }
  void Clicked(TObject* s) { seen.push_back("click " + as<TComponent>(s)->Name()); }
  void ListDblClick(TObject* s) {
    seen.push_back("dblclick " + std::to_string(as<TListBox>(s)->ItemIndex()));
  }
  void MenuClick(TObject* s) { seen.push_back("menu " + as<TComponent>(s)->Name()); }
  void SaverTimer(TObject*) { ++ticks; }

  template <class T> static T* as(TObject* o) { return static_cast<T*>(o); }
  template <class T = TControl> T* find(const char* name) const {
    return ObjectAs<T>(FindComponent(name));
  }
};

class CommonControlsTest : public GuiTest {
protected:
  void SetUp() override {
    GuiTest::SetUp();
    RegisterFormResource(kNotesForm, &TNotesForm::StaticClass());
    seen.clear();
    ticks = 0;
    form_.reset(CreateObject<TNotesForm>(nullptr));
    form_->find<TTimer>("Saver")->SetEnabled(false);
    form_->Show();
  }
  void TearDown() override {
    form_.reset();
    UnregisterFormResource(kNotesForm);
    GuiTest::TearDown();
  }
  QWidget* widget(const char* name) const { return PeerWidget(*form_->find(name)); }
  template <class W> W* widget(const char* name) const { return qobject_cast<W*>(widget(name)); }

  Owned<TNotesForm> form_;
};

// The model's state and the widget's, in one notation.
std::string stored(const TComponent* c) {
  const auto lines = [](const TStrings& s) {
    std::string out;
    for (int i = 0; i < s.Count(); ++i)
      out += (i == 0 ? "" : "|") + s.Strings(i);
    return out;
  };
  if (auto* m = ObjectAs<TMemo>(c))
    return fmt::format("{} ro={} wrap={} bars={}", lines(*m->Lines()), m->ReadOnly(), m->WordWrap(),
                       static_cast<int>(m->ScrollBars()));
  if (auto* b = ObjectAs<TButtonControl>(c))
    return fmt::format("{} {}", b->Caption(), b->Checked());
  if (auto* cb = ObjectAs<TComboBox>(c))
    return fmt::format("{} {} '{}' list={}", lines(*cb->Items()), cb->ItemIndex(), cb->Text(),
                       cb->Style() == csDropDownList);
  if (auto* l = ObjectAs<TListBox>(c))
    return fmt::format("{} {}", lines(*l->Items()), l->ItemIndex());
  if (auto* g = ObjectAs<TGroupBox>(c))
    return fmt::format("{} {}", g->Caption(), g->ControlCount());
  if (auto* p = ObjectAs<TPanel>(c))
    return fmt::format("{} {}", p->Caption(), static_cast<int>(p->BevelOuter()));
  return "?";
}

std::string shown(QWidget* w) {
  const auto lines = [](const QStringList& s) { return s.join('|').toStdString(); };
  if (auto* m = qobject_cast<QPlainTextEdit*>(w))
    return fmt::format("{} ro={} wrap={} bars={}", lines(m->toPlainText().split('\n')),
                       m->isReadOnly(), m->lineWrapMode() != QPlainTextEdit::NoWrap,
                       (m->horizontalScrollBarPolicy() == Qt::ScrollBarAlwaysOn ? 1 : 0) +
                           (m->verticalScrollBarPolicy() == Qt::ScrollBarAlwaysOn ? 2 : 0));
  if (auto* b = qobject_cast<QAbstractButton*>(w))
    return fmt::format("{} {}", b->text().toStdString(), b->isChecked());
  if (auto* cb = qobject_cast<QComboBox*>(w)) {
    QStringList items;
    for (int i = 0; i < cb->count(); ++i)
      items << cb->itemText(i);
    return fmt::format("{} {} '{}' list={}", lines(items), cb->currentIndex(),
                       cb->currentText().toStdString(), !cb->isEditable());
  }
  if (auto* l = qobject_cast<QListWidget*>(w)) {
    QStringList items;
    for (int i = 0; i < l->count(); ++i)
      items << l->item(i)->text();
    return fmt::format("{} {}", lines(items), l->currentRow());
  }
  if (auto* g = qobject_cast<QGroupBox*>(w))
    return fmt::format("{} {}", g->title().toStdString(),
                       g->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly).size());
  if (auto* f = qobject_cast<QFrame*>(w))
    return fmt::format("Status {}", f->frameShadow() == QFrame::Sunken ? 1 : 2);
  return "?";
}

QPoint centreOfRow(QListWidget* list, int row) {
  return list->visualItemRect(list->item(row)).center();
}

// Chooses the entry `text` of the context menu that is about to open.
void chooseInPopup(const QString& text, int tries = 500) {
  QTimer::singleShot(1, [text, tries] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (menu == nullptr) {
      if (tries > 0) chooseInPopup(text, tries - 1);
      return;
    }
    for (QAction* a : menu->actions())
      if (a->text() == text) menu->setActiveAction(a);
    QTest::keyClick(menu, Qt::Key_Return);
  });
}

} // namespace

TEST_F(CommonControlsTest, StoredPropertiesAreReadAndShown) {
  const struct {
    const char* name;
    std::string expected;
  } rows[] = {
      {"Memo", "first|second ro=false wrap=false bars=2"},
      {"Done", "Done true"},
      {"Kind", "Idea|Task 1 'Task' list=true"},
      {"List", "one|two|three 0"},
      {"Box", "Priority 2"},
      {"Low", "Low true"},
      {"High", "High false"},
      {"Bar", "Status 1"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(stored(form_->FindComponent(row.name)), row.expected);
    EXPECT_EQ(shown(widget(row.name)), row.expected);
  }
  // Children of a group box are inside its widget.
  EXPECT_EQ(widget("Low")->parentWidget(), widget("Box"));
  auto* saver = form_->find<TTimer>("Saver");
  EXPECT_EQ(saver->Interval(), 10);
  EXPECT_EQ(form_->PopupMenu(), form_->FindComponent("FormMenu"));
  EXPECT_EQ(widget("List")->contextMenuPolicy(), Qt::CustomContextMenu);
  EXPECT_EQ(widget("Memo")->contextMenuPolicy(), Qt::DefaultContextMenu); // copy and paste stay
  // A program's changes show.
  form_->find<TMemo>("Memo")->Lines()->Add("third");
  form_->find<TComboBox>("Kind")->SetItemIndex(0);
  form_->find<TListBox>("List")->Items()->Delete(0);
  form_->find<TRadioButton>("High")->SetChecked(true);
  EXPECT_EQ(shown(widget("Memo")), "first|second|third ro=false wrap=false bars=2");
  EXPECT_EQ(shown(widget("Kind")), "Idea|Task 0 'Idea' list=true");
  EXPECT_EQ(shown(widget("List")), "two|three -1"); // the chosen line went
  EXPECT_EQ(shown(widget("Low")), "Low false");
  EXPECT_EQ(seen, (std::vector<std::string>{"change first", "kind Idea", "click High"}));
}

TEST_F(CommonControlsTest, UserChangesReachTheModelAndItsEvents) {
  auto* memo = widget<QPlainTextEdit>("Memo");
  memo->moveCursor(QTextCursor::Start);
  QTest::keyClicks(memo, "A ");
  EXPECT_EQ(form_->find("Memo")->Text(), "A first\nsecond");

  QTest::mouseClick(widget("Done"), Qt::LeftButton);
  EXPECT_FALSE(form_->find<TCheckBox>("Done")->Checked());

  auto* kind = widget<QComboBox>("Kind");
  QTest::keyClick(kind, Qt::Key_Up);
  EXPECT_EQ(form_->find<TComboBox>("Kind")->ItemIndex(), 0);

  auto* list = widget<QListWidget>("List");
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, centreOfRow(list, 2));
  EXPECT_EQ(form_->find<TListBox>("List")->ItemIndex(), 2);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, centreOfRow(list, 2));

  const QPoint mark(4, widget("High")->height() / 2);
  QTest::mouseClick(widget("High"), Qt::LeftButton, {}, mark);
  QTest::mouseClick(widget("High"), Qt::LeftButton, {}, mark); // stays checked
  EXPECT_TRUE(form_->find<TRadioButton>("High")->Checked());
  EXPECT_FALSE(form_->find<TRadioButton>("Low")->Checked());
  EXPECT_FALSE(widget<QRadioButton>("Low")->isChecked());

  EXPECT_EQ(seen,
            (std::vector<std::string>{"change Afirst", "change A first", "click Done", "kind Idea",
                                      "click List", "click List", "click High"}));
  // Typing in a combo box with an edit chooses the item that has the text.
  auto* model = form_->find<TComboBox>("Kind");
  model->SetStyle(csDropDown);
  kind->lineEdit()->selectAll();
  QTest::keyClicks(kind->lineEdit(), "Ta");
  EXPECT_EQ(fmt::format("{} {}", model->Text(), model->ItemIndex()), "Ta -1");
  QTest::keyClicks(kind->lineEdit(), "sk");
  EXPECT_EQ(fmt::format("{} {}", model->Text(), model->ItemIndex()), "Task 1");

  // A widget gets a double click as its second press.
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, centreOfRow(list, 1));
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, centreOfRow(list, 1));
  EXPECT_EQ(seen.back(), "dblclick 1");
}

TEST_F(CommonControlsTest, TimerFiresUntilItsOwnerGoes) {
  auto* saver = form_->find<TTimer>("Saver");
  EXPECT_FALSE(saver->Running());
  saver->SetEnabled(true);
  EXPECT_TRUE(saver->Running());
  EXPECT_TRUE(waitUntil([] { return ticks >= 2; }));
  form_.reset();
  const int before = ticks;
  waitUntil([] { return false; }, 60);
  EXPECT_EQ(ticks, before);
}

TEST_F(CommonControlsTest, ContextMenuItemIsChosen) {
  auto* list = widget<QListWidget>("List");
  chooseInPopup("Remove");
  QContextMenuEvent request(QContextMenuEvent::Keyboard, QPoint(4, 4),
                            list->mapToGlobal(QPoint(4, 4)));
  QApplication::sendEvent(list, &request);
  EXPECT_EQ(seen, std::vector<std::string>{"menu Remove"});
  EXPECT_EQ(form_->find<TPopupMenu>("ListMenu")->PopupComponent(), form_->FindComponent("List"));

  // The program's own Popup, and a menu freed meanwhile drops from its controls.
  chooseInPopup("Rename");
  form_->find<TPopupMenu>("ListMenu")->Popup(10, 10);
  EXPECT_EQ(seen.back(), "menu Rename");
  FreeObject(form_->FindComponent("ListMenu"));
  EXPECT_EQ(form_->find("List")->PopupMenu(), nullptr);
  EXPECT_EQ(list->contextMenuPolicy(), Qt::DefaultContextMenu);
}
