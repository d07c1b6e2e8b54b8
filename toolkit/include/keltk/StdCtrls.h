// Standard controls: button, single-line edit, label.
#pragma once

#include "keltk/Controls.h"

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

} // namespace keltk
