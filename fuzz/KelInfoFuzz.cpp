// kelinfo's reader on arbitrary files: the ELF section search, the metadata
// records and the stored forms in them. Anything but a clean error is a fault.
#include "ModuleMetadata.h"
#include "PluginSummary.h"

#include <cstddef>
#include <cstdint>
#include <keltk/Exception.h>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> file(data, size);
  try {
    const kelinfo::PluginSummary summary = kelinfo::Summarize(kelinfo::ReadModuleMetadata(file));
    (void)kelinfo::FormatText(summary);
    (void)kelinfo::FormatJson(summary);
  } catch (const kelinfo::MetadataError&) {
  } catch (const keltk::Exception&) {
  }
  // The metadata records alone, so that inputs need not be ELF files to reach them.
  try {
    (void)kelinfo::Summarize(kelinfo::ParseMetadata(file));
  } catch (const kelinfo::MetadataError&) {
  } catch (const keltk::Exception&) {
  }
  return 0;
}
