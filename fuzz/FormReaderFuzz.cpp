// Feeds arbitrary bytes to the form reader. Bad data must end in an exception of
// the toolkit's family, never in a crash, a leak or undefined behaviour; good data
// must survive writing and reading again unchanged.
#include "FormModel.h"
#include "keltk/Exception.h"
#include "keltk/Reader.h"
#include "keltk/Writer.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

using namespace keltk;
using namespace fmtest;

namespace {

std::string writeOrTrap(TFmForm& root) {
  try {
    return WriteComponentToText(&root);
  } catch (const Exception& e) {
    std::fprintf(stderr, "a form that was read cannot be written: %s\n", e.Message().c_str());
    __builtin_trap();
  }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  registerFormTestClasses();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(bytes), size);
  fmLog.clear(); // what Loaded records: of no use here, and it would only grow
  TFmForm root(nullptr);
  try {
    ReadComponentFromText(text, &root);
  } catch (const Exception& e) {
    if (e.Message().rfind("line ", 0) != 0) {
      std::fprintf(stderr, "error without a position: %s\n", e.Message().c_str());
      __builtin_trap();
    }
    return 0;
  }
  // What was read must come back the same after a write and a read.
  std::string first = writeOrTrap(root);
  TFmForm again(nullptr);
  try {
    ReadComponentFromText(first, &again);
  } catch (const Exception& e) {
    std::fprintf(stderr, "written form does not read back: %s\n%s\n", e.Message().c_str(),
                 first.c_str());
    __builtin_trap();
  }
  if (writeOrTrap(again) != first) {
    std::fprintf(stderr, "round trip changed the form:\n%s\n", first.c_str());
    __builtin_trap();
  }
  return 0;
}
