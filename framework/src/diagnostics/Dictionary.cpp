// The optional dictionary file that rewords the framework's texts without a rebuild.
#include "CatalogueStore.h"
#include "ModuleLoader.h"
#include "kelvarin/Catalogue.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fmt/format.h>
#include <keltk/Component.h>
#include <keltk/Dialogs.h>
#include <keltk/IniFiles.h>
#include <keltk/StrUtils.h>
#include <keltk/SysUtils.h>
#include <keltk/Utf8.h>
#include <optional>
#include <utility>
#include <vector>

namespace kelvarin {

namespace {

bool dictionaryLoaded = false;

using Pairs = std::vector<std::pair<std::string, std::string>>;

const std::string* findValue(const Pairs& pairs, const std::string& key) {
  for (const auto& [name, value] : pairs)
    if (keltk::SameText(name, key)) return &value;
  return nullptr;
}

constexpr std::string_view kMissingEntryShown = "kelvarin.dictionary.missing-entry";

// The toolkit copy remembers that the box was shown. When it is a module of its
// own (beside the shared framework library, which goes with the last plug-in and
// comes back with the next), it stays mapped from now on, so that the library
// mapped again does not show the box again.
void keepToolkitCopy() {
  const std::string toolkit = ModuleFileOf(&keltk::TComponent::StaticClass());
  if (toolkit.empty() || toolkit == ModuleFileOf(&kMissingEntryShown)) return;
  KeepModuleMapped(toolkit);
}

void showMissingEntry(const std::string& file, const char* section, const std::string& key) {
  std::string text;
  std::string sectionName = section;
  const keltk::TVarRec args[] = {keltk::VarStr(file), keltk::VarStr(sectionName),
                                 keltk::VarStr(key)};
  if (!FormatText(DictionaryText(2), args, text)) text = DictionaryText(2);
  if (keltk::ShowMessageOnce(kMissingEntryShown, text)) keepToolkitCopy();
}

// Takes the value of `key` into `store`; false (after telling the user) when the
// entry is missing or empty, which ends the loading.
template <class Store>
bool takeEntry(const Pairs& pairs, const std::string& file, const char* section,
               const std::string& key, Store store) {
  const std::string* value = findValue(pairs, key);
  if (value == nullptr || value->empty()) {
    showMissingEntry(file, section, key);
    return false;
  }
  store(ReplacePilcrows(*value));
  return true;
}

constexpr std::size_t kLargestDictionary = 1024 * 1024;

// The dictionary's text, read before main runs: a FIFO must not hang the start,
// nor a device or a huge file eat time and memory. Nothing for a missing file.
std::optional<std::string> readDictionary(const std::string& file) {
  std::string why;
  std::optional<std::string> text = keltk::ReadRegularFile(file, kLargestDictionary, why);
  if (!text && !why.empty())
    std::fprintf(stderr,
                 "%s: the message dictionary \"%s\" cannot be read: %s; the built-in texts stay\n",
                 program_invocation_short_name, file.c_str(), why.c_str());
  return text;
}

} // namespace

std::string ReplacePilcrows(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (std::size_t i = 0; i < text.size();) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      out += text[i++];
      continue;
    }
    std::size_t length = keltk::Utf8SequenceLength(text, i);
    if (length == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) == 0xB6) {
      out += "\r\n";
    } else if (length > 0) {
      out.append(text.substr(i, length));
    } else {
      // A byte outside any UTF-8 character: the single-byte code page's pilcrow, or
      // anything else, kept as it is.
      if (c == 0xB6)
        out += "\r\n";
      else
        out += text[i];
      length = 1;
    }
    i += length;
  }
  return out;
}

std::string DictionaryFileName() {
  const char* dir = std::getenv("KELVARIN_CONFIG_DIR");
  if (dir == nullptr || *dir == '\0') return "/etc/ulmKELrp.ini";
  std::string path = dir;
  if (path.back() != '/') path += '/';
  return path + "ulmKELrp.ini";
}

bool DictionaryLoaded() {
  return dictionaryLoaded;
}

void RestoreBuiltInTexts() {
  detail::RestoreCatalogue();
  dictionaryLoaded = false;
  keltk::ForgetShownMessage(kMissingEntryShown);
}

void LoadDictionary() {
  if (dictionaryLoaded) return;
  dictionaryLoaded = true;
  try {
    const std::string file = DictionaryFileName();
    const std::optional<std::string> text = readDictionary(file);
    if (!text) return;
    keltk::TIniFile ini({});
    ini.LoadFromText(*text);

    const Pairs dictionary = ini.SectionValues("Dictionary");
    if (dictionary.empty()) return;
    for (int n = 1; n <= 2; ++n) {
      auto store = [n](std::string text) { detail::SetDictionaryText(n, std::move(text)); };
      if (!takeEntry(dictionary, file, "Dictionary", fmt::format("{:04X}", n), store)) return;
    }

    const Pairs messages = ini.SectionValues("ErrorMessages");
    if (messages.empty()) return;
    for (std::int32_t code = E001; code <= E02E; ++code) {
      if (ErrorMessage(code) == nullptr) continue; // unassigned codes have no entry
      auto store = [code](std::string text) { detail::SetErrorMessage(code, std::move(text)); };
      if (!takeEntry(messages, file, "ErrorMessages", fmt::format("{:04X}", code), store)) return;
    }
  } catch (...) {
    // A file that cannot be read leaves the texts not yet replaced as they are.
  }
}

} // namespace kelvarin
