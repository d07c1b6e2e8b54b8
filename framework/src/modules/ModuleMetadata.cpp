#include "ModuleMetadata.h"

#include "ModuleCheck.h"
#include "UniqueFd.h"
#include "kelvarin/PluginModule.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fmt/format.h>
#include <fmt/ranges.h>
#include <keltk/StrUtils.h>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvarin {

namespace {

// The system's reason, read from errno right after the call that failed.
MetadataError cannotOpen() {
  return MetadataError(std::string("cannot open the file: ") + std::strerror(errno));
}

// Why `path` cannot be reached, right after stat failed on it: a link that leads
// nowhere says so rather than "no such file".
MetadataError cannotReach(const std::string& path) {
  const int error = errno;
  struct stat link {};
  if ((error == ENOENT || error == ELOOP) && ::lstat(path.c_str(), &link) == 0 &&
      S_ISLNK(link.st_mode)) {
    if (error == ELOOP) return MetadataError("a looping link: following it never ends at a file");
    std::string target(4096, '\0');
    const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    target.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return MetadataError(fmt::format("a dangling link: \"{}\" does not exist", target));
  }
  errno = error;
  return cannotOpen();
}

// Offsets within the ELF64 file header and section header.
constexpr std::size_t kElfHeaderSize = 64;
constexpr std::size_t kSectionHeaderSize = 64;
constexpr std::uint8_t kElfClass64 = 2;
constexpr std::uint8_t kElfDataLittle = 1;
constexpr std::uint32_t kSectionNoBits = 8;

// Fixed-width little-endian reads at offsets already checked by the caller.
template <class T> T readAt(std::span<const std::uint8_t> bytes, std::size_t offset) {
  T value = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i)
    value |= static_cast<T>(static_cast<T>(bytes[offset + i]) << (8 * i));
  return value;
}

struct SectionHeader {
  std::uint32_t name;
  std::uint32_t type;
  std::uint64_t offset;
  std::uint64_t size;
};

SectionHeader sectionAt(std::span<const std::uint8_t> file, std::uint64_t tableOffset,
                        std::size_t index) {
  const std::size_t at = static_cast<std::size_t>(tableOffset) + index * kSectionHeaderSize;
  return {readAt<std::uint32_t>(file, at), readAt<std::uint32_t>(file, at + 4),
          readAt<std::uint64_t>(file, at + 24), readAt<std::uint64_t>(file, at + 32)};
}

// The name at `offset` of the section name table, or empty when it runs off it.
std::string_view nameAt(std::span<const std::uint8_t> names, std::uint32_t offset) {
  if (offset >= names.size()) return {};
  const auto* start = reinterpret_cast<const char*>(names.data()) + offset;
  const void* end = std::memchr(start, 0, names.size() - offset);
  if (end == nullptr) return {};
  return {start, static_cast<std::size_t>(static_cast<const char*>(end) - start)};
}

// Reads "<word> <size>\n" at `pos`, then the size bytes and a line feed.
bool readRecord(std::string_view text, std::size_t& pos, std::string_view& word,
                std::string_view& body) {
  const std::size_t lineEnd = text.find('\n', pos);
  if (lineEnd == std::string_view::npos) return false;
  const std::string_view line = text.substr(pos, lineEnd - pos);
  const std::size_t blank = line.find(' ');
  if (blank == std::string_view::npos || blank == 0 || blank + 1 == line.size()) return false;
  word = line.substr(0, blank);
  std::uint64_t size = 0;
  for (char c : line.substr(blank + 1)) {
    if (c < '0' || c > '9' || size > text.size()) return false;
    size = size * 10 + static_cast<std::uint64_t>(c - '0');
  }
  const std::size_t start = lineEnd + 1;
  if (size > text.size() - start || size + 1 > text.size() - start) return false;
  if (text[start + size] != '\n') return false;
  body = text.substr(start, size);
  pos = start + size + 1;
  return true;
}

// The bytes of a file already in memory. A source answers with a view of bytes
// it holds, or of `store`, which it fills when it must read them.
struct MemorySource {
  std::span<const std::uint8_t> bytes;
  std::uint64_t size() const { return bytes.size(); }
  std::span<const std::uint8_t> read(std::uint64_t offset, std::uint64_t size,
                                     std::vector<std::uint8_t>&) const {
    return bytes.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(size));
  }
};

