// Published properties and methods: what the form reader and writer see of a class.
//
// A class describes itself once, in its StaticClass(), with a ClassBuilder. Each
// property call answers the PropTweaks of that property, so give the builder a
// name and add one property per statement:
//
// check: cpp
//   #include <keltk/Component.h>
//
//   class TCounter : public keltk::TComponent {
//   public:
//     using TComponent::TComponent;
//     static const keltk::TClassInfo& StaticClass();
//     const keltk::TClassInfo& ClassType() const override { return StaticClass(); }
//     const std::string& Caption() const { return caption_; }
//     void SetCaption(const std::string& caption) { caption_ = caption; }
//     std::int32_t Step = 1;
//
//   private:
//     std::string caption_;
//   };
//
//   const keltk::TClassInfo& TCounter::StaticClass() {
//     static keltk::TClassInfo info(
//         "TCounter", &keltk::TComponent::StaticClass(), [](keltk::TClassInfo& i) {
//           keltk::ClassBuilder<TCounter> b(i);
//           b.componentFactory();
//           b.string("Caption", &TCounter::Caption, &TCounter::SetCaption);
//           b.integer("Step", &TCounter::Step).defaultValue(1);
//         });
//     return info;
//   }
//
// Getters and setters may be member functions, data members (one pointer serves
// both), or callables taking the object.
#pragma once

#include "keltk/Event.h"
#include "keltk/Object.h"

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

namespace keltk {

enum class PropKind {
  Integer,   // whole number; may carry identifiers (colours, character sets)
  Boolean,   // True / False
  Enum,      // identifier of an enumeration
  Set,       // [a, b] of an enumeration; bit n is the value with ordinal n
  String,    // quoted text
  Object,    // owned sub-object: dotted properties, a collection <...>, or nothing
  Component, // reference to a component by name, resolved after the whole form is read
  Method,    // event bound to a published method of the root by name
  Binary,    // {hex}
  Strings,   // ( 'line' 'line' )
};

// Names of an enumeration (ordinal = position), or identifiers for integer values.
struct EnumInfo {
  std::string typeName;
  std::vector<std::pair<std::string, std::int64_t>> values;

  // Enumeration whose ordinals are 0..n-1 in the given order.
  static EnumInfo sequence(std::string typeName, std::vector<std::string> names);

  std::optional<std::int64_t> valueOf(std::string_view name) const; // case-insensitive
  const std::string* nameOf(std::int64_t value) const;
};

struct PropInfo {
  std::string name;
  PropKind kind = PropKind::Integer;
  const EnumInfo* enumInfo = nullptr;        // Enum and Set: the element type; Integer: identifiers
  const std::type_info* signature = nullptr; // Method: the event's signature
  std::optional<std::int64_t> ordinalDefault; // ordinal kinds: not written when equal
  // Ordinal kinds: the values the property's C++ type holds (the reader refuses others).
  std::int64_t minOrdinal = std::numeric_limits<std::int64_t>::min();
  std::int64_t maxOrdinal = std::numeric_limits<std::int64_t>::max();
  // Component: the class a referenced component must belong to (null: any).
  const TClassInfo& (*refClass)() = nullptr;
  std::function<bool(const TObject&)> storedIf; // extra condition; empty = no condition

  std::function<std::int64_t(const TObject&)> getOrdinal;
  std::function<void(TObject&, std::int64_t)> setOrdinal;
  std::function<std::string(const TObject&)> getString;
  std::function<void(TObject&, const std::string&)> setString;
  std::function<TObject*(const TObject&)> getObject;
  std::function<void(TObject&, TObject*)> setObject;
  std::function<MethodRef(const TObject&)> getMethod;
  std::function<void(TObject&, const MethodRef&)> setMethod;
  std::function<std::vector<std::uint8_t>(const TObject&)> getBytes;
  std::function<void(TObject&, std::span<const std::uint8_t>)> setBytes;
  std::function<std::vector<std::string>(const TObject&)> getLines;
  std::function<void(TObject&, const std::vector<std::string>&)> setLines;

