// The uniform outcome record of every framework operation and plug-in handler,
// and its two shared values.
#pragma once

#include <cstdint>
#include <string>

namespace kelvarin {

struct TKelMethodResult;

// A class reference of the framework's exception family: the class a failure is
// classified under, and the means to raise an exception of that class.
struct TErrorClassInfo {
  const char* name;
  const TErrorClassInfo* parent;
  void (*raise)(const TKelMethodResult& result); // throws; never returns

  // True when this class is `className` or descends from a class of that name.
  bool InheritsFrom(const char* className) const;
};
using TErrorClass = const TErrorClassInfo*;

// The operations whose answer decides what comes next (loading, unloading,
// commands, merging) are [[nodiscard]]; advisory ones (LogIt) may be ignored.
struct TKelMethodResult {
  bool Success = false;
  TErrorClass ErrorClass = nullptr;
  std::int32_t ErrorCode = 0;
  std::string ErrorMsg;

  friend bool operator==(const TKelMethodResult&, const TKelMethodResult&) = default;
};

// (True, none, 0, "") and (False, EulmKelError, $E018, the current text of E018).
// Written once when this copy of the framework starts (after the dictionary has
// been read) and only read afterwards.
extern const TKelMethodResult& smrOk;
extern const TKelMethodResult& smrUnexpectedError;

// Sets the two shared results from the current catalogue. Part of the framework's
// start-up; tests call it again after reloading the dictionary.
void InitMethodResults();

// Raises an exception of the record's class (EulmKelError when it has none),
// carrying the record's message and code.
[[noreturn]] void RaiseResult(const TKelMethodResult& result);

} // namespace kelvarin