// A file read piece by piece: only the parts asked for are ever held. The
// parts inside the first bytes, read once, are served from them.
struct FileSource {
  int fd;
  std::uint64_t fileSize;
  std::span<const std::uint8_t> head;
  std::uint64_t size() const { return fileSize; }
  std::span<const std::uint8_t> read(std::uint64_t offset, std::uint64_t size,
                                     std::vector<std::uint8_t>& store) const {
    if (offset <= head.size() && size <= head.size() - offset)
      return head.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(size));
    store.resize(static_cast<std::size_t>(size));
    readInto(store.data(), store.size(), offset);
    return store;
  }
  void readInto(std::uint8_t* out, std::size_t size, std::uint64_t offset) const {
    std::size_t got = 0;
    while (got < size) {
      const ssize_t n = ::pread(fd, out + got, size - got, static_cast<off_t>(offset + got));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) throw MetadataError("cannot read the file");
      got += static_cast<std::size_t>(n);
    }
  }
};

// Read in one go: the headers, the dynamic section and the metadata of a small
// module lie in it, and each read less is a system call less.
constexpr std::uint64_t kHeadBytes = 32 << 10;
// A module little larger than that is read whole: its section table lies at the
// end, and copying the bytes between costs less than one read more.
constexpr std::uint64_t kWholeBytes = 48 << 10;

struct SectionPlace {
  std::uint64_t offset;
  std::uint64_t size;
};

// Bounds for what a section may claim: enough for any real module, and what
// keeps a damaged or hostile file from costing memory.
constexpr std::uint64_t kLargestNameTable = 16 << 20;
constexpr std::uint64_t kLargestSection = 64 << 20; // the metadata, the dynamic symbols
// Each form costs a copy of its text and a parse; a module has a handful.
constexpr std::size_t kMaxForms = 1000;

bool fitsIn(std::uint64_t fileSize, std::uint64_t offset, std::uint64_t size) {
  return offset <= fileSize && size <= fileSize - offset;
}

// Finds the sections `names`, checking every offset and size against the file:
// their places in the order asked, nothing for one the file does not have.
template <class Source, std::size_t N>
std::array<std::optional<SectionPlace>, N>
findSections(const Source& source, const std::array<std::string_view, N>& names) {
  static constexpr std::uint8_t magic[] = {0x7F, 'E', 'L', 'F'};
  const std::uint64_t fileSize = source.size();
  std::vector<std::uint8_t> headerStore, tableStore, namesStore;
  const std::span<const std::uint8_t> header =
      source.read(0, std::min<std::uint64_t>(fileSize, kElfHeaderSize), headerStore);
  if (header.size() < 4 || std::memcmp(header.data(), magic, 4) != 0)
    throw NotAPluginError("not an ELF file");
  if (header.size() < kElfHeaderSize) throw MetadataError("truncated ELF header");
  if (header[4] != kElfClass64 || header[5] != kElfDataLittle)
    throw NotAPluginError("not a 64-bit little-endian ELF file");

  const auto tableOffset = readAt<std::uint64_t>(header, 0x28);
  const auto entrySize = readAt<std::uint16_t>(header, 0x3A);
  const auto count = readAt<std::uint16_t>(header, 0x3C);
  const auto namesIndex = readAt<std::uint16_t>(header, 0x3E);
  if (count == 0) throw MetadataError("the file has no section table");
  if (entrySize != kSectionHeaderSize) throw MetadataError("unexpected section header size");
  if (!fitsIn(fileSize, tableOffset, std::uint64_t{count} * kSectionHeaderSize))
    throw MetadataError("truncated section table");
  if (namesIndex >= count) throw MetadataError("no section name table");
  const std::span<const std::uint8_t> table =
      source.read(tableOffset, std::uint64_t{count} * kSectionHeaderSize, tableStore);

  const SectionHeader namesHeader = sectionAt(table, 0, namesIndex);
  if (namesHeader.type == kSectionNoBits || !fitsIn(fileSize, namesHeader.offset, namesHeader.size))
    throw MetadataError("truncated section name table");
  if (namesHeader.size > kLargestNameTable) throw MetadataError("section name table too large");
  const std::span<const std::uint8_t> sectionNames =
      source.read(namesHeader.offset, namesHeader.size, namesStore);

  std::array<std::optional<SectionPlace>, N> places;
  for (std::size_t i = 0; i < count; ++i) {
    // The name first: most sections are not wanted, and their headers need no decoding.
    const auto wanted = std::ranges::find(
        names, nameAt(sectionNames, readAt<std::uint32_t>(table, i * kSectionHeaderSize)));
    if (wanted == names.end() || places[wanted - names.begin()]) continue;
    const SectionHeader header = sectionAt(table, 0, i);
    if (header.type == kSectionNoBits || !fitsIn(fileSize, header.offset, header.size))
      throw MetadataError("truncated section " + std::string(*wanted));
    if (header.size > kLargestSection)
      throw MetadataError("section " + std::string(*wanted) + " too large");
    places[wanted - names.begin()] = SectionPlace{header.offset, header.size};
  }
  return places;
}

