// The root of the toolkit's class hierarchy and its run-time class information.
//
// Every toolkit class carries a TClassInfo: its name, its parent, an optional
// factory and its published properties and methods. Class tests go by name, so
// they also hold between objects made by two copies of the toolkit (a host that
// links it statically and a plug-in that uses the shared runtime module).
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace keltk {

class TObject;
class TComponent;
class TCollection;
struct PropInfo;
struct MethodInfo;

// How a class with a factory is instantiated by the form reader.
enum class ClassFactoryKind { None, Component, CollectionItem };

struct TClassInfo {
  std::string name;
  const TClassInfo* parent = nullptr;
  ClassFactoryKind factoryKind = ClassFactoryKind::None;
  TComponent* (*createComponent)(TComponent* owner) = nullptr;
  TObject* (*createItem)(TCollection* collection) = nullptr;
  // Own published members, in declaration order (ancestors' are reached through `parent`).
  std::vector<std::unique_ptr<PropInfo>> props;
  std::vector<MethodInfo> methods;

  // `describe` fills in the factory, properties and methods, usually with a
  // ClassBuilder (keltk/PropInfo.h shows a whole class).
  TClassInfo(std::string className, const TClassInfo* parentClass,
             void (*describe)(TClassInfo&) = nullptr);
  ~TClassInfo();
  TClassInfo(const TClassInfo&) = delete;
  TClassInfo& operator=(const TClassInfo&) = delete;

  // True when this class is `className` or descends from a class of that name.
  bool inheritsFrom(std::string_view className) const;
  bool inheritsFrom(const TClassInfo& other) const { return inheritsFrom(other.name); }

  // Published property by name (case-insensitive), searched from this class up.
  const PropInfo* findProperty(std::string_view propName) const;
  // Published method by exact name, searched from this class up.
  const MethodInfo* findMethod(std::string_view methodName) const;
  // Every published property, ancestors' first, in declaration order.
  std::vector<const PropInfo*> allProperties() const;

  // The module (shared object or executable) whose code defines this class.
  const void* moduleBase() const;

private:
  struct Index;
  mutable std::unique_ptr<Index> index_;
  const Index& index() const;
};

class TObject {
public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject();

  static const TClassInfo& StaticClass();
  virtual const TClassInfo& ClassType() const { return StaticClass(); }

  // Runs once the most derived constructor has finished (see CreateObject), so it
  // may use virtual functions and the derived class's members, e.g. to read the
  // class's stored form data.
  virtual void AfterConstruction() {}
  // Runs before the destructors, while the whole object is still intact (see
  // FreeObject), e.g. to fire a destroy event handled by a derived class.
  virtual void BeforeDestruction() {}

  const std::string& ClassName() const { return ClassType().name; }
  bool InheritsFrom(std::string_view className) const {
    return ClassType().inheritsFrom(className);
  }
};

// Two-phase construction: the constructor, then AfterConstruction. When
// AfterConstruction throws, the object is destroyed and the exception goes on.
// Where the module (program or shared library) that holds `address` is loaded,
// or null: the identity of that module while it stays loaded.
const void* ModuleBaseOf(const void* address);

template <class T, class... Args> T* CreateObject(Args&&... args) {
  std::unique_ptr<T> obj(new T(std::forward<Args>(args)...));
  obj->AfterConstruction();
  return obj.release();
}

// Counterpart of CreateObject: BeforeDestruction, then delete. Null is ignored.
void FreeObject(TObject* obj);

// Deleter for owning smart pointers of toolkit objects.
struct ObjectDeleter {
  void operator()(TObject* obj) const { FreeObject(obj); }
};
template <class T> using ObjectPtr = std::unique_ptr<T, ObjectDeleter>;

// Class test by name, valid across toolkit copies. Prefer it to dynamic_cast for
// objects that may come from another module.
template <class T> T* ObjectAs(TObject* obj) {
  if (obj == nullptr || !obj->InheritsFrom(T::StaticClass().name)) return nullptr;
  return static_cast<T*>(obj);
}
template <class T> const T* ObjectAs(const TObject* obj) {
  if (obj == nullptr || !obj->InheritsFrom(T::StaticClass().name)) return nullptr;
  return static_cast<const T*>(obj);
}

// Classes the form reader may instantiate by name. Each toolkit copy keeps its own registry.
void RegisterClass(const TClassInfo& info);
void UnregisterClass(const TClassInfo& info);
const TClassInfo* FindClass(std::string_view className);

// Keeps T registered while the module that declares it is loaded, in the
// registry of the toolkit copy that module uses: a static object of the module,
// so that unmapping the module also takes the class out of the registry. A
// plug-in module declares one for each window form class it creates (T's
// ClassBuilder needs componentFactory()), which also lets `kelforms check` read
// that form at build time:
//   const keltk::ClassRegistrar<TMyForm> registerMyForm;
template <class T> class ClassRegistrar {
public:
  ClassRegistrar() { RegisterClass(T::StaticClass()); }
  ~ClassRegistrar() { UnregisterClass(T::StaticClass()); }
  ClassRegistrar(const ClassRegistrar&) = delete;
  ClassRegistrar& operator=(const ClassRegistrar&) = delete;
};

} // namespace keltk
