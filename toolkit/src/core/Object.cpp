#include "keltk/Object.h"

#include "keltk/PropInfo.h"
#include "keltk/StrUtils.h"
#include "keltk/Toolkit.h"

#include <algorithm>
#include <dlfcn.h>
#include <unordered_map>

namespace keltk {

struct TClassInfo::Index {
  std::unordered_map<std::string, const PropInfo*> props; // upper-cased names, ancestors included
};

TClassInfo::TClassInfo(std::string className, const TClassInfo* parentClass,
                       void (*describe)(TClassInfo&))
    : name(std::move(className)), parent(parentClass) {
  if (describe != nullptr) describe(*this);
}

TClassInfo::~TClassInfo() = default;

bool TClassInfo::inheritsFrom(std::string_view className) const {
  for (const TClassInfo* c = this; c != nullptr; c = c->parent)
    if (c->name == className) return true;
  return false;
}

const TClassInfo::Index& TClassInfo::index() const {
  if (index_) return *index_;
  auto idx = std::make_unique<Index>();
  // Nearest declaration wins: walk from this class up and keep the first seen.
  for (const TClassInfo* c = this; c != nullptr; c = c->parent)
    for (const auto& p : c->props)
      idx->props.emplace(UpperCase(p->name), p.get());
  index_ = std::move(idx);
  return *index_;
}

const PropInfo* TClassInfo::findProperty(std::string_view propName) const {
  const auto& props = index().props;
  auto it = props.find(UpperCase(propName));
  return it == props.end() ? nullptr : it->second;
}

const MethodInfo* TClassInfo::findMethod(std::string_view methodName) const {
  for (const TClassInfo* c = this; c != nullptr; c = c->parent)
    for (const auto& m : c->methods)
      if (m.name == methodName) return &m;
  return nullptr;
}

std::vector<const PropInfo*> TClassInfo::allProperties() const {
  std::vector<const TClassInfo*> chain;
  for (const TClassInfo* c = this; c != nullptr; c = c->parent)
    chain.push_back(c);
  std::vector<const PropInfo*> result;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it)
    for (const auto& p : (*it)->props) {
      // A redeclared property keeps its ancestor's position but the descendant's details.
      auto same = std::find_if(result.begin(), result.end(),
                               [&](const PropInfo* q) { return SameText(q->name, p->name); });
      if (same != result.end())
        *same = p.get();
      else
        result.push_back(p.get());
    }
  return result;
}

const void* ModuleBaseOf(const void* address) {
  // The loader's object index, not dladdr: no symbol search, so cheap enough for
  // every plug-in load.
  dl_find_object found{};
  if (address == nullptr || _dl_find_object(const_cast<void*>(address), &found) != 0)
    return nullptr;
  return found.dlfo_map_start;
}

const void* TClassInfo::moduleBase() const {
  return ModuleBaseOf(this);
}

TObject::~TObject() = default;

void FreeObject(TObject* obj) {
  if (obj == nullptr) return;
  obj->BeforeDestruction();
  delete obj;
}

const TClassInfo& TObject::StaticClass() {
  static const TClassInfo info("TObject", nullptr);
  return info;
}

namespace {
std::vector<const TClassInfo*>& classRegistry() {
  static std::vector<const TClassInfo*> registry;
  return registry;
}
} // namespace

void RegisterClass(const TClassInfo& info) {
  auto& reg = classRegistry();
  if (std::find(reg.begin(), reg.end(), &info) == reg.end()) reg.push_back(&info);
}

void UnregisterClass(const TClassInfo& info) {
  auto& reg = classRegistry();
  reg.erase(std::remove(reg.begin(), reg.end(), &info), reg.end());
}

const TClassInfo* FindClass(std::string_view className) {
  RegisterToolkitClasses(); // the toolkit's own classes are always known
  for (const TClassInfo* c : classRegistry())
    if (SameText(c->name, className)) return c;
  return nullptr;
}

} // namespace keltk
