// Memos, check and radio buttons, combo and list boxes, group boxes and panels.
#include "QtConvert.h"
#include "QtPeer.h"
#include "keltk/ExtCtrls.h"
#include "keltk/StdCtrls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QRadioButton>

namespace keltk::qt {

namespace {

void applyTabStop(QWidget* w, const TControl& control) {
  setTabStop(w, control);
  setToolTip(w, control);
}

// The lines of a string list, for the item views.
QStringList linesOf(const TStrings& list) {
  QStringList lines;
  for (int i = 0; i < list.Count(); ++i)
    lines.append(toQString(list.Strings(i)));
  return lines;
}

// A widget of class W that carries its peer link.
template <class W> class Linked : public W {
public:
  explicit Linked(QWidget* parent) : W(parent) {}
  PeerLink link;
};

// ---- TMemo ------------------------------------------------------------------------

class MemoPeer : public QtPeer {
public:
  MemoPeer(QtGuiBackend& backend, TMemo& memo, Linked<QPlainTextEdit>* widget)
      : QtPeer(backend, memo, widget, widget->link), memo_(memo), edit_(widget) {
    QObject::connect(widget, &QPlainTextEdit::textChanged, widget, [widget] {
      const std::string value = fromQString(widget->toPlainText());
      toModel(widget->link, [&value](TControl& c) { c.SetText(value); });
    });
  }

protected:
  void applyText() override {
    Applying guard(*this);
    const QString text = toQString(memo_.Text());
    if (edit_->toPlainText() != text) edit_->setPlainText(text);
  }
  void applyColor() override {
    Applying guard(*this);
    setBaseColor(edit_, memo_);
  }
  void applyAppearance() override {
    Applying guard(*this);
    edit_->setReadOnly(memo_.ReadOnly());
    edit_->setLineWrapMode(memo_.WordWrap() ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
    const TScrollStyle bars = memo_.ScrollBars();
    const auto policy = [](bool on) { return on ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff; };
    edit_->setHorizontalScrollBarPolicy(policy(bars == ssHorizontal || bars == ssBoth));
    edit_->setVerticalScrollBarPolicy(policy(bars == ssVertical || bars == ssBoth));
    applyTabStop(edit_, memo_);
  }

private:
  TMemo& memo_;
  QPlainTextEdit* edit_;
};

// ---- TCheckBox, TRadioButton --------------------------------------------------------

// A radio button the model keeps exclusive: a click on the checked one leaves it
// checked, and Qt's own grouping (by parent widget) stays out of the way.
class RadioWidget : public Linked<QRadioButton> {
public:
  explicit RadioWidget(QWidget* parent) : Linked(parent) { setAutoExclusive(false); }

protected:
  void nextCheckState() override {
    if (!isChecked()) setChecked(true);
  }
};

class CheckPeer : public QtPeer {
public:
  CheckPeer(QtGuiBackend& backend, TButtonControl& control, QAbstractButton* widget, PeerLink& link)
      : QtPeer(backend, control, widget, link), control_(control), button_(widget) {
    QObject::connect(widget, &QAbstractButton::toggled, widget, [&link](bool on) {
      toModel(link, [on](TControl& c) { static_cast<TButtonControl&>(c).SetChecked(on); });
    });
  }

protected:
  void applyText() override {
    Applying guard(*this);
    button_->setText(toQString(control_.Caption()));
  }
  void applyAppearance() override {
    Applying guard(*this);
    button_->setChecked(control_.Checked());
    applyTabStop(button_, control_);
  }

private:
  TButtonControl& control_;
  QAbstractButton* button_;
};

// ---- TComboBox ----------------------------------------------------------------------

class ComboPeer : public QtPeer {
public:
  ComboPeer(QtGuiBackend& backend, TComboBox& combo, Linked<QComboBox>* widget)
      : QtPeer(backend, combo, widget, widget->link), combo_(combo), box_(widget) {
    const PeerLink& link = widget->link;
    QObject::connect(widget, &QComboBox::currentIndexChanged, widget, [&link](int index) {
      toModel(link, [index](TControl& c) { static_cast<TComboBox&>(c).SetItemIndex(index); });
    });
    QObject::connect(widget, &QComboBox::editTextChanged, widget, [&link](const QString& text) {
      const std::string value = fromQString(text);
      toModel(link, [&value](TControl& c) { c.SetText(value); });
    });
  }

protected:
  void applyText() override {
    Applying guard(*this);
    // An edit's text that matches no item leaves Qt's index alone: moving it to -1
    // would clear what the user is typing.
    const int index = combo_.ItemIndex();
    if ((!box_->isEditable() || index >= 0) && box_->currentIndex() != index)
      box_->setCurrentIndex(index);
    const QString text = toQString(combo_.Text());
    if (box_->isEditable() && box_->currentText() != text) box_->setEditText(text);
  }
  void applyColor() override {
    Applying guard(*this);
    setBaseColor(box_, combo_);
  }
  void applyAppearance() override {
    Applying guard(*this);
    box_->setEditable(combo_.Style() == csDropDown);
    const QStringList lines = linesOf(*combo_.Items());
    QStringList shown;
    for (int i = 0; i < box_->count(); ++i)
      shown.append(box_->itemText(i));
    if (shown != lines) {
      box_->clear();
      box_->addItems(lines);
    }
    // Qt's completer would finish the user's words with an item's text.
    if (box_->lineEdit() != nullptr) box_->setCompleter(nullptr);
    applyTabStop(box_, combo_);
    applyText();
  }

private:
  TComboBox& combo_;
  QComboBox* box_;
};

// ---- TListBox -----------------------------------------------------------------------

class ListWidget : public Linked<QListWidget> {
public:
  explicit ListWidget(QWidget* parent) : Linked(parent) {
    connect(this, &QListWidget::currentRowChanged, this, [this](int row) {
      if (link.peer == nullptr || link.peer->applying()) return;
      changedByUser_ = true;
      toModel(link, [row](TControl& c) {
        static_cast<TListBox&>(c).SetItemIndex(row);
        raiseClick(c);
      });
    });
    connect(this, &QListWidget::itemDoubleClicked, this, [this] {
      toModel(link, [](TControl& c) {
        auto& list = static_cast<TListBox&>(c);
        if (list.Enabled() && list.OnDblClick()) list.OnDblClick()(&list);
      });
    });
  }

protected:
  // A click on the line already chosen is a click too; one that chose it was
  // reported with the change.
  void mousePressEvent(QMouseEvent* event) override {
    changedByUser_ = false;
    QListWidget::mousePressEvent(event);
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    QListWidget::mouseReleaseEvent(event);
    if (!changedByUser_ && itemAt(event->position().toPoint()) != nullptr)
      toModel(link, [](TControl& c) { raiseClick(c); });
  }

private:
  bool changedByUser_ = false;
};

class ListPeer : public QtPeer {
public:
  ListPeer(QtGuiBackend& backend, TListBox& list, ListWidget* widget)
      : QtPeer(backend, list, widget, widget->link), list_(list), view_(widget) {}

protected:
  void applyText() override {
    Applying guard(*this);
    view_->setCurrentRow(list_.ItemIndex());
  }
  void applyColor() override {
    Applying guard(*this);
    setBaseColor(view_, list_);
  }
  void applyAppearance() override {
    Applying guard(*this);
    const QStringList lines = linesOf(*list_.Items());
    QStringList shown;
    for (int i = 0; i < view_->count(); ++i)
      shown.append(view_->item(i)->text());
    if (shown != lines) {
      view_->clear();
      view_->addItems(lines);
    }
    applyTabStop(view_, list_);
    applyText();
  }

private:
  TListBox& list_;
  QListWidget* view_;
};

// ---- TGroupBox, TPanel ----------------------------------------------------------------

class GroupPeer : public QtPeer {
public:
  GroupPeer(QtGuiBackend& backend, TGroupBox& group, Linked<QGroupBox>* widget)
      : QtPeer(backend, group, widget, widget->link), group_(group), box_(widget) {}

protected:
  void applyText() override {
    Applying guard(*this);
    box_->setTitle(toQString(group_.Caption()));
  }

private:
  TGroupBox& group_;
  QGroupBox* box_;
};

class PanelWidget : public Linked<QFrame> {
public:
  explicit PanelWidget(QWidget* parent) : Linked(parent) { setAutoFillBackground(true); }

protected:
  void paintEvent(QPaintEvent* event) override {
    QFrame::paintEvent(event);
    if (link.peer == nullptr) return;
    QPainter p(this);
    p.drawText(contentsRect(), Qt::AlignCenter, toQString(link.peer->control().Caption()));
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    QFrame::mouseReleaseEvent(event);
    if (rect().contains(event->position().toPoint()))
      toModel(link, [](TControl& c) { raiseClick(c); });
  }
};

class PanelPeer : public QtPeer {
public:
  PanelPeer(QtGuiBackend& backend, TPanel& panel, PanelWidget* widget)
      : QtPeer(backend, panel, widget, widget->link), panel_(panel), frame_(widget) {}

protected:
  void applyText() override { frame_->update(); }
  void applyColor() override {
    Applying guard(*this);
    QPalette pal = frame_->palette();
    pal.setColor(QPalette::Window, toQColor(panel_.Color()));
    frame_->setPalette(pal);
  }
  void applyAppearance() override {
    Applying guard(*this);
    switch (panel_.BevelOuter()) {
    case bvNone:
      frame_->setFrameStyle(QFrame::NoFrame);
      break;
    case bvLowered:
      frame_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
      break;
    case bvRaised:
      frame_->setFrameStyle(QFrame::Panel | QFrame::Raised);
      break;
    }
    frame_->setLineWidth(1);
    frame_->update();
  }

private:
  TPanel& panel_;
  QFrame* frame_;
};

} // namespace

std::unique_ptr<QtPeer> makeCommonControlPeer(QtGuiBackend& backend, TControl& control,
                                              QWidget* parent) {
  if (auto* memo = ObjectAs<TMemo>(&control))
    return std::make_unique<MemoPeer>(backend, *memo, new Linked<QPlainTextEdit>(parent));
  if (auto* check = ObjectAs<TCheckBox>(&control)) {
    auto* widget = new Linked<QCheckBox>(parent);
    return std::make_unique<CheckPeer>(backend, *check, widget, widget->link);
  }
  if (auto* radio = ObjectAs<TRadioButton>(&control)) {
    auto* widget = new RadioWidget(parent);
    return std::make_unique<CheckPeer>(backend, *radio, widget, widget->link);
  }
  if (auto* combo = ObjectAs<TComboBox>(&control))
    return std::make_unique<ComboPeer>(backend, *combo, new Linked<QComboBox>(parent));
  if (auto* list = ObjectAs<TListBox>(&control))
    return std::make_unique<ListPeer>(backend, *list, new ListWidget(parent));
  if (auto* group = ObjectAs<TGroupBox>(&control))
    return std::make_unique<GroupPeer>(backend, *group, new Linked<QGroupBox>(parent));
  if (auto* panel = ObjectAs<TPanel>(&control))
    return std::make_unique<PanelPeer>(backend, *panel, new PanelWidget(parent));
  return nullptr;
}

} // namespace keltk::qt
