// The sample host's main form: one manager, an edit with a plug-in file name and
// a button that loads it. Closing the form unloads every plug-in.
#pragma once

#include <cstdio>
#include <keltk/Forms.h>
#include <keltk/StdCtrls.h>
#include <kelvarin/manager.h>

class TForm1 : public keltk::TForm {
public:
  explicit TForm1(keltk::TComponent* owner);
  ~TForm1() override;
  static const keltk::TClassInfo& StaticClass();
  const keltk::TClassInfo& ClassType() const override { return StaticClass(); }

  // The components of the stored form, found once it has been read.
  kelvarin::TulmKelMan* ulmKelMan1 = nullptr;
  keltk::TButton* Button_LoadPlugin = nullptr;
  keltk::TEdit* Edit_PluginName = nullptr;

  // Where a load the button asked for that failed is told, besides the log:
  // "load NAME: MESSAGE" and, indented on the next line, the reason the loader
  // or the plug-in's constructor gave (LastModuleError). Null tells nobody.
  std::FILE* LoadFailuresTo = stderr;

  void Button_LoadPluginClick(keltk::TObject* Sender);
  void FormClose(keltk::TObject* Sender, keltk::TCloseAction& Action);

protected:
  void Loaded() override;
};
