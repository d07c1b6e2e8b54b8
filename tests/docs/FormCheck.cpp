// Reads a stored form as a program reads its embedded ones, for the examples in
// docs/. The header names TForm1 (a host's main form) or TkelDemo (a plug-in);
// a TForm1 form followed by an `inherited` one is read into a TForm2, derived
// from TForm1. Prints nothing and exits with 0 when the form reads; prints the
// reader's message and exits with 1 when it does not.
//   doc_form_check FILE.kfm
#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <keltk/Application.h>
#include <keltk/Exception.h>
#include <keltk/Forms.h>
#include <keltk/PropInfo.h>
#include <keltk/Reader.h>
#include <keltk/Resources.h>
#include <kelvarin/plugin.h>
#include <string>
#include <string_view>

namespace {

// The methods the examples bind by name.
class TForm1 : public keltk::TForm {
public:
  using TForm::TForm;
  static const keltk::TClassInfo& StaticClass() {
    static keltk::TClassInfo info("TForm1", &TForm::StaticClass(), [](keltk::TClassInfo& i) {
      keltk::ClassBuilder<TForm1> b(i);
      b.method<&TForm1::FormClose>("FormClose");
      b.method<&TForm1::FormShow>("FormShow");
      b.method<&TForm1::MenuClick>("ExitClick");
      b.method<&TForm1::MenuClick>("AboutClick");
      b.method<&TForm1::AfterLoad>("ulmKelMan1AfterLoad");
    });
    return info;
  }
  const keltk::TClassInfo& ClassType() const override { return StaticClass(); }
  void FormClose(keltk::TObject*, keltk::TCloseAction&) {}
  void FormShow(keltk::TObject*) {}
  void MenuClick(keltk::TObject*) {}
  void AfterLoad(kelvarin::TulmKel*) {}
};

class TForm2 : public TForm1 {
public:
  using TForm1::TForm1;
  static const keltk::TClassInfo& StaticClass() {
    static keltk::TClassInfo info("TForm2", &TForm1::StaticClass());
    return info;
  }
  const keltk::TClassInfo& ClassType() const override { return StaticClass(); }
};

class TkelDemo : public kelvarin::TulmKel {
public:
  using TulmKel::TulmKel;
  static const keltk::TClassInfo& StaticClass() {
    static keltk::TClassInfo info("TkelDemo", &TulmKel::StaticClass(), [](keltk::TClassInfo& i) {
      keltk::ClassBuilder<TkelDemo> b(i);
      b.method<&TkelDemo::Greet>("Greet");
      b.method<&TkelDemo::Initialize>("DemoInitialize");
      b.method<&TkelDemo::MenuClick>("GreetMenuClick");
    });
    return info;
  }
  const keltk::TClassInfo& ClassType() const override { return StaticClass(); }
  kelvarin::TKelMethodResult Greet(keltk::TVarRecs) { return kelvarin::smrOk; }
  kelvarin::TKelMethodResult Initialize(keltk::TVarRecs, bool&) { return kelvarin::smrOk; }
  void MenuClick(keltk::TObject*) {}
};

// Constructing the class reads the forms registered for it and its ancestors,
// as for a module's embedded forms.
template <class T>
void read(std::initializer_list<std::string_view> texts, keltk::TComponent* owner) {
  for (std::string_view text : texts)
    keltk::RegisterFormResource(text, &T::StaticClass());
  try {
    keltk::FreeObject(keltk::CreateObject<T>(owner));
  } catch (...) {
    for (std::string_view text : texts)
      keltk::UnregisterFormResource(text);
    throw;
  }
  for (std::string_view text : texts)
    keltk::UnregisterFormResource(text);
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: doc_form_check FILE.kfm\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  try {
    const std::size_t derived = text.find("\ninherited ");
    const std::string_view all = text;
    if (keltk::FormClassName(text) == "TkelDemo")
      read<TkelDemo>({all}, nullptr);
    else if (derived != std::string::npos)
      read<TForm2>({all.substr(0, derived + 1), all.substr(derived + 1)}, keltk::Application());
    else
      read<TForm1>({all}, keltk::Application());
    return 0;
  } catch (const keltk::Exception& e) {
    std::printf("%s\n", e.Message().c_str());
  }
  return 1;
}
