#include "kelvarin/MethodResult.h"

#include "kelvarin/Catalogue.h"
#include "kelvarin/Errors.h"

#include <cstring>

namespace kelvarin {

namespace {
// Constant-initialised, so they are valid (if empty) before any start-up code runs.
constinit TKelMethodResult okValue;
constinit TKelMethodResult unexpectedValue;
} // namespace

constinit const TKelMethodResult& smrOk = okValue;
constinit const TKelMethodResult& smrUnexpectedError = unexpectedValue;

void InitMethodResults() {
  okValue = TKelMethodResult{true, nullptr, 0, {}};
  const std::string* text = ErrorMessage(E018);
  unexpectedValue =
      TKelMethodResult{false, &EulmKelError::StaticClass(), E018, text ? *text : std::string()};
}

bool TErrorClassInfo::InheritsFrom(const char* className) const {
  for (const TErrorClassInfo* c = this; c != nullptr; c = c->parent)
    if (std::strcmp(c->name, className) == 0) return true;
  return false;
}

void RaiseResult(const TKelMethodResult& result) {
  if (result.ErrorClass != nullptr && result.ErrorClass->raise != nullptr)
    result.ErrorClass->raise(result);
  throw EulmKelError(result);
}

} // namespace kelvarin
