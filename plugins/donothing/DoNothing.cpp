// The smallest complete plug-in: a class, its stored form and RegisterKelvarin.
// Loading and unloading it exercise the whole road without doing anything else.
#include <kelvarin/PluginModule.h>
#include <kelvarin/plugin.h>

namespace {

class TkelDoNothing : public kelvarin::TulmKel {
public:
  using TulmKel::TulmKel;
  static const keltk::TClassInfo& StaticClass() {
    static keltk::TClassInfo info("TkelDoNothing", &TulmKel::StaticClass());
    return info;
  }
  const keltk::TClassInfo& ClassType() const override { return StaticClass(); }
};

} // namespace

extern "C" kelvarin::TulmKel* RegisterKelvarin() {
  return kelvarin::RegisterPlugin<TkelDoNothing>();
}
