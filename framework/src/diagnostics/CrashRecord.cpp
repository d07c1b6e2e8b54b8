#include "CrashRecord.h"

#include "DumpFile.h"
#include "ModuleLoader.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <execinfo.h>
#include <keltk/SysUtils.h>
#include <link.h>
#include <mutex>
#include <span>

namespace kelvarin {

namespace {

std::array<std::atomic<TLog*>, kMostCrashLogs> liveLogs{};
CrashPreparation preparation;
std::atomic<bool> prepared{false};

// The modules the manager loaded, filled while loading and read by the handler:
// a slot is published by storing its handle last.
struct KnownModule {
  std::atomic<void*> handle{nullptr};
  int uses = 0;
  std::uintptr_t base = 0; // what the module's own addresses are offsets from
  std::uintptr_t begin = 0;
  std::uintptr_t end = 0;
  char name[256] = {};
  std::size_t nameSize = 0;
};
std::array<KnownModule, 256> knownModules;
// Slots at and past this one were never used: the walks stop there, so that a
// load does not touch every slot's line.
std::atomic<std::size_t> knownModulesUsed{0};
std::mutex knownModulesLock;

std::span<KnownModule> usedKnownModules() noexcept {
  return std::span(knownModules).first(knownModulesUsed.load(std::memory_order_acquire));
}

KnownModule* knownModuleOf(void* module) {
  for (KnownModule& known : usedKnownModules())
    if (known.handle.load(std::memory_order_relaxed) == module) return &known;
  return nullptr;
}

// A free slot: one given up earlier, else the first never used.
KnownModule* freeKnownModule() {
  if (KnownModule* known = knownModuleOf(nullptr)) return known;
  const std::size_t used = knownModulesUsed.load(std::memory_order_relaxed);
  if (used == knownModules.size()) return nullptr;
  // Published with its handle still empty, which the handler skips.
  knownModulesUsed.store(used + 1, std::memory_order_release);
  return &knownModules[used];
}

} // namespace

void PrepareForCrash() {
  // The unwinder's first use loads it, which a signal handler may not do.
  void* warm[1];
  (void)::backtrace(warm, 1);
  preparation.header = DumpHeaderText();
  preparation.fallbackFile = FallbackDumpFileName();
  const std::string& file = preparation.fallbackFile;
  if (!file.empty()) {
    preparation.fallbackFolder = file.substr(0, file.rfind('/'));
    // The handler can create one folder without allocating, not a chain of them:
    // the ones above the log's own are made now.
    MakeFolders(preparation.fallbackFolder.substr(0, preparation.fallbackFolder.rfind('/')));
  }
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  preparation.utcOffset = local.tm_gmtoff;
  preparation.dateSeparator = keltk::FormatSettings().DateSeparator;
  preparation.timeSeparator = keltk::FormatSettings().TimeSeparator;
  prepared.store(true, std::memory_order_release);
}

const std::array<std::atomic<TLog*>, kMostCrashLogs>& LogsForCrash() noexcept {
  return liveLogs;
}

std::optional<CodePlace> KnownModulePlaceOf(std::uintptr_t address) noexcept {
  for (const KnownModule& known : usedKnownModules()) {
    if (known.handle.load(std::memory_order_acquire) == nullptr || address < known.begin ||
        address >= known.end)
      continue;
    return CodePlace{std::string_view(known.name, known.nameSize), address - known.base};
  }
  return std::nullopt;
}

const CrashPreparation* PreparedForCrash() {
  return prepared.load(std::memory_order_acquire) ? &preparation : nullptr;
}

void RegisterLogForCrash(TLog* log) noexcept {
  for (auto& slot : liveLogs) {
    TLog* expected = nullptr;
    if (slot.compare_exchange_strong(expected, log)) return;
  }
}

void UnregisterLogForCrash(TLog* log) noexcept {
  for (auto& slot : liveLogs) {
    TLog* expected = log;
    if (slot.compare_exchange_strong(expected, nullptr)) return;
  }
}

void NoteModuleForCrash(void* module, std::string_view fileName) noexcept {
  const link_map* map = LinkMapOf(module);
  if (map == nullptr) return;
  const std::lock_guard lock(knownModulesLock);
  if (KnownModule* known = knownModuleOf(module)) {
    ++known->uses;
    return;
  }
  KnownModule* slot = freeKnownModule();
  if (slot == nullptr) return; // the handler then finds it in the process's mappings
  const ModuleSpan span = SpanOfModule(module);
  slot->uses = 1;
  slot->base = static_cast<std::uintptr_t>(map->l_addr);
  slot->begin = reinterpret_cast<std::uintptr_t>(span.begin);
  slot->end = reinterpret_cast<std::uintptr_t>(span.end);
  slot->nameSize = std::min(fileName.size(), sizeof slot->name);
  std::memcpy(slot->name, fileName.data(), slot->nameSize);
  slot->handle.store(module, std::memory_order_release);
}

void ForgetModuleForCrash(void* module) noexcept {
  const std::lock_guard lock(knownModulesLock);
  KnownModule* known = module == nullptr ? nullptr : knownModuleOf(module);
  if (known == nullptr || --known->uses > 0) return;
  known->handle.store(nullptr, std::memory_order_release);
}

void CrashStamp(const CrashPreparation& p, char* out) noexcept {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  const long long local = static_cast<long long>(now.tv_sec) + p.utcOffset;
  long long days = local / 86400;
  long long secs = local % 86400;
  if (secs < 0) {
    secs += 86400;
    --days;
  }
  // Civil date from days since 1970-01-01.
  days += 719468;
  const long long era = (days >= 0 ? days : days - 146096) / 146097;
  const long long doe = days - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  const long long day = doy - (153 * mp + 2) / 5 + 1;
  const long long month = mp < 10 ? mp + 3 : mp - 9;
  const long long year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  auto put = [&out](long long value, int width) {
    for (int i = width - 1; i >= 0; --i, value /= 10)
      out[i] = static_cast<char>('0' + value % 10);
    out += width;
  };
  put(year, 4);
  *out++ = p.dateSeparator;
  put(month, 2);
  *out++ = p.dateSeparator;
  put(day, 2);
  *out++ = ' ';
  put(secs / 3600, 2);
  *out++ = p.timeSeparator;
  put(secs / 60 % 60, 2);
  *out++ = p.timeSeparator;
  put(secs % 60, 2);
  *out++ = '.';
  put(now.tv_nsec / 1000000, 3);
}

} // namespace kelvarin
