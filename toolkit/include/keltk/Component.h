// Persistent objects and components: ownership, names, state flags, streaming hooks.
#pragma once

#include "keltk/Object.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace keltk {

class TReader;
class TWriter;

class TPersistent : public TObject {
public:
  ~TPersistent() override;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }

  // Copies `source` into this object. The default asks the source to AssignTo this
  // object and raises EConvertError when neither side knows how.
  virtual void Assign(const TPersistent* source);
  // The object that owns this one for naming purposes (collections answer their owner).
  virtual TPersistent* GetOwner() const { return nullptr; }

protected:
  virtual void AssignTo(TPersistent* dest) const;
};

enum TComponentStateFlag : std::uint32_t {
  csLoading = 1u << 0, // set from creation by the reader until Loaded
  csReading = 1u << 1, // properties are being read
  csWriting = 1u << 2, // properties are being written
  csDestroying = 1u << 3,
  csDesigning = 1u << 4, // edited in a visual designer
  csAncestor = 1u << 5,
  csInline = 1u << 6,
};
using TComponentState = std::uint32_t;

enum class TOperation { opInsert, opRemove };

class TComponent : public TPersistent {
public:
  explicit TComponent(TComponent* owner);
  ~TComponent() override;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }

  TComponent* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  // Raises EComponentError for a name that is not an identifier or is taken by a
  // sibling (names compare without regard to case).
  virtual void SetName(const std::string& newName);
  std::intptr_t Tag() const { return tag_; }
  void SetTag(std::intptr_t tag) { tag_ = tag; }

  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Components(int index) const;
  TComponent* FindComponent(std::string_view name) const;
  int ComponentIndex() const;

  void InsertComponent(TComponent* component);
  void RemoveComponent(TComponent* component);
  // Frees the owned components, the most recently inserted first.
  void DestroyComponents();

  TComponentState ComponentState() const { return state_; }
  bool HasState(TComponentStateFlag flag) const { return (state_ & flag) != 0; }
  // Sets or clears the design flag on this component and everything it owns.
  void SetDesigning(bool designing);
  void SetComponentState(TComponentState state) { state_ = state; }
  void IncludeState(TComponentStateFlag flag) { state_ |= flag; }
  void ExcludeState(TComponentStateFlag flag) { state_ &= ~flag; }

  // Asks `component` to tell this one (through Notification) when it is freed.
  void FreeNotification(TComponent* component);
  void RemoveFreeNotification(TComponent* component);

  // Streaming hooks. The reader calls ReadState on the component it fills and
  // Loaded on every component it created or filled, once the whole form is read.
  virtual void Loaded();
  virtual void ReadState(TReader& reader);
  virtual void WriteState(TWriter& writer);

  // Parent links for nested components of stored data (menu items, controls).
  virtual bool HasParent() const { return false; }
  virtual TComponent* GetParentComponent() const { return nullptr; }
  virtual void SetParentComponent(TComponent* parent);
  // The components the writer nests inside this one, in order. The default
  // lists, for a root, the owned components that have no parent.
  virtual void GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) const;

protected:
  // Told when a component this one owns or watches is inserted or removed.
  virtual void Notification(TComponent* component, TOperation operation);
  void ValidateRename(TComponent* component, std::string_view currentName,
                      std::string_view newName) const;

private:
  void notifyAll(TComponent* component, TOperation operation);

  TComponent* owner_ = nullptr;
  std::string name_;
  std::intptr_t tag_ = 0;
  TComponentState state_ = 0;
  std::vector<TComponent*> components_;
  std::vector<TComponent*> freeNotifies_;
};

// True when `name` is a valid component identifier (letter or underscore, then
// letters, digits and underscores).
bool IsValidIdent(std::string_view name);

// The lock the toolkit holds while it builds forms and data modules from stored
// data. Re-entrant: building a form may create another.
std::recursive_mutex& GlobalNameSpace();

} // namespace keltk