NotAPluginError noSection(std::string_view name) {
  return NotAPluginError(fmt::format("no {} section: not a Kelvarin plug-in module", name));
}

template <class Source> SectionPlace locateSection(const Source& source, std::string_view name) {
  if (const auto place = findSections(source, std::array{name})[0]) return *place;
  throw noSection(name);
}

// What a manager looks up in every module it loads.
constexpr std::array<std::string_view, 2> kEntryPoints = {kGetPluginInfoExport,
                                                          kRegisterKelvarinExport};
constexpr std::size_t kSymbolSize = 24; // an Elf64_Sym
constexpr std::uint8_t kBindGlobal = 1;
constexpr std::uint8_t kBindWeak = 2;
constexpr std::uint8_t kVisibilityInternal = 1;
constexpr std::uint8_t kVisibilityHidden = 2;

// The entry points the module's dynamic symbols do not define, as the loader's
// lookup sees them: global or weak, defined, not hidden.
template <class Source>
std::vector<std::string_view> missingEntryPoints(const Source& source,
                                                 const std::optional<SectionPlace>& symbolPlace,
                                                 const std::optional<SectionPlace>& stringPlace) {
  std::array<bool, kEntryPoints.size()> found{};
  if (symbolPlace && stringPlace) {
    std::vector<std::uint8_t> symbolStore, stringStore;
    const std::span<const std::uint8_t> symbols =
        source.read(symbolPlace->offset, symbolPlace->size, symbolStore);
    const std::span<const std::uint8_t> strings =
        source.read(stringPlace->offset, stringPlace->size, stringStore);
    for (std::size_t at = 0; symbols.size() - at >= kSymbolSize; at += kSymbolSize) {
      const auto name = readAt<std::uint32_t>(symbols, at);
      if (name >= strings.size())
        throw MetadataError("a dynamic symbol's name lies outside section .dynstr");
      const std::uint8_t bind = symbols[at + 4] >> 4;
      const std::uint8_t visibility = symbols[at + 5] & 3;
      if (readAt<std::uint16_t>(symbols, at + 6) == 0 ||
          (bind != kBindGlobal && bind != kBindWeak) || visibility == kVisibilityInternal ||
          visibility == kVisibilityHidden)
        continue;
      const auto entry = std::ranges::find(kEntryPoints, nameAt(strings, name));
      if (entry != kEntryPoints.end()) found[entry - kEntryPoints.begin()] = true;
    }
  }
  std::vector<std::string_view> missing;
  for (std::size_t i = 0; i < kEntryPoints.size(); ++i)
    if (!found[i]) missing.push_back(kEntryPoints[i]);
  return missing;
}

// The metadata, from a module that has every entry point a manager needs.
// The section table is walked once for the three sections.
template <class Source> ModuleMetadata readMetadata(const Source& source) {
  const auto [place, symbolPlace, stringPlace] =
      findSections(source, std::array<std::string_view, 3>{kMetadataSection, ".dynsym", ".dynstr"});
  if (!place) throw noSection(kMetadataSection);
  std::vector<std::uint8_t> store;
  ModuleMetadata meta = ParseMetadata(source.read(place->offset, place->size, store));
  const std::vector<std::string_view> missing =
      missingEntryPoints(source, symbolPlace, stringPlace);
  if (missing.empty()) return meta;
  throw MissingEntryPointError(fmt::format(
      "the module does not export {}, {} a manager needs: misspelt, or not extern \"C\"?",
      fmt::join(missing, " or "), missing.size() == 1 ? "an entry point" : "entry points"));
}

} // namespace

