#include "kelvarin/Errors.h"

namespace kelvarin {

namespace {
template <class E> void raiseAs(const TKelMethodResult& result) {
  throw E(result);
}

constinit const TErrorClassInfo baseInfo{"EulmKelError", nullptr, &raiseAs<EulmKelError>};
constinit const TErrorClassInfo propertyInfo{"EulmKelPropertyError", &baseInfo,
                                             &raiseAs<EulmKelPropertyError>};
constinit const TErrorClassInfo creationInfo{"EulmKelCreationError", &baseInfo,
                                             &raiseAs<EulmKelCreationError>};
constinit const TErrorClassInfo loadInfo{"EulmKelLoadError", &baseInfo, &raiseAs<EulmKelLoadError>};
constinit const TErrorClassInfo unloadInfo{"EulmKelUnloadError", &baseInfo,
                                           &raiseAs<EulmKelUnloadError>};
constinit const TErrorClassInfo initializationInfo{"EulmKelInitializationError", &baseInfo,
                                                   &raiseAs<EulmKelInitializationError>};
constinit const TErrorClassInfo finalizationInfo{"EulmKelFinalizationError", &baseInfo,
                                                 &raiseAs<EulmKelFinalizationError>};
constinit const TErrorClassInfo mergeInfo{"EulmKelMergeError", &baseInfo,
                                          &raiseAs<EulmKelMergeError>};
} // namespace

// Out-of-line destructors give each class one home for its type information.
EulmKelError::~EulmKelError() = default;
EulmKelPropertyError::~EulmKelPropertyError() = default;
EulmKelCreationError::~EulmKelCreationError() = default;
EulmKelLoadError::~EulmKelLoadError() = default;
EulmKelUnloadError::~EulmKelUnloadError() = default;
EulmKelInitializationError::~EulmKelInitializationError() = default;
EulmKelFinalizationError::~EulmKelFinalizationError() = default;
EulmKelMergeError::~EulmKelMergeError() = default;

const TErrorClassInfo& EulmKelError::StaticClass() {
  return baseInfo;
}
const TErrorClassInfo& EulmKelPropertyError::StaticClass() {
  return propertyInfo;
}
const TErrorClassInfo& EulmKelCreationError::StaticClass() {
  return creationInfo;
}
const TErrorClassInfo& EulmKelLoadError::StaticClass() {
  return loadInfo;
}
const TErrorClassInfo& EulmKelUnloadError::StaticClass() {
  return unloadInfo;
}
const TErrorClassInfo& EulmKelInitializationError::StaticClass() {
  return initializationInfo;
}
const TErrorClassInfo& EulmKelFinalizationError::StaticClass() {
  return finalizationInfo;
}
const TErrorClassInfo& EulmKelMergeError::StaticClass() {
  return mergeInfo;
}

} // namespace kelvarin

namespace kelvarin {

TErrorClass FindErrorClass(std::string_view name) {
  for (const TErrorClassInfo* info :
       {&baseInfo, &propertyInfo, &creationInfo, &loadInfo, &unloadInfo, &initializationInfo,
        &finalizationInfo, &mergeInfo})
    if (name == info->name) return info;
  return nullptr;
}

TKelMethodResult AdoptResult(const TKelMethodResult& result) {
  TKelMethodResult own = result;
  if (result.ErrorClass != nullptr) {
    // A class of the family this copy does not know keeps the family's root.
    own.ErrorClass = FindErrorClass(result.ErrorClass->name);
    if (own.ErrorClass == nullptr) own.ErrorClass = &baseInfo;
  }
  return own;
}

} // namespace kelvarin
