#include "Unit1.h"

#include <keltk/PropInfo.h>
#include <keltk/Utf8.h>

const keltk::TClassInfo& TForm1::StaticClass() {
  static keltk::TClassInfo info("TForm1", &TForm::StaticClass(), [](keltk::TClassInfo& i) {
    keltk::ClassBuilder<TForm1> b(i);
    b.method<&TForm1::Button_LoadPluginClick>("Button_LoadPluginClick");
    b.method<&TForm1::FormClose>("FormClose");
  });
  return info;
}

TForm1::TForm1(keltk::TComponent* owner) : TForm(owner) {}

TForm1::~TForm1() = default;

void TForm1::Loaded() {
  TForm::Loaded();
  ulmKelMan1 = keltk::ObjectAs<kelvarin::TulmKelMan>(FindComponent("ulmKelMan1"));
  Button_LoadPlugin = keltk::ObjectAs<keltk::TButton>(FindComponent("Button_LoadPlugin"));
  Edit_PluginName = keltk::ObjectAs<keltk::TEdit>(FindComponent("Edit_PluginName"));
}

void TForm1::Button_LoadPluginClick(keltk::TObject* /*Sender*/) {
  // The text goes to the manager as typed; success and failure show in its log,
  // and no box interrupts the user.
  const std::string name = Edit_PluginName->Text();
  const kelvarin::TKelMethodResult result = ulmKelMan1->LoadPlugin(name);
  if (result.Success || LoadFailuresTo == nullptr) return;
  // The texts may come from the module: shown escaped, as kelinfo shows them.
  std::fprintf(LoadFailuresTo, "load %s: %s\n", keltk::ShownText(name).c_str(),
               keltk::ShownText(result.ErrorMsg).c_str());
  if (const std::string& reason = ulmKelMan1->LastModuleError(); !reason.empty())
    std::fprintf(LoadFailuresTo, "  %s\n", keltk::ShownText(reason).c_str());
  std::fflush(LoadFailuresTo);
}

void TForm1::FormClose(keltk::TObject* /*Sender*/, keltk::TCloseAction& Action) {
  Action = keltk::caFree;
  (void)ulmKelMan1->UnloadAllPlugins(false);
}