  bool isOrdinal() const {
    return kind == PropKind::Integer || kind == PropKind::Boolean || kind == PropKind::Enum ||
           kind == PropKind::Set;
  }
  bool readOnly() const;
  // Whether the writer emits this property for `obj`: ordinals differ from their
  // declared default (or have none), texts, references, events and data are not
  // empty, and `storedIf` agrees.
  bool isStored(const TObject& obj) const;
};

struct MethodInfo {
  std::string name;
  const std::type_info* signature = nullptr;
  CodePointer code = nullptr;
};

namespace detail {

template <class T, class Acc> decltype(auto) readWith(Acc acc, const T& obj) {
  return std::invoke(acc, obj);
}

// The ordinal values a property of type V can hold, as [min, max].
template <class V> constexpr std::pair<std::int64_t, std::int64_t> ordinalRange() {
  using I64 = std::numeric_limits<std::int64_t>;
  if constexpr (std::is_enum_v<V>) {
    return ordinalRange<std::underlying_type_t<V>>();
  } else if constexpr (std::is_same_v<V, bool>) {
    return {0, 1};
  } else if constexpr (std::is_integral_v<V>) {
    using L = std::numeric_limits<V>;
    std::int64_t lo = std::is_signed_v<V> ? static_cast<std::int64_t>(L::min()) : 0;
    std::int64_t hi = static_cast<std::uint64_t>(L::max()) > static_cast<std::uint64_t>(I64::max())
                          ? I64::max()
                          : static_cast<std::int64_t>(L::max());
    return {lo, hi};
  } else {
    return {I64::min(), I64::max()};
  }
}

template <class T, class V, class Get, class Set> void writeWith(Get get, Set set, T& obj, V&& v) {
  if constexpr (std::is_null_pointer_v<Set>) {
    static_assert(std::is_member_object_pointer_v<Get>, "a read-only property needs a setter");
    std::invoke(get, obj) = std::forward<V>(v);
  } else {
    std::invoke(set, obj, std::forward<V>(v));
  }
}

} // namespace detail

// Chained adjustments of the property just added.
class PropTweaks {
public:
  explicit PropTweaks(PropInfo& p) : p_(p) {}
  PropTweaks& defaultValue(std::int64_t v) {
    p_.ordinalDefault = v;
    return *this;
  }
  PropTweaks& storedIf(std::function<bool(const TObject&)> pred) {
    p_.storedIf = std::move(pred);
    return *this;
  }

private:
  PropInfo& p_;
};

template <class T> class ClassBuilder {
public:
  explicit ClassBuilder(TClassInfo& info) : info_(info) {}

  // Lets the form reader create instances of T by class name.
  ClassBuilder& componentFactory() {
    info_.factoryKind = ClassFactoryKind::Component;
    info_.createComponent = [](TComponent* owner) -> TComponent* { return CreateObject<T>(owner); };
    return *this;
  }
  ClassBuilder& itemFactory() {
    info_.factoryKind = ClassFactoryKind::CollectionItem;
    info_.createItem = [](TCollection* collection) -> TObject* {
      return CreateObject<T>(collection);
    };
    return *this;
  }

  template <class Get, class Set = std::nullptr_t>
  PropTweaks integer(std::string name, Get get, Set set = nullptr,
                     const EnumInfo* idents = nullptr) {
    PropInfo& p = add(std::move(name), PropKind::Integer);
    p.enumInfo = idents;
    bindOrdinal(p, get, set);
    return PropTweaks(p);
  }
  template <class Get, class Set = std::nullptr_t>
  PropTweaks boolean(std::string name, Get get, Set set = nullptr) {
    PropInfo& p = add(std::move(name), PropKind::Boolean);
    bindOrdinal(p, get, set);
    return PropTweaks(p);
  }
  template <class Get, class Set = std::nullptr_t>
  PropTweaks enumeration(std::string name, const EnumInfo& type, Get get, Set set = nullptr) {
    PropInfo& p = add(std::move(name), PropKind::Enum);
    p.enumInfo = &type;
    bindOrdinal(p, get, set);
    return PropTweaks(p);
  }
  // The property's value type converts to and from an unsigned bit mask.
  template <class Get, class Set = std::nullptr_t>
  PropTweaks set(std::string name, const EnumInfo& elementType, Get get, Set setter = nullptr) {
    PropInfo& p = add(std::move(name), PropKind::Set);
    p.enumInfo = &elementType;
    bindOrdinal(p, get, setter);
    return PropTweaks(p);
  }
  template <class Get, class Set = std::nullptr_t>
  PropTweaks string(std::string name, Get get, Set set = nullptr) {
    PropInfo& p = add(std::move(name), PropKind::String);
    p.getString = [get](const TObject& o) {
      return std::string(detail::readWith(get, static_cast<const T&>(o)));
    };
    p.setString = [get, set](TObject& o, const std::string& v) {
      detail::writeWith(get, set, static_cast<T&>(o), v);
    };
    return PropTweaks(p);
  }
  // An owned sub-object (persistent settings, a collection, a bitmap, a string list).
  template <class Get> PropTweaks object(std::string name, Get get) {
    PropInfo& p = add(std::move(name), PropKind::Object);
    p.getObject = [get](const TObject& o) -> TObject* {
      auto& self = const_cast<T&>(static_cast<const T&>(o));
      return static_cast<TObject*>(std::invoke(get, self));
    };
    return PropTweaks(p);
  }
  template <class Get, class Set = std::nullptr_t>
  PropTweaks component(std::string name, Get get, Set set = nullptr) {
    PropInfo& p = add(std::move(name), PropKind::Component);
    p.getObject = [get](const TObject& o) -> TObject* {
      return static_cast<TObject*>(detail::readWith(get, static_cast<const T&>(o)));
    };
    using Ref = std::remove_cvref_t<decltype(detail::readWith(get, std::declval<const T&>()))>;
    p.setObject = [get, set](TObject& o, TObject* v) {
      detail::writeWith(get, set, static_cast<T&>(o), static_cast<Ref>(v));
    };
    p.refClass = &std::remove_cvref_t<std::remove_pointer_t<Ref>>::StaticClass;
    return PropTweaks(p);
  }
  template <class Get, class Set = std::nullptr_t>
  PropTweaks event(std::string name, Get get, Set set = nullptr) {
    using E = std::remove_cvref_t<decltype(detail::readWith(get, std::declval<const T&>()))>;
    PropInfo& p = add(std::move(name), PropKind::Method);
    p.signature = &signatureOf<typename E::Signature>();
    p.getMethod = [get](const TObject& o) {
      return detail::readWith(get, static_cast<const T&>(o)).toRef();
    };
    p.setMethod = [get, set](TObject& o, const MethodRef& ref) {
      detail::writeWith(get, set, static_cast<T&>(o), E::fromRef(ref));
    };
    return PropTweaks(p);
  }
  template <class Get, class Set> PropTweaks binary(std::string name, Get get, Set set) {
    PropInfo& p = add(std::move(name), PropKind::Binary);
    p.getBytes = [get](const TObject& o) {
      return std::vector<std::uint8_t>(detail::readWith(get, static_cast<const T&>(o)));
    };
    p.setBytes = [set](TObject& o, std::span<const std::uint8_t> v) {
      std::invoke(set, static_cast<T&>(o), v);
    };
    return PropTweaks(p);
  }
  template <class Get, class Set> PropTweaks lines(std::string name, Get get, Set set) {
    PropInfo& p = add(std::move(name), PropKind::Strings);
    p.getLines = [get](const TObject& o) {
      return std::vector<std::string>(detail::readWith(get, static_cast<const T&>(o)));
    };
    p.setLines = [set](TObject& o, const std::vector<std::string>& v) {
      std::invoke(set, static_cast<T&>(o), v);
    };
    return PropTweaks(p);
  }

  // A published method that stored data can bind to an event by name.
  template <auto Method> ClassBuilder& method(std::string name) {
    using Sig = typename detail::MemberTraits<decltype(Method)>::Signature;
    info_.methods.push_back(
        MethodInfo{std::move(name), &signatureOf<Sig>(),
                   reinterpret_cast<CodePointer>(Event<Sig>::template thunkOf<Method>())});
    return *this;
  }

private:
  PropInfo& add(std::string name, PropKind kind) {
    auto p = std::make_unique<PropInfo>();
    p->name = std::move(name);
    p->kind = kind;
    info_.props.push_back(std::move(p));
    return *info_.props.back();
  }

  template <class Get, class Set> static void bindOrdinal(PropInfo& p, Get get, Set set) {
    using V = std::remove_cvref_t<decltype(detail::readWith(get, std::declval<const T&>()))>;
    std::tie(p.minOrdinal, p.maxOrdinal) = detail::ordinalRange<V>();
    p.getOrdinal = [get](const TObject& o) {
      return static_cast<std::int64_t>(detail::readWith(get, static_cast<const T&>(o)));
    };
    p.setOrdinal = [get, set](TObject& o, std::int64_t v) {
      detail::writeWith(get, set, static_cast<T&>(o), static_cast<V>(v));
    };
  }

  TClassInfo& info_;
};

} // namespace keltk
