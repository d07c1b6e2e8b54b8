#include "ModuleCheck.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <elf.h>
#include <fmt/format.h>
#include <link.h>
#include <optional>
#include <span>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace kelvarin {

namespace {

using Ehdr = ElfW(Ehdr);
using Phdr = ElfW(Phdr);
using Dyn = ElfW(Dyn);
using Rela = ElfW(Rela);
using Addr = std::uint64_t;

constexpr unsigned char kHostClass = sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;
constexpr unsigned char kHostData =
    std::endian::native == std::endian::little ? ELFDATA2LSB : ELFDATA2MSB;
constexpr std::uint16_t kHostMachine =
#if defined(__x86_64__)
    EM_X86_64;
#elif defined(__aarch64__)
    EM_AARCH64;
#elif defined(__i386__)
    EM_386;
#elif defined(__arm__)
    EM_ARM;
#elif defined(__riscv)
    EM_RISCV;
#elif defined(__powerpc64__)
    EM_PPC64;
#else
    EM_NONE;
#endif
// More entries than any real module has; a larger dynamic section is damaged.
constexpr std::size_t kMostDynamicEntries = 1 << 16;
constexpr std::uint64_t kMostRelocationBytes = std::uint64_t{256} << 20;

std::string machineName(std::uint16_t machine) {
  static constexpr std::pair<std::uint16_t, const char*> names[] = {
      {EM_X86_64, "x86-64"}, {EM_AARCH64, "aarch64"}, {EM_386, "i386"},   {EM_ARM, "arm"},
      {EM_RISCV, "riscv"},   {EM_PPC64, "ppc64"},     {EM_S390, "s390x"}, {EM_MIPS, "mips"}};
  for (const auto& [number, name] : names)
    if (number == machine) return name;
  return fmt::format("machine {}", machine);
}

bool readAt(int fd, void* out, std::size_t size, std::uint64_t offset) {
  auto* bytes = static_cast<char*>(out);
  while (size > 0) {
    const ssize_t n = ::pread(fd, bytes, size, static_cast<off_t>(offset));
    if (n <= 0) return false;
    bytes += n;
    size -= static_cast<std::size_t>(n);
    offset += static_cast<std::uint64_t>(n);
  }
  return true;
}

class Checker {
public:
  Checker(int fd, std::uint64_t fileSize, std::span<const std::uint8_t> head)
      : fd_(fd), fileSize_(fileSize), head_(head) {}
  bool foreign() const { return foreign_; }

  std::string run() {
    if (!readAt(fd_, &header_, sizeof header_, 0)) return {};
    if (std::memcmp(header_.e_ident, ELFMAG, SELFMAG) != 0) return {};
    if (std::string why = identity(); !why.empty()) {
      foreign_ = true;
      return why;
    }
    if (std::string why = segments(); !why.empty()) return why;
    return dynamicSection();
  }

private:
  std::string identity() const {
    const unsigned char elfClass = header_.e_ident[EI_CLASS];
    if (elfClass != kHostClass)
      return fmt::format("a {}-bit module; this host is {}-bit", elfClass == ELFCLASS64 ? 64 : 32,
                         kHostClass == ELFCLASS64 ? 64 : 32);
    if (header_.e_ident[EI_DATA] != kHostData) return "a module of the other byte order";
    if (header_.e_machine != kHostMachine)
      return fmt::format("a module for {}; this host is {}", machineName(header_.e_machine),
                         machineName(kHostMachine));
    if (header_.e_type != ET_DYN) return "not a shared library";
    if (header_.e_phentsize != sizeof(Phdr)) return "unexpected program header size";
    return {};
  }

  std::string segments() {
    const std::uint64_t tableEnd =
        std::uint64_t{header_.e_phoff} + std::uint64_t{header_.e_phnum} * sizeof(Phdr);
    if (tableEnd > fileSize_) return "file too short";
    phdrs_.resize(header_.e_phnum);
    if (!phdrs_.empty() &&
        !readAt(fd_, phdrs_.data(), phdrs_.size() * sizeof(Phdr), header_.e_phoff))
      return "file too short";
    for (const Phdr& s : phdrs_) {
      if (s.p_type != PT_LOAD && s.p_type != PT_DYNAMIC && s.p_type != PT_INTERP) continue;
      const std::uint64_t end = std::uint64_t{s.p_offset} + s.p_filesz;
      if (end < s.p_offset || end > fileSize_)
        return fmt::format("file too short (a segment ends at byte {} of {})", end, fileSize_);
      if (s.p_type == PT_LOAD && (s.p_filesz > s.p_memsz || s.p_vaddr + s.p_memsz < s.p_vaddr))
        return fmt::format("a loadable segment at 0x{:x} has impossible sizes", s.p_vaddr);
    }
    return {};
  }

