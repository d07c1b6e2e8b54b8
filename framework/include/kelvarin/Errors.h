// The framework's exception family. Every member is made from a result record:
// its message is the record's ErrorMsg and its ErrorCode the record's code.
#pragma once

#include "kelvarin/MethodResult.h"

#include <cstdint>
#include <keltk/Exception.h>
#include <string_view>

namespace kelvarin {

class EulmKelError : public keltk::Exception {
public:
  explicit EulmKelError(const TKelMethodResult& result)
      : Exception(result.ErrorMsg), errorCode_(result.ErrorCode) {}
  ~EulmKelError() override;
  const char* ClassName() const override { return "EulmKelError"; }
  static const TErrorClassInfo& StaticClass();

  std::int32_t ErrorCode() const { return errorCode_; }
  void SetErrorCode(std::int32_t code) { errorCode_ = code; }

private:
  std::int32_t errorCode_;
};

// A refused property value.
class EulmKelPropertyError : public EulmKelError {
public:
  using EulmKelError::EulmKelError;
  ~EulmKelPropertyError() override;
  const char* ClassName() const override { return "EulmKelPropertyError"; }
  static const TErrorClassInfo& StaticClass();
};

// A plug-in object that could not be created.
class EulmKelCreationError : public EulmKelError {
public:
  using EulmKelError::EulmKelError;
  ~EulmKelCreationError() override;
  const char* ClassName() const override { return "EulmKelCreationError"; }
  static const TErrorClassInfo& StaticClass();
};

// A plug-in that could not be loaded.
class EulmKelLoadError : public EulmKelError {
public:
  using EulmKelError::EulmKelError;
  ~EulmKelLoadError() override;
  const char* ClassName() const override { return "EulmKelLoadError"; }
  static const TErrorClassInfo& StaticClass();
};

// Unloading, including taking a plug-in's menu out again.
class EulmKelUnloadError : public EulmKelError {
public:
  using EulmKelError::EulmKelError;
  ~EulmKelUnloadError() override;
  const char* ClassName() const override { return "EulmKelUnloadError"; }
  static const TErrorClassInfo& StaticClass();
};

// A plug-in's Initialize.
class EulmKelInitializationError : public EulmKelError {
public:
  using EulmKelError::EulmKelError;
  ~EulmKelInitializationError() override;
  const char* ClassName() const override { return "EulmKelInitializationError"; }
  static const TErrorClassInfo& StaticClass();
};

// A plug-in's Finalize.
class EulmKelFinalizationError : public EulmKelError {
public:
  using EulmKelError::EulmKelError;
  ~EulmKelFinalizationError() override;
  const char* ClassName() const override { return "EulmKelFinalizationError"; }
  static const TErrorClassInfo& StaticClass();
};

// Menu merging.
class EulmKelMergeError : public EulmKelError {
public:
  using EulmKelError::EulmKelError;
  ~EulmKelMergeError() override;
  const char* ClassName() const override { return "EulmKelMergeError"; }
  static const TErrorClassInfo& StaticClass();
};

// This copy's class of the family named `name`, or null.
TErrorClass FindErrorClass(std::string_view name);

// `result` with its class replaced by this copy's class of the same name. A result
// made by another framework copy (a plug-in's) names that copy's class, which goes
// when the copy is unloaded; a result kept beyond that must be adopted first.
TKelMethodResult AdoptResult(const TKelMethodResult& result);

} // namespace kelvarin
