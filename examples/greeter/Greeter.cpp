// Greeter: one command, Greet(Who), and one menu item that a host merges into
// its own menu.
#include <keltk/Menus.h>
#include <kelvarin/Commands.h>
#include <kelvarin/PluginModule.h>
#include <kelvarin/plugin.h>
#include <string>

namespace {

class TkelGreeter : public kelvarin::TulmKel {
public:
  using TulmKel::TulmKel;
  static const keltk::TClassInfo& StaticClass();
  const keltk::TClassInfo& ClassType() const override { return StaticClass(); }

  // Bound by name from Greeter.kfm.
  kelvarin::TKelMethodResult Greet(keltk::TVarRecs Params) {
    LogIt("Hello, " + kelvarin::Var2Str(Params[0]) + "!", kelvarin::lkAction);
    return kelvarin::smrOk;
  }
  void GreetMenuClick(keltk::TObject* /*Sender*/) {
    LogIt("Hello from the menu!", kelvarin::lkAction);
  }
};

const keltk::TClassInfo& TkelGreeter::StaticClass() {
  static keltk::TClassInfo info("TkelGreeter", &TulmKel::StaticClass(), [](keltk::TClassInfo& i) {
    keltk::ClassBuilder<TkelGreeter> b(i);
    b.method<&TkelGreeter::Greet>("Greet");
    b.method<&TkelGreeter::GreetMenuClick>("GreetMenuClick");
  });
  return info;
}

} // namespace

extern "C" kelvarin::TulmKel* RegisterKelvarin() {
  return kelvarin::RegisterPlugin<TkelGreeter>();
}
