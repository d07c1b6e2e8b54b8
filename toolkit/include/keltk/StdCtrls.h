// Standard controls: button, edits, label, check and radio buttons, lists, group box.
#pragma once

#include "keltk/Controls.h"
#include "keltk/Strings.h"

namespace keltk {

class TButton : public TWinControl {
public:
  explicit TButton(TComponent* owner);
  ~TButton() override;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }

  // Runs OnClick as if the button were pressed (nothing when disabled); a
  // ModalResult goes to the button's form first.
  void Click() override;

  // Return in the form presses the Default button, Escape the Cancel button.
  bool Default() const { return default_; }
  void SetDefault(bool value);
  bool Cancel() const { return cancel_; }
  void SetCancel(bool value) { cancel_ = value; }
  TModalResult ModalResult() const { return modalResult_; }
  void SetModalResult(TModalResult value) { modalResult_ = value; }

private:
  bool default_ = false;
  bool cancel_ = false;
  TModalResult modalResult_ = mrNone;
};

class TEdit : public TWinControl {
public:
  explicit TEdit(TComponent* owner);
  ~TEdit() override;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }

  // Longer texts are cut to MaxLength (0: no limit); OnChange follows every change.
  void SetText(const std::string& text) override;
  int MaxLength() const { return maxLength_; }
  void SetMaxLength(int length);
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool value);

  const TNotifyEvent& OnChange() const { return onChange_; }
  void SetOnChange(const TNotifyEvent& handler) { onChange_ = handler; }

private:
  int maxLength_ = 0;
  bool readOnly_ = false;
  TNotifyEvent onChange_;
};

enum TTextLayout { tlTop, tlCenter, tlBottom };
const EnumInfo& TextLayoutInfo();

class TLabel : public TGraphicControl {
public:
  explicit TLabel(TComponent* owner);
  ~TLabel() override;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }

  // With AutoSize the label takes the size of its text (measured by the window
  // system when there is one, estimated from the font otherwise).
  void SetText(const std::string& text) override;
  bool AutoSize() const { return autoSize_; }
  void SetAutoSize(bool value);
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool value);
  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment value);
  TTextLayout Layout() const { return layout_; }
  void SetLayout(TTextLayout value);
  bool WordWrap() const { return wordWrap_; }
  void SetWordWrap(bool value);
  bool ShowAccelChar() const { return showAccelChar_; }
  void SetShowAccelChar(bool value);
  // The text as shown: accelerator markers removed when ShowAccelChar is set.
  std::string DisplayText() const;

protected:
  void Loaded() override;

private:
  void adjustSize();

  bool autoSize_ = true;
  bool transparent_ = false;
  TAlignment alignment_ = taLeftJustify;
  TTextLayout layout_ = tlTop;
  bool wordWrap_ = false;
  bool showAccelChar_ = true;
};

enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };
const EnumInfo& ScrollStyleInfo();

// A multi-line edit. Text is the lines joined with line feeds, as typed; Lines
// and Text follow each other, and OnChange follows every change of either.
class TMemo : public TWinControl {
public:
  explicit TMemo(TComponent* owner);
  ~TMemo() override;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }

  void SetText(const std::string& text) override;
  TStrings* Lines() const { return lines_.get(); }
  void SetLines(const TStrings* lines) { lines_->Assign(lines); }
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool value);
  bool WordWrap() const { return wordWrap_; }
  void SetWordWrap(bool value);
  TScrollStyle ScrollBars() const { return scrollBars_; }
  void SetScrollBars(TScrollStyle value);

  const TNotifyEvent& OnChange() const { return onChange_; }
  void SetOnChange(const TNotifyEvent& handler) { onChange_ = handler; }

private:
  void linesChanged(TObject* sender);
  void change();

  std::unique_ptr<TStringList> lines_;
  bool syncing_ = false;
  bool readOnly_ = false;
  bool wordWrap_ = true;
  TScrollStyle scrollBars_ = ssNone;
  TNotifyEvent onChange_;
};

// The check box and radio button: a caption beside a mark. Changing Checked,
// by the user or the program, raises OnClick (a radio button's only when it is
// checked).
class TButtonControl : public TWinControl {
public:
  explicit TButtonControl(TComponent* owner);
  ~TButtonControl() override;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }

  bool Checked() const { return checked_; }
  virtual void SetChecked(bool value);

protected:
  // Shows the new state without raising anything.
  void setCheckedQuietly(bool value);

private:
  bool checked_ = false;
};

class TCheckBox : public TButtonControl {
public:
  explicit TCheckBox(TComponent* owner);
  ~TCheckBox() override;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }
};

// Checking one unchecks the other radio buttons of the same parent control.
class TRadioButton : public TButtonControl {
public:
  explicit TRadioButton(TComponent* owner);
  ~TRadioButton() override;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }

  void SetChecked(bool value) override;
};

enum TComboBoxStyle { csDropDown, csDropDownList };
const EnumInfo& ComboBoxStyleInfo();

// A drop-down list, with an edit for free text in csDropDown. ItemIndex is the
// chosen item (-1: none) and Text its line; typing a text selects the item that
// has it. OnChange follows every change of either.
class TComboBox : public TWinControl {
public:
  explicit TComboBox(TComponent* owner);
  ~TComboBox() override;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }

  void SetText(const std::string& text) override;
  TStrings* Items() const { return items_.get(); }
  void SetItems(const TStrings* items) { items_->Assign(items); }
  int ItemIndex() const { return itemIndex_; }
  // Out of range: -1.
  void SetItemIndex(int index);
  TComboBoxStyle Style() const { return style_; }
  void SetStyle(TComboBoxStyle style);

  const TNotifyEvent& OnChange() const { return onChange_; }
  void SetOnChange(const TNotifyEvent& handler) { onChange_ = handler; }

protected:
  void Loaded() override;

private:
  void itemsChanged(TObject* sender);
  // Sets both at once and raises OnChange when either changed.
  void select(int index, const std::string& text);

  std::unique_ptr<TStringList> items_;
  int itemIndex_ = -1;
  TComboBoxStyle style_ = csDropDown;
  TNotifyEvent onChange_;
};

// A list of lines, one of which may be chosen. The user's choice raises OnClick,
// as does a click on the chosen line; the program's ItemIndex does not. When the
// lines change the chosen one stays chosen where it went, or none is.
class TListBox : public TWinControl {
public:
  explicit TListBox(TComponent* owner);
  ~TListBox() override;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }

  TStrings* Items() const { return items_.get(); }
  void SetItems(const TStrings* items) { items_->Assign(items); }
  int ItemIndex() const { return itemIndex_; }
  // Out of range: -1.
  void SetItemIndex(int index);

  const TNotifyEvent& OnDblClick() const { return onDblClick_; }
  void SetOnDblClick(const TNotifyEvent& handler) { onDblClick_ = handler; }

protected:
  void Loaded() override;

private:
  void itemsChanged(TObject* sender);

  std::unique_ptr<TStringList> items_;
  int itemIndex_ = -1;
  std::string chosen_; // the chosen line's text
  TNotifyEvent onDblClick_;
};

// A frame with a caption around the controls it holds.
class TGroupBox : public TWinControl {
public:
  explicit TGroupBox(TComponent* owner);
  ~TGroupBox() override;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }
};

} // namespace keltk
