#include "keltk/StdCtrls.h"

#include "keltk/Forms.h"
#include "keltk/Menus.h"
#include "keltk/PropInfo.h"

#include <cmath>

namespace keltk {

namespace {

bool ownFont(const TObject& o) {
  return !static_cast<const TControl&>(o).ParentFont();
}
bool ownColor(const TObject& o) {
  return !static_cast<const TControl&>(o).ParentColor();
}

// The properties every shown control stores the same way.
template <class C> void publishCommon(ClassBuilder<C>& b) {
  b.enumeration("Align", AlignInfo(), &C::Align, &C::SetAlign).defaultValue(alNone);
  b.boolean("Enabled", &C::Enabled, &C::SetEnabled).defaultValue(1);
  b.string("Hint", &C::Hint, &C::SetHint);
  b.boolean("ShowHint", &C::ShowHint, &C::SetShowHint).defaultValue(0);
  b.boolean("Visible", &C::Visible, &C::SetVisible).defaultValue(1);
}

template <class C> void publishFont(ClassBuilder<C>& b) {
  b.object("Font", &C::Font).storedIf(ownFont);
  b.boolean("ParentFont", &C::ParentFont, &C::SetParentFont).defaultValue(1);
}

} // namespace

// ---- TButton ------------------------------------------------------------------

TButton::TButton(TComponent* owner) : TWinControl(owner) {
  SetTabStop(true);
  SetBounds(0, 0, 75, 25);
}

TButton::~TButton() = default;

const TClassInfo& TButton::StaticClass() {
  static TClassInfo info("TButton", &TWinControl::StaticClass(), [](TClassInfo& i) {
    using B = TButton;
    ClassBuilder<B> b(i);
    b.componentFactory();
    publishCommon(b);
    b.boolean("Cancel", &B::Cancel, &B::SetCancel).defaultValue(0);
    b.string("Caption", &B::Caption, &B::SetCaption);
    b.boolean("Default", &B::Default, &B::SetDefault).defaultValue(0);
    publishFont(b);
    b.integer("ModalResult", &B::ModalResult, &B::SetModalResult, &ModalResultIdents())
        .defaultValue(mrNone);
    b.integer("TabOrder", &B::TabOrder, &B::SetTabOrder);
    b.boolean("TabStop", &B::TabStop, &B::SetTabStop).defaultValue(1);
    b.event("OnClick", &B::OnClick, &B::SetOnClick);
  });
  return info;
}

void TButton::Click() {
  if (!Enabled()) return;
  if (modalResult_ != mrNone)
    if (TForm* form = GetParentForm(this)) form->SetModalResult(modalResult_);
  TWinControl::Click();
}

void TButton::SetDefault(bool value) {
  if (value == default_) return;
  default_ = value;
  Changed(TControlChange::Appearance);
}

// ---- TEdit --------------------------------------------------------------------

TEdit::TEdit(TComponent* owner) : TWinControl(owner) {
  initColor(clWindow, false);
  SetTabStop(true);
  SetBounds(0, 0, 121, 21);
}

TEdit::~TEdit() = default;

const TClassInfo& TEdit::StaticClass() {
  static TClassInfo info("TEdit", &TWinControl::StaticClass(), [](TClassInfo& i) {
    using E = TEdit;
    ClassBuilder<E> b(i);
    b.componentFactory();
    publishCommon(b);
    b.integer("Color", &E::Color, &E::SetColor, &ColorIdents())
        .defaultValue(clWindow)
        .storedIf(ownColor);
    b.boolean("ParentColor", &E::ParentColor, &E::SetParentColor).defaultValue(0);
    publishFont(b);
    b.integer("MaxLength", &E::MaxLength, &E::SetMaxLength).defaultValue(0);
    b.boolean("ReadOnly", &E::ReadOnly, &E::SetReadOnly).defaultValue(0);
    b.integer("TabOrder", &E::TabOrder, &E::SetTabOrder);
    b.boolean("TabStop", &E::TabStop, &E::SetTabStop).defaultValue(1);
    b.string("Text", &E::Text, &E::SetText);
    b.event("OnChange", &E::OnChange, &E::SetOnChange);
    b.event("OnClick", &E::OnClick, &E::SetOnClick);
  });
  return info;
}

void TEdit::SetText(const std::string& text) {
  std::string value = text;
  if (maxLength_ > 0 && value.size() > static_cast<std::size_t>(maxLength_))
    value.resize(static_cast<std::size_t>(maxLength_));
  if (value == Text()) return;
  TWinControl::SetText(value);
  if (onChange_ && !HasState(csLoading)) onChange_(this);
}

void TEdit::SetMaxLength(int length) {
  maxLength_ = std::max(length, 0);
  if (maxLength_ > 0 && Text().size() > static_cast<std::size_t>(maxLength_)) SetText(Text());
}

void TEdit::SetReadOnly(bool value) {
  if (value == readOnly_) return;
  readOnly_ = value;
  Changed(TControlChange::Appearance);
}

// ---- TLabel -------------------------------------------------------------------

const EnumInfo& TextLayoutInfo() {
  static const EnumInfo info = EnumInfo::sequence("TTextLayout", {"tlTop", "tlCenter", "tlBottom"});
  return info;
}

TLabel::TLabel(TComponent* owner) : TGraphicControl(owner) {
  initColor(clBtnFace, true);
  SetBounds(0, 0, 65, 17);
}

TLabel::~TLabel() = default;

const TClassInfo& TLabel::StaticClass() {
  static TClassInfo info("TLabel", &TGraphicControl::StaticClass(), [](TClassInfo& i) {
    using L = TLabel;
    ClassBuilder<L> b(i);
    b.componentFactory();
    publishCommon(b);
    b.enumeration("Alignment", AlignmentInfo(), &L::Alignment, &L::SetAlignment)
        .defaultValue(taLeftJustify);
    b.boolean("AutoSize", &L::AutoSize, &L::SetAutoSize).defaultValue(1);
    b.string("Caption", &L::Caption, &L::SetCaption);
    b.integer("Color", &L::Color, &L::SetColor, &ColorIdents()).storedIf(ownColor);
    b.boolean("ParentColor", &L::ParentColor, &L::SetParentColor).defaultValue(1);
    publishFont(b);
    b.enumeration("Layout", TextLayoutInfo(), &L::Layout, &L::SetLayout).defaultValue(tlTop);
    b.boolean("ShowAccelChar", &L::ShowAccelChar, &L::SetShowAccelChar).defaultValue(1);
    b.boolean("Transparent", &L::Transparent, &L::SetTransparent).defaultValue(0);
    b.boolean("WordWrap", &L::WordWrap, &L::SetWordWrap).defaultValue(0);
    b.event("OnClick", &L::OnClick, &L::SetOnClick);
  });
  return info;
}

std::string TLabel::DisplayText() const {
  return showAccelChar_ ? StripHotkey(Caption()) : Caption();
}

void TLabel::adjustSize() {
  if (!autoSize_ || HasState(csLoading) || wordWrap_) return;
  const std::string text = DisplayText();
  int width = 0;
  int height = 0;
  const TGuiBackend* gui = GuiBackend();
  if (gui == nullptr || !const_cast<TGuiBackend*>(gui)->measureText(
                            *Font(), text.empty() ? " " : text, width, height)) {
    // About half the character height per character, 1.2 lines of height.
    const int charHeight = std::abs(Font()->Height());
    width = static_cast<int>(std::lround(0.45 * charHeight * static_cast<double>(text.size())));
    height = static_cast<int>(std::lround(1.2 * charHeight));
  }
  SetBounds(Left(), Top(), width, height);
}

void TLabel::SetText(const std::string& text) {
  if (text == Caption()) return;
  TGraphicControl::SetText(text);
  adjustSize();
}

void TLabel::SetAutoSize(bool value) {
  if (value == autoSize_) return;
  autoSize_ = value;
  adjustSize();
}

void TLabel::SetTransparent(bool value) {
  if (value == transparent_) return;
  transparent_ = value;
  Changed(TControlChange::Appearance);
}

void TLabel::SetAlignment(TAlignment value) {
  if (value == alignment_) return;
  alignment_ = value;
  Changed(TControlChange::Appearance);
}

void TLabel::SetLayout(TTextLayout value) {
  if (value == layout_) return;
  layout_ = value;
  Changed(TControlChange::Appearance);
}

void TLabel::SetWordWrap(bool value) {
  if (value == wordWrap_) return;
  wordWrap_ = value;
  Changed(TControlChange::Appearance);
  adjustSize();
}

void TLabel::SetShowAccelChar(bool value) {
  if (value == showAccelChar_) return;
  showAccelChar_ = value;
  Changed(TControlChange::Text);
  adjustSize();
}

void TLabel::Loaded() {
  TGraphicControl::Loaded();
  adjustSize();
}

} // namespace keltk
