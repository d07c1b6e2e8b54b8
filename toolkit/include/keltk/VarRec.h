// The toolkit's tagged variant: a type tag and a value, as handlers receive their
// arguments. The tags are fixed numbers; plug-in parameter types use the same ones.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace keltk {

class TObject;
struct TClassInfo;

enum TVarType : std::uint8_t {
  vtInteger = 0,     // VInteger
  vtBoolean = 1,     // VBoolean
  vtChar = 2,        // VChar
  vtExtended = 3,    // VExtended -> long double
  vtString = 4,      // VString -> length-prefixed bytes (first byte is the length)
  vtPointer = 5,     // VPointer
  vtPChar = 6,       // VPChar -> zero-terminated bytes
  vtObject = 7,      // VObject
  vtClass = 8,       // VClass
  vtWideChar = 9,    // VWideChar
  vtPWideChar = 10,  // VPWideChar -> zero-terminated UTF-16
  vtAnsiString = 11, // VAnsiString -> std::string
  vtCurrency = 12,   // VCurrency -> 64-bit count of ten-thousandths
  vtVariant = 13,    // VVariant -> TVarRec (the variant's current value)
  vtInterface = 14,  // VInterface
  vtWideString = 15, // VWideString -> std::u16string
  vtInt64 = 16,      // VInt64 -> 64-bit integer
};

// A currency value counts this many units to one: four fixed decimals.
inline constexpr std::int64_t CurrencyScale = 10000;

struct TVarRec {
  TVarType VType = vtPointer;
  union {
    std::int32_t VInteger;
    bool VBoolean;
    char VChar;
    const long double* VExtended;
    const unsigned char* VString;
    const void* VPointer = nullptr;
    const char* VPChar;
    TObject* VObject;
    const TClassInfo* VClass;
    char16_t VWideChar;
    const char16_t* VPWideChar;
    const std::string* VAnsiString;
    const std::int64_t* VCurrency;
    const TVarRec* VVariant;
    void* VInterface;
    const std::u16string* VWideString;
    const std::int64_t* VInt64;
  };

  // A null argument: the pointer tag with no pointer.
  static TVarRec Null() { return TVarRec{}; }
  bool IsNull() const;
};

// A record with a pointer tag points at its value and does not own it: the value
// must outlive every use of the record. Binding a temporary is therefore a compile
// error (the deleted overloads below), because an array such as
//   const TVarRec args[] = {VarStr(std::string("x"))};
// would point at a destroyed string by the time a command reads it. Name the value
// first (`const std::string text = ...; VarStr(text)`), or pass a literal with
// `VarPChar("literal")`, whose text lives as long as the program.
inline TVarRec VarInt(std::int32_t v) {
  TVarRec r;
  r.VType = vtInteger;
  r.VInteger = v;
  return r;
}
inline TVarRec VarBool(bool v) {
  TVarRec r;
  r.VType = vtBoolean;
  r.VBoolean = v;
  return r;
}
inline TVarRec VarChar(char v) {
  TVarRec r;
  r.VType = vtChar;
  r.VChar = v;
  return r;
}
inline TVarRec VarExtended(const long double& v) {
  TVarRec r;
  r.VType = vtExtended;
  r.VExtended = &v;
  return r;
}
TVarRec VarExtended(long double&&) = delete;
inline TVarRec VarStr(const std::string& v) {
  TVarRec r;
  r.VType = vtAnsiString;
  r.VAnsiString = &v;
  return r;
}
TVarRec VarStr(std::string&&) = delete;
inline TVarRec VarPChar(const char* v) {
  TVarRec r;
  r.VType = vtPChar;
  r.VPChar = v;
  return r;
}
inline TVarRec VarObject(TObject* v) {
  TVarRec r;
  r.VType = vtObject;
  r.VObject = v;
  return r;
}
inline TVarRec VarInt64(const std::int64_t& v) {
  TVarRec r;
  r.VType = vtInt64;
  r.VInt64 = &v;
  return r;
}
TVarRec VarInt64(std::int64_t&&) = delete;
inline TVarRec VarWideString(const std::u16string& v) {
  TVarRec r;
  r.VType = vtWideString;
  r.VWideString = &v;
  return r;
}
TVarRec VarWideString(std::u16string&&) = delete;

using TVarRecs = std::span<const TVarRec>;

// The value a variant argument holds (variants inside variants followed a few
// levels deep, so a cycle cannot hang the caller); any other argument itself.
const TVarRec& ResolveVariant(const TVarRec& arg);
// The text, as UTF-8, of an argument with a text tag (character, string, C
// string, wide forms); nullopt for every other tag. A null pointer is "".
std::optional<std::string> VarText(const TVarRec& arg);

inline bool TVarRec::IsNull() const {
  switch (VType) {
  case vtInteger:
  case vtBoolean:
  case vtChar:
  case vtWideChar:
    return false;
  default:
    return VPointer == nullptr;
  }
}

} // namespace keltk
