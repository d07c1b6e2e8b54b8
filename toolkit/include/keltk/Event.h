// Events are method references: the object a handler is bound to plus a code
// pointer. Two references to the same method compare equal by their code alone,
// whatever object they are bound to.
#pragma once

#include <type_traits>
#include <typeinfo>
#include <utility>

namespace keltk {

class TObject;

using CodePointer = void (*)();

// Type-erased method reference, as stored data and published methods see it.
struct MethodRef {
  TObject* data = nullptr;
  CodePointer code = nullptr;

  explicit operator bool() const { return code != nullptr; }
  bool sameCode(const MethodRef& other) const { return code == other.code; }
  friend bool operator==(const MethodRef&, const MethodRef&) = default;
};

namespace detail {
template <class M> struct MemberTraits;
template <class C, class R, class... A> struct MemberTraits<R (C::*)(A...)> {
  using Class = C;
  using Signature = R(A...);
};
template <class C, class R, class... A> struct MemberTraits<R (C::*)(A...) const> {
  using Class = const C;
  using Signature = R(A...);
};
} // namespace detail

template <class Sig> class Event;

template <class R, class... A> class Event<R(A...)> {
public:
  using Signature = R(A...);
  using Thunk = R (*)(TObject*, A...);

  Event() = default;
  Event(TObject* data, Thunk code) : data_(data), code_(code) {}

  // Binds a member function of `obj`; the thunk is one function per method, so
  // its address identifies the method.
  template <auto Method, class C> static Event bind(C* obj) {
    return Event(static_cast<TObject*>(const_cast<std::remove_const_t<C>*>(obj)), &thunk<Method>);
  }

  template <auto Method> static Thunk thunkOf() { return &thunk<Method>; }

  explicit operator bool() const { return code_ != nullptr; }
  R operator()(A... args) const { return code_(data_, std::forward<A>(args)...); }

  TObject* data() const { return data_; }
  Thunk code() const { return code_; }
  bool sameCode(const Event& other) const { return code_ == other.code_; }
  friend bool operator==(const Event&, const Event&) = default;

  MethodRef toRef() const { return {data_, reinterpret_cast<CodePointer>(code_)}; }
  static Event fromRef(const MethodRef& ref) {
    return Event(ref.data, reinterpret_cast<Thunk>(ref.code));
  }

private:
  template <auto Method> static R thunk(TObject* self, A... args) {
    using Class = typename detail::MemberTraits<decltype(Method)>::Class;
    return (static_cast<Class*>(self)->*Method)(std::forward<A>(args)...);
  }

  TObject* data_ = nullptr;
  Thunk code_ = nullptr;
};

// The signature identity used to check that a published method fits an event.
template <class Sig> const std::type_info& signatureOf() {
  return typeid(Sig*);
}

} // namespace keltk
