#include "Leftovers.h"

#include <algorithm>
#include <keltk/Application.h>
#include <keltk/Forms.h>
#include <keltk/PropInfo.h>

namespace kelvarin {

namespace {

// A component of a class the module defines: its virtual table lies there.
bool madeBy(const keltk::TComponent* component, const ModuleSpan& module) {
  return module.holds(*reinterpret_cast<const void* const*>(component));
}

// "Form1.mnuFile": the owners' names down from the application's forms; an
// unnamed one by its class.
std::string pathOf(const keltk::TComponent* component) {
  std::string path;
  for (const keltk::TComponent* c = component; c != nullptr && c != keltk::Application();
       c = c->Owner()) {
    const std::string& part = c->Name().empty() ? c->ClassName() : c->Name();
    path = path.empty() ? part : part + "." + path;
  }
  return path;
}

void collect(keltk::TComponent* component, std::vector<keltk::TComponent*>& into) {
  if (component == nullptr || std::find(into.begin(), into.end(), component) != into.end()) return;
  into.push_back(component);
  for (int i = 0; i < component->ComponentCount(); ++i)
    collect(component->Components(i), into);
}

// Every component the application and the screen reach, owners first.
std::vector<keltk::TComponent*> reachable() {
  std::vector<keltk::TComponent*> all;
  collect(keltk::Application(), all);
  keltk::TScreen* screen = keltk::Screen();
  collect(screen, all);
  for (int i = 0; i < screen->FormCount(); ++i)
    collect(screen->Forms(i), all);
  return all;
}

class Sweep {
public:
  explicit Sweep(const ModuleSpan& module) : module_(module) {}

  // Leaves `all` holding what is left.
  void freeComponents(std::vector<keltk::TComponent*>& all) {
    // One at a time: freeing one frees what it owns and may free others.
    for (;;) {
      const auto doomed =
          std::find_if(all.begin(), all.end(), [&](auto* c) { return madeBy(c, module_); });
      if (doomed == all.end()) return;
      freed_.push_back(*doomed);
      freedNames_.push_back(pathOf(*doomed) + " freed");
      keltk::FreeObject(*doomed);
      all = reachable();
    }
  }

  void clearApplication() {
    keltk::TApplication* app = keltk::Application();
    if (bound(app->OnIdle().toRef())) {
      app->SetOnIdle({});
      cleared_.emplace_back("Application.OnIdle");
    }
    if (bound(app->OnException().toRef())) {
      app->SetOnException({});
      cleared_.emplace_back("Application.OnException");
    }
    for (const keltk::TIdleEvent& handler : std::vector(app->IdleHandlers()))
      if (bound(handler.toRef())) {
        app->RemoveIdleHandler(handler);
        cleared_.emplace_back("Application idle handler");
      }
  }

  void clearComponents(const std::vector<keltk::TComponent*>& all) {
    for (keltk::TComponent* component : all)
      for (const keltk::TClassInfo* cls = &component->ClassType(); cls != nullptr;
           cls = cls->parent)
        for (const auto& prop : cls->props) {
          if (prop->kind != keltk::PropKind::Method || !prop->getMethod || !prop->setMethod)
            continue;
          if (!bound(prop->getMethod(*component))) continue;
          prop->setMethod(*component, {});
          cleared_.push_back(pathOf(component) + "." + prop->name);
        }
  }

  std::vector<std::string> result() {
    cleared_.insert(cleared_.end(), freedNames_.begin(), freedNames_.end());
    return std::move(cleared_);
  }

private:
  // Bound to the module's code, or to a component freed here (compared, never read).
  bool bound(const keltk::MethodRef& handler) const {
    if (!handler) return false;
    if (module_.holds(reinterpret_cast<const void*>(handler.code))) return true;
    return std::find(freed_.begin(), freed_.end(), handler.data) != freed_.end();
  }

  ModuleSpan module_;
  std::vector<const keltk::TObject*> freed_;
  std::vector<std::string> freedNames_;
  std::vector<std::string> cleared_;
};

} // namespace

std::vector<std::string> ClearModuleLeftovers(const ModuleSpan& module) {
  if (module.begin == nullptr) return {};
  Sweep sweep(module);
  std::vector<keltk::TComponent*> all = reachable();
  sweep.freeComponents(all);
  sweep.clearApplication();
  sweep.clearComponents(all);
  return sweep.result();
}

} // namespace kelvarin
