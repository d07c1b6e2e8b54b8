// This copy's registry of live managers and plug-ins. A log accepts an entry only
// from an origin found here, so an origin token is turned back into an object
// without ever reading memory at an address that is not a live framework object.
#pragma once

#include <keltk/Component.h>

namespace kelvarin {

enum class OriginKind { None, Manager, Plugin };

struct LiveOrigin {
  keltk::TComponent* object = nullptr;
  OriginKind kind = OriginKind::None;
};

// Managers and plug-ins register themselves while they exist.
void RegisterOrigin(keltk::TComponent* object, OriginKind kind);
void UnregisterOrigin(const keltk::TComponent* object);

// The live manager or plug-in at `address`, compared as an address only.
LiveOrigin FindLiveOrigin(const void* address);
inline bool IsLiveManager(const void* address) {
  return FindLiveOrigin(address).kind == OriginKind::Manager;
}
// A live manager of this copy whose class is TulmKelMan itself (not a descendant).
bool IsGenuineManagerOfThisCopy(const void* address) noexcept;

} // namespace kelvarin

namespace kelvarin {

// Keeps `object` registered for as long as this member lives.
class OriginRegistration {
public:
  OriginRegistration(keltk::TComponent* object, OriginKind kind) : object_(object) {
    RegisterOrigin(object, kind);
  }
  ~OriginRegistration() { UnregisterOrigin(object_); }
  OriginRegistration(const OriginRegistration&) = delete;
  OriginRegistration& operator=(const OriginRegistration&) = delete;

private:
  keltk::TComponent* object_;
};

} // namespace kelvarin
