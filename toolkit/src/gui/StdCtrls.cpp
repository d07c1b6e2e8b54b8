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

// What every control that takes the focus and a caption or text stores besides.
template <class C> void publishWindowed(ClassBuilder<C>& b, bool tabStop) {
  publishCommon(b);
  publishFont(b);
  b.component("PopupMenu", &C::PopupMenu, &C::SetPopupMenu);
  b.integer("TabOrder", &C::TabOrder, &C::SetTabOrder);
  b.boolean("TabStop", &C::TabStop, &C::SetTabStop).defaultValue(tabStop ? 1 : 0);
  b.event("OnClick", &C::OnClick, &C::SetOnClick);
}

template <class C> void publishColor(ClassBuilder<C>& b, TColor color) {
  b.integer("Color", &C::Color, &C::SetColor, &ColorIdents())
      .defaultValue(color)
      .storedIf(ownColor);
  b.boolean("ParentColor", &C::ParentColor, &C::SetParentColor).defaultValue(0);
}

// A string list owned by a control, which tells the control of its changes.
template <class C, void (C::*Changed)(TObject*)>
std::unique_ptr<TStringList> ownedLines(C* control) {
  auto lines = std::make_unique<TStringList>();
  lines->SetOnChange(TNotifyEvent::bind<Changed>(control));
  return lines;
}

