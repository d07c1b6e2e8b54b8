// Small value types the framework shares: one-byte sets of enumerations, the
// manager's enumerations and the origin token through which framework code
// identifies itself to a log.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <type_traits>

namespace kelvarin {

// A set of members of an enumeration with at most eight values: bit n stands for
// the member with ordinal n, and the whole set is one byte. An ordinal beyond 7
// has no bit: in a constant expression it does not compile, at run time it is
// never a member (including it changes nothing).
template <class E> class TSet {
public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> members) {
    for (E m : members)
      include(m);
  }
  // The bit mask as stored form data and property accessors see it.
  constexpr explicit TSet(std::int64_t bits) : bits_(static_cast<std::uint8_t>(bits)) {}
  constexpr explicit operator std::int64_t() const { return bits_; }

  constexpr bool contains(E member) const { return (bits_ & mask(member)) != 0; }
  constexpr bool empty() const { return bits_ == 0; }
  constexpr std::uint8_t bits() const { return bits_; }
  constexpr TSet& include(E member) {
    bits_ = static_cast<std::uint8_t>(bits_ | mask(member));
    return *this;
  }
  constexpr TSet& exclude(E member) {
    bits_ = static_cast<std::uint8_t>(bits_ & ~mask(member));
    return *this;
  }
  friend constexpr bool operator==(TSet, TSet) = default;

private:
  static constexpr unsigned kBits = 8;
  // The member's bit, or no bit at all for an ordinal the byte has no room for.
  static constexpr unsigned mask(E member) {
    const auto ordinal = static_cast<unsigned>(member);
    if (ordinal < kBits) return 1u << ordinal;
    if (std::is_constant_evaluated()) throw "TSet: an enumeration of more than eight values";
    return 0;
  }
  std::uint8_t bits_ = 0;
};

enum TLoadOption : std::uint8_t { loBreakLoopOnError };
using TLoadOptionsSet = TSet<TLoadOption>;

// Manager settings whose changes are told to the host's and the plug-ins'
// OnPropertyModified handlers. pmPluginsTopLevelMenu is declared only: that
// property is a plain field, so no change of it is ever told.
enum TPropToMonitor : std::uint8_t {
  pmLoadOptions,
  pmPluginExtension,
  pmPluginFolder,
  pmItemsToLog,
  pmPluginsTopLevelMenu,
};
using TPropsToMonitorSet = TSet<TPropToMonitor>;

static_assert(sizeof(TLoadOptionsSet) == 1 && sizeof(TPropsToMonitorSet) == 1);

// The origin token: an object's address plus a fixed constant, wrapping at the
// pointer width. A log turns it back into the object only after checking that the
// object is a live manager or plug-in, so a stray token is never dereferenced.
using TOriginToken = std::uintptr_t;
inline constexpr TOriginToken kOriginSeal = 0x3C6E2B91u;

inline TOriginToken SealOrigin(const void* object) {
  return object == nullptr ? 0 : reinterpret_cast<TOriginToken>(object) + kOriginSeal;
}
inline const void* UnsealOrigin(TOriginToken token) {
  return token == 0 ? nullptr : reinterpret_cast<const void*>(token - kOriginSeal);
}

} // namespace kelvarin
