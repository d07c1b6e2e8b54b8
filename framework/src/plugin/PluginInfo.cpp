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
#include <fmt/format.h>
#include <link.h>
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

// The queries of the copies found at the last scan, and the loader's counters of
// objects added and removed at that time. Only a scan made after the last removal
// may be trusted: a removed object's query is gone with it.
struct CopyCache {
  std::vector<QueryFunc> queries;
  unsigned long long adds = 0;
  unsigned long long subs = 0;
  bool scanned = false;
};

CopyCache& cache() {
  static CopyCache c;
  return c;
}

std::size_t alignUp(std::size_t n, std::size_t a) {
  return (n + a - 1) / a * a;
}

// Adds the queries named by the notes of one PT_NOTE segment.
void readNotes(const unsigned char* notes, std::size_t size, std::size_t align,
               std::vector<QueryFunc>& out) {
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
      if (layout == kNoteLayout) {
        const auto field = reinterpret_cast<std::uintptr_t>(notes + descAt + 8);
        out.push_back(reinterpret_cast<QueryFunc>(field + static_cast<std::uintptr_t>(distance)));
      }
    }
    at = next;
  }
}

struct ScanState {
  CopyCache* cache;
  bool full; // false: only read the counters
  bool changed = false;
  std::vector<QueryFunc> found;
};

int visitObject(dl_phdr_info* info, std::size_t size, void* data) {
  auto* state = static_cast<ScanState*>(data);
  if (!state->full) {
    // The counters come with every object; the first one is enough.
    if (size < offsetof(dl_phdr_info, dlpi_subs) + sizeof info->dlpi_subs) {
      state->changed = true;
    } else {
      state->changed = !state->cache->scanned || info->dlpi_adds != state->cache->adds ||
                       info->dlpi_subs != state->cache->subs;
      state->cache->adds = info->dlpi_adds;
      state->cache->subs = info->dlpi_subs;
    }
    return 1;
  }
  for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& ph = info->dlpi_phdr[i];
    if (ph.p_type != PT_NOTE) continue;
    readNotes(reinterpret_cast<const unsigned char*>(info->dlpi_addr + ph.p_vaddr), ph.p_memsz,
              ph.p_align, state->found);
  }
  return 0;
}

// The queries of every copy loaded now, rescanning only when objects came or went.
const std::vector<QueryFunc>& loadedCopies() {
  CopyCache& c = cache();
  ScanState probe{&c, false, false, {}};
  dl_iterate_phdr(visitObject, &probe);
  if (!probe.changed) return c.queries;
  ScanState scan{&c, true, false, {}};
  dl_iterate_phdr(visitObject, &scan);
  c.queries = std::move(scan.found);
  c.scanned = true;
  return c.queries;
}

} // namespace

std::string VersionRecord(std::string_view version) {
  if (version.empty()) version = kFrameworkVersion;
  return fmt::format("ProdVersion={}\r\n", version);
}

bool IsGenuineManager(const void* address) noexcept {
  if (address == nullptr) return false;
  if (IsGenuineManagerOfThisCopy(address)) return true;
  try {
    const auto target = reinterpret_cast<std::uintptr_t>(address);
    for (QueryFunc query : loadedCopies())
      if (query != &kelvarin_genuine_manager_query_v1 && query(target) != 0) return true;
  } catch (...) {
  }
  return false;
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
