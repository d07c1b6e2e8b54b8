#include "keltk/VarRec.h"

#include "keltk/StrUtils.h"
#include "keltk/Utf8.h"

namespace keltk {

const TVarRec& ResolveVariant(const TVarRec& arg) {
  const TVarRec* a = &arg;
  for (int depth = 0; a->VType == vtVariant && a->VVariant != nullptr && depth < 16; ++depth)
    a = a->VVariant;
  return *a;
}

std::optional<std::string> VarText(const TVarRec& a) {
  switch (a.VType) {
  case vtChar:
    return std::string(1, a.VChar);
  case vtWideChar:
    return Utf8FromUtf16(std::u16string_view(&a.VWideChar, 1));
  case vtString:
    if (a.VString == nullptr) return std::string();
    return std::string(reinterpret_cast<const char*>(a.VString + 1), a.VString[0]);
  case vtPChar:
    return a.VPChar == nullptr ? std::string() : std::string(a.VPChar);
  case vtPWideChar:
    return a.VPWideChar == nullptr ? std::string() : Utf8FromUtf16(a.VPWideChar);
  case vtAnsiString:
    return a.VAnsiString == nullptr ? std::string() : *a.VAnsiString;
  case vtWideString:
    return a.VWideString == nullptr ? std::string() : Utf8FromUtf16(*a.VWideString);
  default:
    return std::nullopt;
  }
}

} // namespace keltk
