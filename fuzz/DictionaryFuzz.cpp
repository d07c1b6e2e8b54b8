// Feeds arbitrary bytes to the dictionary loader as the dictionary file, then
// formats every catalogue message with its replaced text. Whatever the file
// holds, loading and formatting end normally: no crash, leak or undefined
// behaviour.
#include "kelvarin/Catalogue.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <keltk/VarRec.h>
#include <string>
#include <string_view>
#include <unistd.h>

// The missing-entry message box: nothing to show here, and no module to keep.
namespace keltk {
void ShowMessage(const std::string&) {}
bool ShowMessageOnce(std::string_view, const std::string&) {
  return false;
}
void ForgetShownMessage(std::string_view) {}
} // namespace keltk
namespace kelvarin {
void KeepModuleMapped(const std::string&) {}
} // namespace kelvarin

namespace {

std::string prepareFolder() {
  char pattern[] = "/tmp/kelvarin-dictionary-fuzz-XXXXXX";
  const char* dir = ::mkdtemp(pattern);
  if (dir == nullptr) std::abort();
  ::setenv("KELVARIN_CONFIG_DIR", dir, 1);
  return std::string(dir) + "/ulmKELrp.ini";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string file = prepareFolder();
  std::FILE* ini = std::fopen(file.c_str(), "wb");
  if (ini == nullptr) return 0;
  std::fwrite(data, 1, size, ini);
  std::fclose(ini);

  kelvarin::RestoreBuiltInTexts();
  kelvarin::LoadDictionary();
  const std::string text = "Splash.kel";
  const keltk::TVarRec args[] = {keltk::VarStr(text), keltk::VarInt(7), keltk::VarStr(text)};
  std::string out;
  for (std::int32_t code = kelvarin::E001; code <= kelvarin::E02E; ++code)
    if (const std::string* message = kelvarin::ErrorMessage(code))
      kelvarin::FormatText(*message, args, out);
  kelvarin::FormatText(kelvarin::DictionaryText(2), args, out);
  return 0;
}
