// GetPluginInfo's answer and the search for a genuine manager in every framework
// copy of the process. Each copy carries an ELF note ("Kelvarin", see Origin.cpp)
// leading to its registry's query; the loaded objects' notes are read through
// dl_iterate_phdr, so no copy needs to export anything for it.
#include "Origin.h"
#include "kelvarin/Framework.h"
#include "kelvarin/PluginModule.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <link.h>
#include <mutex>
#include <vector>

// This copy's own query (Origin.cpp), which needs no asking across the boundary.
extern "C" [[gnu::visibility("hidden")]] int
kelvarin_genuine_manager_query_v1(std::uintptr_t address) noexcept;

namespace kelvarin {

namespace {

using QueryFunc = int (*)(std::uintptr_t address) noexcept;

constexpr char kNoteName[] = "Kelvarin"; // with its terminating zero: 9 bytes
constexpr std::uint32_t kNoteType = 0x4B454C31;
constexpr std::uint32_t kNoteLayout = 1;

// A copy found at a scan: the object that carries it, and its query.
struct Copy {
  ElfW(Addr) base;
  const ElfW(Phdr) * headers;
  QueryFunc query;
};

// The copies found at the last scan, and the loader's counters of objects added
// and removed at that time. A removed object's query is gone with it, so after
// any change only queries read again from objects loaded now are asked.
struct CopyCache {
  std::mutex lock;
  std::vector<Copy> copies;
  unsigned long long adds = 0;
  unsigned long long subs = 0;
  bool scanned = false;
  bool complete = false; // every object was read, not only those of known copies
};

std::size_t alignUp(std::size_t n, std::size_t a) {
  return (n + a - 1) / a * a;
}

// Adds the other copies named by the notes of one PT_NOTE segment of `object`;
// this copy answers for itself.
void readNotes(const dl_phdr_info& object, const unsigned char* notes, std::size_t size,
               std::size_t align, std::vector<Copy>& out) {
  align = align == 8 ? 8 : 4;
  std::size_t at = 0;
  while (size - at >= 12) {
    std::uint32_t header[3];
    std::memcpy(header, notes + at, sizeof header);
    const std::size_t nameAt = at + 12;
    const std::size_t descAt = nameAt + alignUp(header[0], align);
    const std::size_t next = descAt + alignUp(header[1], align);
    if (descAt > size || next > size || next <= at) return; // not a well-formed note
    if (header[0] == sizeof kNoteName && header[2] == kNoteType && header[1] >= 16 &&
        std::memcmp(notes + nameAt, kNoteName, sizeof kNoteName) == 0) {
      std::uint32_t layout = 0;
      std::int64_t distance = 0;
      std::memcpy(&layout, notes + descAt, sizeof layout);
      std::memcpy(&distance, notes + descAt + 8, sizeof distance);
      const auto field = reinterpret_cast<std::uintptr_t>(notes + descAt + 8);
      const auto query = reinterpret_cast<QueryFunc>(field + static_cast<std::uintptr_t>(distance));
      if (layout == kNoteLayout && query != &kelvarin_genuine_manager_query_v1)
        out.push_back({object.dlpi_addr, object.dlpi_phdr, query});
    }
    at = next;
  }
}

void readObject(const dl_phdr_info& object, std::vector<Copy>& out) {
  for (ElfW(Half) i = 0; i < object.dlpi_phnum; ++i) {
    const ElfW(Phdr)& ph = object.dlpi_phdr[i];
    if (ph.p_type != PT_NOTE) continue;
    readNotes(object, reinterpret_cast<const unsigned char*>(object.dlpi_addr + ph.p_vaddr),
              ph.p_memsz, ph.p_align, out);
  }
}

// What a walk of the loaded objects reads: nothing when the objects are those of
// the last walk; the objects that carried a copy then (another object may sit
// where one was, so their notes are read anew); or every object.
enum class ScanMode { Counters, Known, All };

struct ScanState {
  CopyCache* cache;
  bool everyObject; // read every object, whatever the counters say
  ScanMode mode = ScanMode::Counters;
  std::size_t knownLeft = 0; // known copies not met yet
  std::vector<Copy> found;
};

// Whether the loader's counters of added and removed objects come with `info`.
bool countersCome(std::size_t size) {
  return size >= offsetof(dl_phdr_info, dlpi_subs) + sizeof(dl_phdr_info::dlpi_subs);
}

// The counters come with every object; the first one decides the walk.
ScanMode modeFor(const ScanState& state, const dl_phdr_info& first, std::size_t size) {
  const CopyCache& c = *state.cache;
  if (state.everyObject || !c.scanned) return ScanMode::All;
  if (countersCome(size) && first.dlpi_adds == c.adds && first.dlpi_subs == c.subs)
    return ScanMode::Counters;
  return c.copies.empty() ? ScanMode::All : ScanMode::Known;
}

int visitObject(dl_phdr_info* info, std::size_t size, void* data) {
  auto* state = static_cast<ScanState*>(data);
  CopyCache& c = *state->cache;
  if (state->mode == ScanMode::Counters) {
    state->mode = modeFor(*state, *info, size);
    if (state->mode == ScanMode::Counters) return 1;
    state->knownLeft = c.copies.size();
    c.adds = countersCome(size) ? info->dlpi_adds : 0;
    c.subs = countersCome(size) ? info->dlpi_subs : 0;
  }
  if (state->mode == ScanMode::All) {
    readObject(*info, state->found);
    return 0;
  }
  const auto known = static_cast<std::size_t>(
      std::count_if(c.copies.begin(), c.copies.end(), [&](const Copy& copy) {
        return copy.base == info->dlpi_addr && copy.headers == info->dlpi_phdr;
      }));
  if (known == 0) return 0;
  readObject(*info, state->found);
  state->knownLeft -= std::min(known, state->knownLeft);
  return state->knownLeft == 0 ? 1 : 0;
}

// Brings the cache up to the objects loaded now; `everyObject` reads them all.
void refresh(CopyCache& c, bool everyObject) {
  ScanState state{&c, everyObject, ScanMode::Counters, 0, {}};
  dl_iterate_phdr(visitObject, &state);
  if (state.mode == ScanMode::Counters) return;
  c.copies = std::move(state.found);
  c.scanned = true;
  c.complete = state.mode == ScanMode::All;
}

bool anyCopyAnswers(const CopyCache& c, std::uintptr_t target) {
  return std::any_of(c.copies.begin(), c.copies.end(),
                     [&](const Copy& copy) { return copy.query(target) != 0; });
}

// Whether another framework copy of the process made the manager at `target`.
// Loads and unloads change the objects between calls, but the copy that made a
// manager stays: the known copies are asked first, and every object is read only
// when none of them says yes.
bool otherCopyVouches(std::uintptr_t target) {
  // Destroyed with this copy: a library copy is unloaded with its last user.
  static CopyCache c;
  const std::lock_guard lock(c.lock);
  refresh(c, false);
  if (anyCopyAnswers(c, target)) return true;
  if (c.complete) return false;
  refresh(c, true);
  return anyCopyAnswers(c, target);
}

} // namespace

std::string VersionRecord(std::string_view version) {
  if (version.empty()) version = kFrameworkVersion;
  return std::string("ProdVersion=").append(version).append("\r\n");
}

bool IsGenuineManager(const void* address) noexcept {
  if (address == nullptr) return false;
  if (IsGenuineManagerOfThisCopy(address)) return true;
  try {
    return otherCopyVouches(reinterpret_cast<std::uintptr_t>(address));
  } catch (...) {
    return false;
  }
}

std::string PluginInfoFor(TOriginToken token, std::string_view version) noexcept {
  try {
    if (IsGenuineManager(UnsealOrigin(token))) return VersionRecord(version);
  } catch (...) {
  }
  return {};
}

int AnswerPluginInfo(char* info, int capacity, std::uint64_t token,
                     std::string_view builtWith) noexcept {
  if (info != nullptr && capacity > 0) info[0] = '\0';
  const std::string answer = PluginInfoFor(static_cast<TOriginToken>(token), builtWith);
  if (info != nullptr && capacity > 0) {
    const std::size_t n = std::min(answer.size(), static_cast<std::size_t>(capacity) - 1);
    std::memcpy(info, answer.data(), n);
    info[n] = '\0';
  }
  return static_cast<int>(answer.size());
}

} // namespace kelvarin