// -1 for an index outside the list.
int indexIn(const TStrings& list, int index) {
  return index >= 0 && index < list.Count() ? index : -1;
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
    b.component("PopupMenu", &B::PopupMenu, &B::SetPopupMenu);
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
    b.component("PopupMenu", &E::PopupMenu, &E::SetPopupMenu);
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
    b.component("PopupMenu", &L::PopupMenu, &L::SetPopupMenu);
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

// ---- TMemo --------------------------------------------------------------------

const EnumInfo& ScrollStyleInfo() {
  static const EnumInfo info =
      EnumInfo::sequence("TScrollStyle", {"ssNone", "ssHorizontal", "ssVertical", "ssBoth"});
  return info;
}

TMemo::TMemo(TComponent* owner)
    : TWinControl(owner), lines_(ownedLines<TMemo, &TMemo::linesChanged>(this)) {
  initColor(clWindow, false);
  SetTabStop(true);
  SetBounds(0, 0, 185, 89);
}

TMemo::~TMemo() = default;

const TClassInfo& TMemo::StaticClass() {
  static TClassInfo info("TMemo", &TWinControl::StaticClass(), [](TClassInfo& i) {
    using M = TMemo;
    ClassBuilder<M> b(i);
    b.componentFactory();
    publishWindowed(b, true);
    publishColor(b, clWindow);
    b.object("Lines", &M::Lines);
    b.boolean("ReadOnly", &M::ReadOnly, &M::SetReadOnly).defaultValue(0);
    b.enumeration("ScrollBars", ScrollStyleInfo(), &M::ScrollBars, &M::SetScrollBars)
        .defaultValue(ssNone);
    b.boolean("WordWrap", &M::WordWrap, &M::SetWordWrap).defaultValue(1);
    b.event("OnChange", &M::OnChange, &M::SetOnChange);
  });
  return info;
}

void TMemo::SetText(const std::string& text) {
  if (text == Text()) return;
  // Kept as given (a trailing line feed the user just typed stays), the lines
  // follow.
  TWinControl::SetText(text);
  syncing_ = true;
  lines_->SetText(text);
  syncing_ = false;
  change();
}

void TMemo::linesChanged(TObject*) {
  if (syncing_) return;
  std::string text;
  for (int i = 0; i < lines_->Count(); ++i)
    text += (i == 0 ? "" : "\n") + lines_->Strings(i);
  if (text == Text()) return;
  TWinControl::SetText(text);
  change();
}

void TMemo::change() {
  if (onChange_ && !HasState(csLoading)) onChange_(this);
}

void TMemo::SetReadOnly(bool value) {
  if (value == readOnly_) return;
  readOnly_ = value;
  Changed(TControlChange::Appearance);
}

void TMemo::SetWordWrap(bool value) {
  if (value == wordWrap_) return;
  wordWrap_ = value;
  Changed(TControlChange::Appearance);
}

void TMemo::SetScrollBars(TScrollStyle value) {
  if (value == scrollBars_) return;
  scrollBars_ = value;
  Changed(TControlChange::Appearance);
}

// ---- TCheckBox, TRadioButton ------------------------------------------------------

TButtonControl::TButtonControl(TComponent* owner) : TWinControl(owner) {
  SetTabStop(true);
}

TButtonControl::~TButtonControl() = default;

const TClassInfo& TButtonControl::StaticClass() {
  static TClassInfo info("TButtonControl", &TWinControl::StaticClass(), [](TClassInfo& i) {
    using B = TButtonControl;
    ClassBuilder<B> b(i);
    publishWindowed(b, true);
    b.string("Caption", &B::Caption, &B::SetCaption);
    b.boolean("Checked", &B::Checked, &B::SetChecked).defaultValue(0);
  });
  return info;
}

void TButtonControl::SetChecked(bool value) {
  if (value == checked_) return;
  setCheckedQuietly(value);
  if (!HasState(csLoading)) Click();
}

void TButtonControl::setCheckedQuietly(bool value) {
  checked_ = value;
  Changed(TControlChange::Appearance);
}

TCheckBox::TCheckBox(TComponent* owner) : TButtonControl(owner) {
  SetBounds(0, 0, 97, 17);
}

TCheckBox::~TCheckBox() = default;

const TClassInfo& TCheckBox::StaticClass() {
  static TClassInfo info("TCheckBox", &TButtonControl::StaticClass(),
                         [](TClassInfo& i) { ClassBuilder<TCheckBox>(i).componentFactory(); });
  return info;
}

TRadioButton::TRadioButton(TComponent* owner) : TButtonControl(owner) {
  SetBounds(0, 0, 113, 17);
}

TRadioButton::~TRadioButton() = default;

const TClassInfo& TRadioButton::StaticClass() {
  static TClassInfo info("TRadioButton", &TButtonControl::StaticClass(),
                         [](TClassInfo& i) { ClassBuilder<TRadioButton>(i).componentFactory(); });
  return info;
}

void TRadioButton::SetChecked(bool value) {
  if (value == Checked()) return;
  if (value && Parent() != nullptr)
    for (int i = 0; i < Parent()->ControlCount(); ++i) {
      auto* sibling = ObjectAs<TRadioButton>(Parent()->Controls(i));
      if (sibling != nullptr && sibling != this && sibling->Checked())
        sibling->setCheckedQuietly(false);
    }
  setCheckedQuietly(value);
  if (value && !HasState(csLoading)) Click();
}

// ---- TComboBox ----------------------------------------------------------------

const EnumInfo& ComboBoxStyleInfo() {
  static const EnumInfo info =
      EnumInfo::sequence("TComboBoxStyle", {"csDropDown", "csDropDownList"});
  return info;
}

TComboBox::TComboBox(TComponent* owner)
    : TWinControl(owner), items_(ownedLines<TComboBox, &TComboBox::itemsChanged>(this)) {
  initColor(clWindow, false);
  SetTabStop(true);
  SetBounds(0, 0, 145, 21);
}

TComboBox::~TComboBox() = default;

const TClassInfo& TComboBox::StaticClass() {
  static TClassInfo info("TComboBox", &TWinControl::StaticClass(), [](TClassInfo& i) {
    using C = TComboBox;
    ClassBuilder<C> b(i);
    b.componentFactory();
    publishWindowed(b, true);
    publishColor(b, clWindow);
    b.object("Items", &C::Items);
    b.integer("ItemIndex", &C::ItemIndex, &C::SetItemIndex).defaultValue(-1);
    b.enumeration("Style", ComboBoxStyleInfo(), &C::Style, &C::SetStyle).defaultValue(csDropDown);
    b.string("Text", &C::Text, &C::SetText);
    b.event("OnChange", &C::OnChange, &C::SetOnChange);
  });
  return info;
}

void TComboBox::select(int index, const std::string& text) {
  if (index == itemIndex_ && text == Text()) return;
  itemIndex_ = index;
  if (text == Text())
    Changed(TControlChange::Text);
  else
    TWinControl::SetText(text);
  if (onChange_ && !HasState(csLoading)) onChange_(this);
}

void TComboBox::SetText(const std::string& text) {
  if (HasState(csLoading)) {
    TWinControl::SetText(text); // ItemIndex and Items settle in Loaded
    return;
  }
  const int found = items_->IndexOf(text);
  // A list without an edit shows only its items.
  if (style_ == csDropDownList && found < 0 && !text.empty()) return;
  select(found, text);
}

void TComboBox::SetItemIndex(int index) {
  if (HasState(csLoading)) {
    itemIndex_ = index;
    return;
  }
  index = indexIn(*items_, index);
  select(index, index < 0 ? std::string() : items_->Strings(index));
}

void TComboBox::SetStyle(TComboBoxStyle style) {
  if (style == style_) return;
  style_ = style;
  Changed(TControlChange::Appearance);
  if (style_ == csDropDownList && itemIndex_ < 0) select(-1, "");
}

void TComboBox::itemsChanged(TObject*) {
  Changed(TControlChange::Appearance);
  if (HasState(csLoading)) return;
  // The chosen line keeps its text; it may have moved or gone.
  const int index = itemIndex_ >= 0 ? items_->IndexOf(Text()) : -1;
  select(index, index < 0 && style_ == csDropDownList ? std::string() : Text());
}

void TComboBox::Loaded() {
  TWinControl::Loaded();
  itemIndex_ = indexIn(*items_, itemIndex_);
  if (itemIndex_ >= 0)
    TWinControl::SetText(items_->Strings(itemIndex_));
  else if (style_ == csDropDownList)
    TWinControl::SetText("");
  Changed(TControlChange::Text);
}

// ---- TListBox -----------------------------------------------------------------

TListBox::TListBox(TComponent* owner)
    : TWinControl(owner), items_(ownedLines<TListBox, &TListBox::itemsChanged>(this)) {
  initColor(clWindow, false);
  SetTabStop(true);
  SetBounds(0, 0, 121, 97);
}

TListBox::~TListBox() = default;

const TClassInfo& TListBox::StaticClass() {
  static TClassInfo info("TListBox", &TWinControl::StaticClass(), [](TClassInfo& i) {
    using L = TListBox;
    ClassBuilder<L> b(i);
    b.componentFactory();
    publishWindowed(b, true);
    publishColor(b, clWindow);
    b.object("Items", &L::Items);
    b.integer("ItemIndex", &L::ItemIndex, &L::SetItemIndex).defaultValue(-1);
    b.event("OnDblClick", &L::OnDblClick, &L::SetOnDblClick);
  });
  return info;
}

void TListBox::SetItemIndex(int index) {
  if (!HasState(csLoading)) index = indexIn(*items_, index);
  chosen_ = indexIn(*items_, index) < 0 ? std::string() : items_->Strings(index);
  if (index == itemIndex_) return;
  itemIndex_ = index;
  Changed(TControlChange::Text);
}

void TListBox::itemsChanged(TObject*) {
  Changed(TControlChange::Appearance);
  if (HasState(csLoading) || itemIndex_ < 0) return;
  const bool stays = indexIn(*items_, itemIndex_) >= 0 && items_->Strings(itemIndex_) == chosen_;
  SetItemIndex(stays ? itemIndex_ : items_->IndexOf(chosen_));
}

void TListBox::Loaded() {
  TWinControl::Loaded();
  SetItemIndex(itemIndex_);
  Changed(TControlChange::Text);
}

// ---- TGroupBox ----------------------------------------------------------------

TGroupBox::TGroupBox(TComponent* owner) : TWinControl(owner) {
  initColor(clBtnFace, true);
  SetBounds(0, 0, 185, 105);
}

TGroupBox::~TGroupBox() = default;

const TClassInfo& TGroupBox::StaticClass() {
  static TClassInfo info("TGroupBox", &TWinControl::StaticClass(), [](TClassInfo& i) {
    using G = TGroupBox;
    ClassBuilder<G> b(i);
    b.componentFactory();
    publishWindowed(b, false);
    b.string("Caption", &G::Caption, &G::SetCaption);
    b.integer("Color", &G::Color, &G::SetColor, &ColorIdents()).storedIf(ownColor);
    b.boolean("ParentColor", &G::ParentColor, &G::SetParentColor).defaultValue(1);
  });
  return info;
}

} // namespace keltk