  // The file-backed loaded segment holding [address, address + size), if one does.
  const Phdr* segmentHolding(Addr address, std::uint64_t size) const {
    for (const Phdr& s : phdrs_) {
      if (s.p_type != PT_LOAD || address < s.p_vaddr) continue;
      const std::uint64_t at = address - s.p_vaddr;
      if (at <= s.p_filesz && size <= s.p_filesz - at) return &s;
    }
    return nullptr;
  }

  std::string dynamicSection() {
    const Phdr* dynamic = nullptr;
    for (const Phdr& s : phdrs_)
      if (s.p_type == PT_DYNAMIC) dynamic = &s;
    if (dynamic == nullptr) return {};
    if (segmentHolding(dynamic->p_vaddr, dynamic->p_filesz) == nullptr)
      return "the dynamic section lies outside the loaded segments";
    const std::size_t count =
        std::min<std::size_t>(dynamic->p_filesz / sizeof(Dyn), kMostDynamicEntries);
    std::vector<Dyn> entries(count);
    if (count > 0 && !readAt(fd_, entries.data(), count * sizeof(Dyn), dynamic->p_offset))
      return "file too short";
    bool ended = false;
    values_.reserve(count);
    for (const Dyn& d : entries) {
      if (d.d_tag == DT_NULL) {
        ended = true;
        break;
      }
      values_.emplace_back(d.d_tag, d.d_un.d_val);
      if (d.d_tag >= 0 && d.d_tag < DT_NUM && !common_[static_cast<std::size_t>(d.d_tag)])
        common_[static_cast<std::size_t>(d.d_tag)] = d.d_un.d_val;
    }
    if (!ended) return "the dynamic section has no end marker";
    return dynamicValues();
  }

  // The first entry with `tag`.
  std::optional<std::uint64_t> value(std::int64_t tag) const {
    if (tag >= 0 && tag < DT_NUM) return common_[static_cast<std::size_t>(tag)];
    for (const auto& [t, v] : values_)
      if (t == tag) return v;
    return std::nullopt;
  }

  std::string dynamicValues() const {
    struct Table {
      std::int64_t addressTag;
      const char* addressName;
      std::int64_t sizeTag; // DT_NULL: the table's size is not recorded
      const char* sizeName;
    };
    static constexpr Table tables[] = {
        {DT_STRTAB, "DT_STRTAB", DT_STRSZ, "DT_STRSZ"},
        {DT_SYMTAB, "DT_SYMTAB", DT_NULL, ""},
        {DT_HASH, "DT_HASH", DT_NULL, ""},
        {DT_GNU_HASH, "DT_GNU_HASH", DT_NULL, ""},
        {DT_RELA, "DT_RELA", DT_RELASZ, "DT_RELASZ"},
        {DT_REL, "DT_REL", DT_RELSZ, "DT_RELSZ"},
        {DT_RELR, "DT_RELR", DT_RELRSZ, "DT_RELRSZ"},
        {DT_JMPREL, "DT_JMPREL", DT_PLTRELSZ, "DT_PLTRELSZ"},
        {DT_INIT_ARRAY, "DT_INIT_ARRAY", DT_INIT_ARRAYSZ, "DT_INIT_ARRAYSZ"},
        {DT_FINI_ARRAY, "DT_FINI_ARRAY", DT_FINI_ARRAYSZ, "DT_FINI_ARRAYSZ"},
        {DT_PREINIT_ARRAY, "DT_PREINIT_ARRAY", DT_PREINIT_ARRAYSZ, "DT_PREINIT_ARRAYSZ"},
        {DT_INIT, "DT_INIT", DT_NULL, ""},
        {DT_FINI, "DT_FINI", DT_NULL, ""},
        {DT_VERSYM, "DT_VERSYM", DT_NULL, ""},
        {DT_VERDEF, "DT_VERDEF", DT_NULL, ""},
        {DT_VERNEED, "DT_VERNEED", DT_NULL, ""},
    };
    for (const Table& t : tables) {
      const std::optional<std::uint64_t> address = value(t.addressTag);
      const std::uint64_t size = t.sizeTag == DT_NULL ? 1 : value(t.sizeTag).value_or(0);
      if (!address) {
        if (t.sizeTag != DT_NULL && size != 0)
          return fmt::format("{} without {}", t.sizeName, t.addressName);
        continue;
      }
      if (segmentHolding(*address, size) != nullptr) continue;
      if (t.sizeTag == DT_NULL)
        return fmt::format("{} (0x{:x}) points outside the loaded segments", t.addressName,
                           *address);
      return fmt::format("{} (0x{:x}) with {} ({}) reaches outside the loaded segments",
                         t.addressName, *address, t.sizeName, size);
    }
    if (std::string why = names(); !why.empty()) return why;
    if (std::string why = relocations(DT_RELA, DT_RELASZ, "DT_RELA"); !why.empty()) return why;
    return relocations(DT_JMPREL, DT_PLTRELSZ, "DT_JMPREL");
  }