std::span<const std::uint8_t> FindElfSection(std::span<const std::uint8_t> file,
                                             std::string_view name) {
  const MemorySource source{file};
  const SectionPlace place = locateSection(source, name);
  return file.subspan(static_cast<std::size_t>(place.offset), static_cast<std::size_t>(place.size));
}

ModuleMetadata ParseMetadata(std::span<const std::uint8_t> section) {
  static constexpr std::string_view header = "KELVARIN-META 1\n";
  const std::string_view text(reinterpret_cast<const char*>(section.data()), section.size());
  if (text.substr(0, header.size()) != header) throw MetadataError("unknown metadata format");
  ModuleMetadata meta;
  bool haveVersion = false;
  std::size_t pos = header.size();
  while (pos < text.size()) {
    std::string_view word;
    std::string_view body;
    if (!readRecord(text, pos, word, body))
      throw MetadataError("malformed metadata record at byte " + std::to_string(pos));
    if (word == "version") {
      meta.versionRecord = body;
      haveVersion = true;
    } else if (word == "form") {
      if (meta.forms.size() == kMaxForms)
        throw MetadataError(fmt::format("more than {} forms in the metadata", kMaxForms));
      meta.forms.emplace_back(body);
    }
    // Records of other kinds come from newer builds; they are skipped.
  }
  if (!haveVersion) throw MetadataError("the metadata has no version record");
  return meta;
}

ModuleMetadata ReadModuleMetadata(std::span<const std::uint8_t> file) {
  return readMetadata(MemorySource{file});
}

ModuleMetadata ReadModuleMetadataFile(const std::string& path, struct stat* opened,
                                      bool listedRegular) {
  // Opening a device can act on it (a tape rewinds, a terminal becomes the
  // controlling one): only a regular file is opened, and never as a terminal.
  // A folder listing that has just named the entry a regular file said so already.
  struct stat info {};
  if (!listedRegular) {
    if (::stat(path.c_str(), &info) != 0) throw cannotReach(path);
    if (!S_ISREG(info.st_mode)) throw NotAPluginError("not a regular file");
  }
  const UniqueFd file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!file) throw listedRegular ? cannotReach(path) : cannotOpen();
  const int fd = file.get();
  // The name may have been given to another file since.
  if (::fstat(fd, &info) != 0) throw cannotOpen();
  if (!S_ISREG(info.st_mode)) throw NotAPluginError("not a regular file");
  if (opened != nullptr) *opened = info;
  const auto fileSize = static_cast<std::uint64_t>(info.st_size);
  // Overwritten by the read at once: zeroing it first would cost as much again.
  const auto headSize = static_cast<std::size_t>(fileSize <= kWholeBytes ? fileSize : kHeadBytes);
  const auto headBytes = std::make_unique_for_overwrite<std::uint8_t[]>(headSize);
  const std::span<const std::uint8_t> head(headBytes.get(), headSize);
  FileSource{fd, fileSize, {}}.readInto(headBytes.get(), headSize, 0);
  // A module the manager would refuse is no module to describe either.
  bool foreign = false;
  if (std::string why = CheckModuleFile(fd, fileSize, head, &foreign); !why.empty()) {
    if (foreign) throw NotAPluginError(why);
    throw MetadataError(why);
  }
  return readMetadata(FileSource{fd, fileSize, head});
}

std::string VersionInRecord(std::string_view record) {
  constexpr std::string_view key = "ProdVersion=";
  for (std::size_t start = 0; start < record.size();) {
    std::size_t end = record.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = record.size();
    const std::string_view line = record.substr(start, end - start);
    if (keltk::SameText(line.substr(0, std::min(line.size(), key.size())), key))
      return std::string(line.substr(key.size()));
    start = end + 1;
  }
  return {};
}

} // namespace kelvarin
