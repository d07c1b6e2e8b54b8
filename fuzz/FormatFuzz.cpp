// Feeds arbitrary format patterns to the message formatter with one argument of
// each kind. A pattern that does not fit its arguments is refused (false), never
// a crash, an endless loop or undefined behaviour.
#include "kelvarin/Catalogue.h"

#include <cstddef>
#include <cstdint>
#include <keltk/VarRec.h>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  // The first byte chooses how many of the arguments are passed.
  const std::size_t count = data[0] % 8;
  const std::string_view pattern(reinterpret_cast<const char*>(data) + 1, size - 1);
  static const std::string text = "text";
  static const std::int64_t big = -9223372036854775807LL;
  static const long double real = -1.5e300L;
  static const std::u16string wide = u"wide";
  const keltk::TVarRec args[] = {keltk::VarInt(-42),   keltk::VarStr(text),
                                 keltk::VarInt64(big), keltk::VarExtended(real),
                                 keltk::VarChar('c'),  keltk::VarPChar("pchar"),
                                 keltk::VarBool(true), keltk::VarWideString(wide)};
  std::string out;
  kelvarin::FormatText(pattern, keltk::TVarRecs(args, count), out);
  return 0;
}