  std::string names() const {
    const std::uint64_t stringsSize = value(DT_STRSZ).value_or(0);
    for (const auto& [tag, offset] : values_) {
      if (tag != DT_NEEDED && tag != DT_SONAME && tag != DT_RPATH && tag != DT_RUNPATH) continue;
      if (!value(DT_STRTAB) || offset >= stringsSize)
        return fmt::format("a library name at 0x{:x} lies outside the string table", offset);
    }
    if (const auto entry = value(DT_RELAENT); entry && *entry != sizeof(Rela))
      return fmt::format("DT_RELAENT is {}, not {}", *entry, sizeof(Rela));
    return {};
  }

  // Every relocation must write inside the module's own segments.
  std::string relocations(std::int64_t addressTag, std::int64_t sizeTag, const char* name) const {
    const auto address = value(addressTag);
    const std::uint64_t size = value(sizeTag).value_or(0);
    if (!address || size == 0) return {};
    if (addressTag == DT_JMPREL && value(DT_PLTREL).value_or(DT_RELA) != DT_RELA) return {};
    if (size > kMostRelocationBytes) return fmt::format("{} is too large", name);
    const Phdr* segment = segmentHolding(*address, size);
    std::vector<Rela> relocs(size / sizeof(Rela));
    if (!relocs.empty() && !readAt(fd_, relocs.data(), relocs.size() * sizeof(Rela),
                                   segment->p_offset + (*address - segment->p_vaddr)))
      return "file too short";
    for (const Rela& r : relocs)
      if (!inMemory(r.r_offset, sizeof(Addr)))
        return fmt::format("a relocation of {} writes at 0x{:x}, outside the loaded segments", name,
                           r.r_offset);
    return {};
  }

  static bool holds(const Phdr& s, Addr address, std::uint64_t size) {
    return s.p_type == PT_LOAD && address >= s.p_vaddr && address - s.p_vaddr <= s.p_memsz &&
           size <= s.p_memsz - (address - s.p_vaddr);
  }

  // Relocations mostly write into one segment: the last one found is tried first.
  bool inMemory(Addr address, std::uint64_t size) const {
    if (lastHolder_ != nullptr && holds(*lastHolder_, address, size)) return true;
    for (const Phdr& s : phdrs_)
      if (holds(s, address, size)) {
        lastHolder_ = &s;
        return true;
      }
    return false;
  }

  // From the bytes already read when they hold the range, else from the file.
  bool readAt(int fd, void* out, std::size_t size, std::uint64_t offset) const {
    if (offset <= head_.size() && size <= head_.size() - offset) {
      std::memcpy(out, head_.data() + offset, size);
      return true;
    }
    return kelvarin::readAt(fd, out, size, offset);
  }

  int fd_;
  std::uint64_t fileSize_;
  std::span<const std::uint8_t> head_;
  bool foreign_ = false;
  Ehdr header_{};
  std::vector<Phdr> phdrs_;
  mutable const Phdr* lastHolder_ = nullptr;
  std::vector<std::pair<std::int64_t, std::uint64_t>> values_;
  // The standard tags' first values, asked for many times over.
  std::array<std::optional<std::uint64_t>, DT_NUM> common_{};
};

} // namespace

std::string CheckModuleFile(int fd, bool* foreign) {
  if (foreign != nullptr) *foreign = false;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return {};
  return CheckModuleFile(fd, static_cast<std::uint64_t>(info.st_size), {}, foreign);
}

std::string CheckModuleFile(int fd, std::uint64_t fileSize, std::span<const std::uint8_t> head,
                            bool* foreign) {
  Checker checker(fd, fileSize, head);
  std::string why = checker.run();
  if (foreign != nullptr) *foreign = checker.foreign();
  return why;
}

} // namespace kelvarin
