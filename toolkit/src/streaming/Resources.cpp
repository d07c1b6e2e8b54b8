#include "keltk/Resources.h"

#include "keltk/Component.h"
#include "keltk/Reader.h"
#include "keltk/StrUtils.h"

#include <algorithm>
#include <dlfcn.h>
#include <mutex>
#include <string>
#include <vector>

namespace keltk {

namespace {

struct FormResource {
  std::string_view text;
  std::string className;
  const void* module = nullptr;
};

struct ResourceRegistry {
  std::mutex lock;
  std::vector<FormResource> entries;
};

// Not a static object: modules unregister from their static destructors, which
// may run after this copy's own static destructors at process exit. It goes with
// the last registration instead, so that a toolkit copy that is unloaded (the
// runtime module, or a plug-in's own copy) leaves nothing behind.
ResourceRegistry*& registryPointer() {
  static ResourceRegistry* r = nullptr;
  return r;
}

ResourceRegistry& registry() {
  ResourceRegistry*& r = registryPointer();
  if (r == nullptr) r = new ResourceRegistry;
  return *r;
}

} // namespace

void RegisterFormResource(std::string_view text, const void* moduleAnchor) {
  // Called from static constructors, where an exception would end the program:
  // a text without a header is kept out instead.
  std::string className = FormClassName(text);
  if (className.empty()) return;
  ResourceRegistry& r = registry();
  std::lock_guard guard(r.lock);
  r.entries.push_back(FormResource{text, std::move(className), ModuleBaseOf(moduleAnchor)});
}

void UnregisterFormResource(std::string_view text) {
  ResourceRegistry*& r = registryPointer();
  if (r == nullptr) return;
  bool empty = false;
  {
    std::lock_guard guard(r->lock);
    std::erase_if(r->entries, [&](const FormResource& e) {
      return e.text.data() == text.data() && e.text.size() == text.size();
    });
    empty = r->entries.empty();
  }
  if (!empty) return;
  delete r;
  r = nullptr;
}

std::optional<std::string_view> FindFormResource(const TClassInfo& cls) {
  const void* module = cls.moduleBase();
  // Looking up must not create the registry: only the last unregistration frees it.
  ResourceRegistry* r = registryPointer();
  if (module == nullptr || r == nullptr) return std::nullopt;
  std::lock_guard guard(r->lock);
  // The newest registration wins, like a module loaded later shadowing an older one.
  for (auto it = r->entries.rbegin(); it != r->entries.rend(); ++it)
    if (it->module == module && SameText(it->className, cls.name)) return it->text;
  return std::nullopt;
}

bool InitInheritedComponent(TComponent* instance, const TClassInfo& rootAncestor) {
  std::vector<const TClassInfo*> chain; // from the instance's class up, rootAncestor excluded
  for (const TClassInfo* c = &instance->ClassType(); c != nullptr; c = c->parent) {
    if (c == &rootAncestor || c->name == rootAncestor.name) break;
    chain.push_back(c);
  }
  std::vector<std::string_view> texts;
  std::vector<std::string> sources;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    std::optional<std::string_view> text = FindFormResource(**it);
    if (!text) continue;
    texts.push_back(*text);
    sources.push_back("form of " + (*it)->name);
  }
  if (texts.empty()) return false;
  std::lock_guard guard(GlobalNameSpace());
  ReadInheritedForms(texts, instance, sources);
  return true;
}

} // namespace keltk
