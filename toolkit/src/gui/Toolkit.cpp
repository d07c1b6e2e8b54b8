// The component classes that stored data may name, registered once per toolkit copy.
#include "keltk/Toolkit.h"

#include "keltk/DataModule.h"
#include "keltk/ExtCtrls.h"
#include "keltk/Forms.h"
#include "keltk/Gauges.h"
#include "keltk/Menus.h"
#include "keltk/StdCtrls.h"

namespace keltk {

void RegisterToolkitClasses() {
  // A function-local static runs the registration exactly once, even when the
  // class look-up that triggers it happens during static initialisation.
  static const bool registered = [] {
    for (const TClassInfo* info :
         {&TMenuItem::StaticClass(), &TMainMenu::StaticClass(), &TForm::StaticClass(),
          &TDataModule::StaticClass(), &TButton::StaticClass(), &TEdit::StaticClass(),
          &TLabel::StaticClass(), &TBevel::StaticClass(), &TGauge::StaticClass(),
          &TPopupMenu::StaticClass(), &TMemo::StaticClass(), &TCheckBox::StaticClass(),
          &TRadioButton::StaticClass(), &TComboBox::StaticClass(), &TListBox::StaticClass(),
          &TGroupBox::StaticClass(), &TPanel::StaticClass(), &TTimer::StaticClass()})
      RegisterClass(*info);
    return true;
  }();
  (void)registered;
}

} // namespace keltk
