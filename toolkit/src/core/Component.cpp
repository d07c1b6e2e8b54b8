#include "keltk/Component.h"

#include "keltk/Exception.h"
#include "keltk/PropInfo.h"
#include "keltk/Reader.h"
#include "keltk/StrUtils.h"
#include "keltk/Writer.h"

#include <algorithm>
#include <fmt/format.h>

namespace keltk {

TPersistent::~TPersistent() = default;

const TClassInfo& TPersistent::StaticClass() {
  static TClassInfo info("TPersistent", &TObject::StaticClass());
  return info;
}

void TPersistent::Assign(const TPersistent* source) {
  if (source != nullptr) {
    source->AssignTo(this);
    return;
  }
  AssignTo(this); // nothing to copy from: let the error name this class
}

void TPersistent::AssignTo(TPersistent* dest) const {
  throw EConvertError(fmt::format("Cannot assign a {} to a {}", ClassName(), dest->ClassName()));
}

const TClassInfo& TComponent::StaticClass() {
  static TClassInfo info("TComponent", &TPersistent::StaticClass(), [](TClassInfo& i) {
    ClassBuilder<TComponent>(i)
        .string("Name", &TComponent::Name, &TComponent::SetName)
        .storedIf([](const TObject&) { return false; }); // the object header carries it
    ClassBuilder<TComponent>(i)
        .integer("Tag", &TComponent::Tag, &TComponent::SetTag)
        .defaultValue(0);
  });
  return info;
}

TComponent::TComponent(TComponent* owner) {
  if (owner != nullptr) owner->InsertComponent(this);
}

TComponent::~TComponent() {
  state_ |= csDestroying;
  // Tell everyone who asked (and everyone in the same owner) that this one is going.
  auto watchers = std::move(freeNotifies_);
  freeNotifies_.clear();
  for (TComponent* w : watchers) {
    w->freeNotifies_.erase(std::remove(w->freeNotifies_.begin(), w->freeNotifies_.end(), this),
                           w->freeNotifies_.end());
    w->Notification(this, TOperation::opRemove);
  }
  DestroyComponents();
  if (owner_ != nullptr) owner_->RemoveComponent(this);
}

TComponent* TComponent::Components(int index) const {
  if (index < 0 || index >= ComponentCount())
    throw EListError(fmt::format("List index out of bounds ({})", index));
  return components_[static_cast<std::size_t>(index)];
}

TComponent* TComponent::FindComponent(std::string_view name) const {
  if (name.empty()) return nullptr;
  for (TComponent* c : components_)
    if (SameText(c->name_, name)) return c;
  return nullptr;
}

int TComponent::ComponentIndex() const {
  if (owner_ == nullptr) return -1;
  auto& list = owner_->components_;
  auto it = std::find(list.begin(), list.end(), this);
  return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

void TComponent::InsertComponent(TComponent* component) {
  if (component == nullptr || component->owner_ == this) return;
  ValidateRename(component, "", component->name_);
  if (component->owner_ != nullptr) component->owner_->RemoveComponent(component);
  components_.push_back(component);
  component->owner_ = this;
  notifyAll(component, TOperation::opInsert);
}

void TComponent::RemoveComponent(TComponent* component) {
  if (component == nullptr || component->owner_ != this) return;
  notifyAll(component, TOperation::opRemove);
  components_.erase(std::remove(components_.begin(), components_.end(), component),
                    components_.end());
  component->owner_ = nullptr;
}

void TComponent::DestroyComponents() {
  while (!components_.empty()) {
    TComponent* last = components_.back();
    RemoveComponent(last);
    FreeObject(last);
  }
}

void TComponent::SetName(const std::string& newName) {
  if (newName == name_) return;
  if (!newName.empty() && !IsValidIdent(newName))
    throw EComponentError(fmt::format("\"{}\" is not a valid component name", newName));
  if (owner_ != nullptr) owner_->ValidateRename(this, name_, newName);
  name_ = newName;
}

void TComponent::ValidateRename(TComponent* component, std::string_view currentName,
                                std::string_view newName) const {
  if (newName.empty() || SameText(currentName, newName)) return;
  TComponent* other = FindComponent(newName);
  if (other != nullptr && other != component)
    throw EComponentError(fmt::format("A component named {} already exists", newName));
}

void TComponent::SetDesigning(bool designing) {
  if (designing)
    state_ |= csDesigning;
  else
    state_ &= ~csDesigning;
  for (TComponent* c : components_)
    c->SetDesigning(designing);
}

void TComponent::FreeNotification(TComponent* component) {
  if (component == nullptr || component == this) return;
  auto add = [](std::vector<TComponent*>& list, TComponent* c) {
    if (std::find(list.begin(), list.end(), c) == list.end()) list.push_back(c);
  };
  add(freeNotifies_, component);
  add(component->freeNotifies_, this);
}

void TComponent::RemoveFreeNotification(TComponent* component) {
  if (component == nullptr) return;
  auto drop = [](std::vector<TComponent*>& list, TComponent* c) {
    list.erase(std::remove(list.begin(), list.end(), c), list.end());
  };
  drop(freeNotifies_, component);
  drop(component->freeNotifies_, this);
}

void TComponent::Notification(TComponent* component, TOperation operation) {
  if (operation == TOperation::opRemove && component != nullptr) RemoveFreeNotification(component);
  // Copy: a handler may free or insert siblings.
  auto owned = components_;
  for (TComponent* c : owned)
    if (std::find(components_.begin(), components_.end(), c) != components_.end())
      c->Notification(component, operation);
}

void TComponent::notifyAll(TComponent* component, TOperation operation) {
  Notification(component, operation);
}

void TComponent::Loaded() {
  state_ &= ~csLoading;
}

void TComponent::ReadState(TReader& reader) {
  reader.ReadData(this);
}

void TComponent::WriteState(TWriter& writer) {
  writer.WriteData(this);
}

void TComponent::SetParentComponent(TComponent*) {}

void TComponent::GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) const {
  if (root != this) return;
  for (TComponent* c : components_)
    if (!c->HasParent()) proc(c);
}

bool IsValidIdent(std::string_view name) {
  if (name.empty()) return false;
  auto alpha = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
  if (!alpha(name[0])) return false;
  return std::all_of(name.begin() + 1, name.end(),
                     [&](char c) { return alpha(c) || (c >= '0' && c <= '9'); });
}

std::recursive_mutex& GlobalNameSpace() {
  static std::recursive_mutex lock;
  return lock;
}

} // namespace keltk
