#include "Origin.h"

#include <cstdint>
#include <unordered_map>

namespace kelvarin {

namespace {

struct Registry {
  // Keyed by address; lookups never read the object behind a key that is not here.
  std::unordered_map<const void*, LiveOrigin> origins;
  Registry() { alive = true; }
  ~Registry() { alive = false; }
  // False once this copy's statics are gone (at exit, or while its module is being
  // unloaded), when another copy may still ask.
  static inline constinit bool alive = false;
};

Registry& registry() {
  static Registry r;
  return r;
}

} // namespace

void RegisterOrigin(keltk::TComponent* object, OriginKind kind) {
  if (object == nullptr || kind == OriginKind::None) return;
  registry().origins[object] = LiveOrigin{object, kind};
}

void UnregisterOrigin(const keltk::TComponent* object) {
  if (!Registry::alive) return;
  registry().origins.erase(object);
}

LiveOrigin FindLiveOrigin(const void* address) {
  if (address == nullptr || !Registry::alive) return {};
  const auto& origins = registry().origins;
  const auto it = origins.find(address);
  return it == origins.end() ? LiveOrigin{} : it->second;
}

bool IsGenuineManagerOfThisCopy(const void* address) noexcept {
  try {
    const LiveOrigin who = FindLiveOrigin(address);
    // The manager's own class only: a descendant is no genuine manager.
    return who.kind == OriginKind::Manager && who.object->ClassName() == "TulmKelMan";
  } catch (...) {
    return false;
  }
}

} // namespace kelvarin

// Other framework copies in the process find this copy's registry through an ELF
// note: it holds the distance from the note to the query function below, so it
// needs no relocation at load time and the module exports nothing for it. The
// note lives in this file because every copy links it (managers and plug-ins
// register here), also a copy that a program carries inside.
extern "C" [[gnu::visibility("hidden"), gnu::used]] int
kelvarin_genuine_manager_query_v1(std::uintptr_t address) noexcept {
  return kelvarin::IsGenuineManagerOfThisCopy(reinterpret_cast<const void*>(address)) ? 1 : 0;
}

// Name "Kelvarin", type 0x4B454C31 ("KEL1"); descriptor: layout 1, zero, and the
// query's address minus the address of that 64-bit field.
asm(R"(
  .pushsection .note.kelvarin, "a", @note
  .balign 4
  .long 9
  .long 16
  .long 0x4B454C31
  .asciz "Kelvarin"
  .balign 4
  .long 1
  .long 0
  .quad kelvarin_genuine_manager_query_v1 - .
  .popsection
)");
