// Surfaces filled by control classes outside the toolkit, found by class name so
// that a control made by another toolkit copy is matched too.
#include "QtPeer.h"
#include "keltk/QtBackend.h"
#include "keltk/StrUtils.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace keltk {

namespace {

std::vector<std::pair<std::string, TQtSurfaceFill>>& fills() {
  static std::vector<std::pair<std::string, TQtSurfaceFill>> registered;
  return registered;
}

} // namespace

void RegisterQtSurfaceFill(std::string_view className, TQtSurfaceFill fill) {
  UnregisterQtSurfaceFill(className);
  if (fill != nullptr) fills().emplace_back(className, fill);
}

void UnregisterQtSurfaceFill(std::string_view className) {
  std::erase_if(fills(), [&](const auto& f) { return SameText(f.first, className); });
}

void qt::fillSurface(TControl& control, QWidget& surface) {
  const auto found =
      std::ranges::find_if(fills(), [&](const auto& f) { return control.InheritsFrom(f.first); });
  if (found != fills().end()) found->second(control, surface);
}

} // namespace keltk
