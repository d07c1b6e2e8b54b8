// Buttons, edits, labels and bevels.
#include "QtConvert.h"
#include "QtPeer.h"
#include "keltk/ExtCtrls.h"
#include "keltk/StdCtrls.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QPushButton>
#include <qdrawutil.h>

namespace keltk::qt {

void setTabStop(QWidget* w, const TControl& control) {
  const auto* win = ObjectAs<TWinControl>(&control);
  w->setFocusPolicy(win != nullptr && win->TabStop() ? Qt::StrongFocus : Qt::ClickFocus);
}

void setToolTip(QWidget* w, const TControl& control) {
  w->setToolTip(control.ShowHint() ? toQString(control.Hint()) : QString());
}

void setBaseColor(QWidget* w, const TControl& control) {
  QPalette pal = w->palette();
  pal.setColor(QPalette::Base, toQColor(control.Color()));
  w->setPalette(pal);
}

namespace {

// ---- TButton ----------------------------------------------------------------------

class ButtonWidget : public QPushButton {
public:
  explicit ButtonWidget(QWidget* parent) : QPushButton(parent) {
    connect(this, &QPushButton::clicked, this,
            [this] { toModel(link, [](TControl& c) { raiseClick(c); }); });
  }
  PeerLink link;

protected:
  // A focused button takes Return itself, ahead of its form's default button.
  void keyPressEvent(QKeyEvent* event) override {
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (plain && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
      event->accept();
      click();
      return;
    }
    QPushButton::keyPressEvent(event);
  }
};

class ButtonPeer : public QtPeer {
public:
  ButtonPeer(QtGuiBackend& backend, TControl& control, ButtonWidget* widget)
      : QtPeer(backend, control, widget, widget->link), button_(widget) {}

protected:
  void applyText() override {
    Applying guard(*this);
    button_->setText(toQString(control().Caption()));
  }
  void applyAppearance() override {
    Applying guard(*this);
    if (const auto* b = ObjectAs<TButton>(&control())) button_->setDefault(b->Default());
    setTabStop(button_, control());
    setToolTip(button_, control());
  }

private:
  ButtonWidget* button_;
};

// ---- TEdit ------------------------------------------------------------------------

class EditWidget : public QLineEdit {
public:
  explicit EditWidget(QWidget* parent) : QLineEdit(parent) {
    // Every change the user makes (typing, pasting, undo) goes to the model; the
    // model's own changes arrive while the peer applies them and are skipped.
    connect(this, &QLineEdit::textChanged, this, [this](const QString& text) {
      const std::string value = fromQString(text);
      toModel(link, [&value](TControl& c) { c.SetText(value); });
    });
  }
  PeerLink link;

protected:
  void mouseReleaseEvent(QMouseEvent* event) override {
    QLineEdit::mouseReleaseEvent(event);
    if (rect().contains(event->position().toPoint()))
      toModel(link, [](TControl& c) { raiseClick(c); });
  }
};

class EditPeer : public QtPeer {
public:
  EditPeer(QtGuiBackend& backend, TControl& control, EditWidget* widget)
      : QtPeer(backend, control, widget, widget->link), edit_(widget) {}

protected:
  void applyText() override {
    Applying guard(*this);
    const QString text = toQString(control().Text());
    if (edit_->text() != text) edit_->setText(text);
  }
  void applyColor() override {
    Applying guard(*this);
    setBaseColor(edit_, control());
  }
  void applyAppearance() override {
    Applying guard(*this);
    if (const auto* e = ObjectAs<TEdit>(&control())) {
      edit_->setReadOnly(e->ReadOnly());
      // The model cuts texts to MaxLength itself; Qt's limit only keeps typing in step.
      edit_->setMaxLength(e->MaxLength() > 0 ? e->MaxLength() : 32767);
    }
    setTabStop(edit_, control());
    setToolTip(edit_, control());
  }

private:
  EditWidget* edit_;
};

// ---- TLabel -----------------------------------------------------------------------

class LabelWidget : public QLabel {
public:
  explicit LabelWidget(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setMargin(0);
  }
  PeerLink link;

protected:
  void mouseReleaseEvent(QMouseEvent* event) override {
    QLabel::mouseReleaseEvent(event);
    if (rect().contains(event->position().toPoint()))
      toModel(link, [](TControl& c) { raiseClick(c); });
  }
};

Qt::Alignment labelAlignment(const TLabel& label) {
  Qt::Alignment align;
  switch (label.Alignment()) {
  case taRightJustify:
    align = Qt::AlignRight;
    break;
  case taCenter:
    align = Qt::AlignHCenter;
    break;
  default:
    align = Qt::AlignLeft;
    break;
  }
  switch (label.Layout()) {
  case tlCenter:
    return align | Qt::AlignVCenter;
  case tlBottom:
    return align | Qt::AlignBottom;
  default:
    return align | Qt::AlignTop;
  }
}

class LabelPeer : public QtPeer {
public:
  LabelPeer(QtGuiBackend& backend, TLabel& label, LabelWidget* widget)
      : QtPeer(backend, label, widget, widget->link), label_(label), widget_(widget) {}

protected:
  void applyText() override {
    Applying guard(*this);
    widget_->setText(toQString(label_.DisplayText()));
  }
  void applyColor() override {
    Applying guard(*this);
    // A transparent label paints only its text; its parent shows through.
    widget_->setAutoFillBackground(!label_.Transparent());
    QPalette pal = widget_->palette();
    pal.setColor(QPalette::Window, toQColor(label_.Color()));
    widget_->setPalette(pal);
  }
  void applyAppearance() override {
    Applying guard(*this);
    widget_->setAlignment(labelAlignment(label_));
    widget_->setWordWrap(label_.WordWrap());
    setToolTip(widget_, label_);
    applyColor();
    widget_->update();
  }

private:
  TLabel& label_;
  LabelWidget* widget_;
};

// ---- TBevel -----------------------------------------------------------------------

// A QFrame for what it says about itself (shape and shadow); the edges are drawn
// here, the classic way, whatever the widget style would make of them.
class BevelWidget : public QFrame {
public:
  explicit BevelWidget(QWidget* parent) : QFrame(parent) {
    // Decoration only: clicks belong to what lies underneath.
    setAttribute(Qt::WA_TransparentForMouseEvents);
  }
  PeerLink link;

protected:
  void paintEvent(QPaintEvent*) override {
    const auto* bevel = link.peer != nullptr ? ObjectAs<TBevel>(&link.peer->control()) : nullptr;
    if (bevel == nullptr) return;
    QPainter p(this);
    const bool raised = bevel->Style() == bsRaised;
    const QColor first =
        raised ? palette().color(QPalette::Light) : palette().color(QPalette::Dark);
    const QColor second =
        raised ? palette().color(QPalette::Dark) : palette().color(QPalette::Light);
    const int w = width();
    const int h = height();
    auto line = [&p](const QColor& color, int x1, int y1, int x2, int y2) {
      p.setPen(color);
      p.drawLine(x1, y1, x2, y2);
    };
    switch (bevel->Shape()) {
    case bsBox:
      qDrawShadePanel(&p, rect(), palette(), !raised, 1, nullptr);
      break;
    case bsFrame:
      qDrawShadeRect(&p, rect(), palette(), !raised, 1, 0, nullptr);
      break;
    case bsTopLine:
      line(first, 0, 0, w - 1, 0);
      line(second, 0, 1, w - 1, 1);
      break;
    case bsBottomLine:
      line(first, 0, h - 2, w - 1, h - 2);
      line(second, 0, h - 1, w - 1, h - 1);
      break;
    case bsLeftLine:
      line(first, 0, 0, 0, h - 1);
      line(second, 1, 0, 1, h - 1);
      break;
    case bsRightLine:
      line(first, w - 2, 0, w - 2, h - 1);
      line(second, w - 1, 0, w - 1, h - 1);
      break;
    case bsSpacer:
      break;
    }
  }
};

class BevelPeer : public QtPeer {
public:
  BevelPeer(QtGuiBackend& backend, TBevel& bevel, BevelWidget* widget)
      : QtPeer(backend, bevel, widget, widget->link), bevel_(bevel), widget_(widget) {}

protected:
  void applyAppearance() override {
    Applying guard(*this);
    const QFrame::Shadow shadow = bevel_.Style() == bsRaised ? QFrame::Raised : QFrame::Sunken;
    switch (bevel_.Shape()) {
    case bsBox:
      widget_->setFrameStyle(QFrame::Panel | shadow);
      break;
    case bsFrame:
      widget_->setFrameStyle(QFrame::Box | shadow);
      break;
    case bsTopLine:
    case bsBottomLine:
      widget_->setFrameStyle(QFrame::HLine | shadow);
      break;
    case bsLeftLine:
    case bsRightLine:
      widget_->setFrameStyle(QFrame::VLine | shadow);
      break;
    case bsSpacer:
      widget_->setFrameStyle(QFrame::NoFrame);
      break;
    }
    widget_->setLineWidth(1);
    widget_->update();
  }

private:
  TBevel& bevel_;
  BevelWidget* widget_;
};

} // namespace

std::unique_ptr<QtPeer> makeButtonPeer(QtGuiBackend& backend, TControl& control, QWidget* parent) {
  return std::make_unique<ButtonPeer>(backend, control, new ButtonWidget(parent));
}

std::unique_ptr<QtPeer> makeEditPeer(QtGuiBackend& backend, TControl& control, QWidget* parent) {
  return std::make_unique<EditPeer>(backend, control, new EditWidget(parent));
}

std::unique_ptr<QtPeer> makeLabelPeer(QtGuiBackend& backend, TControl& control, QWidget* parent) {
  return std::make_unique<LabelPeer>(backend, static_cast<TLabel&>(control),
                                     new LabelWidget(parent));
}

std::unique_ptr<QtPeer> makeBevelPeer(QtGuiBackend& backend, TControl& control, QWidget* parent) {
  return std::make_unique<BevelPeer>(backend, static_cast<TBevel&>(control),
                                     new BevelWidget(parent));
}

} // namespace keltk::qt
