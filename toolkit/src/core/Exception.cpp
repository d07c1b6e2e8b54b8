#include "keltk/Exception.h"

#include <cstdlib>
#include <cxxabi.h>
#include <exception>
#include <memory>
#include <typeinfo>

namespace keltk {

// Out-of-line destructors give each exception class one home for its type information.
Exception::~Exception() = default;
EReadError::~EReadError() = default;
EWriteError::~EWriteError() = default;
EClassNotFound::~EClassNotFound() = default;
EConvertError::~EConvertError() = default;
EListError::~EListError() = default;
EComponentError::~EComponentError() = default;
EMenuError::~EMenuError() = default;
EInOutError::~EInOutError() = default;
EInvalidGraphic::~EInvalidGraphic() = default;
EResNotFound::~EResNotFound() = default;
EInvalidOperation::~EInvalidOperation() = default;
EForeignException::~EForeignException() = default;

namespace {

std::string readableTypeName(const std::type_info* type) {
  if (type == nullptr) return "unknown exception";
  int status = 0;
  const std::unique_ptr<char, decltype(&std::free)> name(
      abi::__cxa_demangle(type->name(), nullptr, nullptr, &status), &std::free);
  return status == 0 && name != nullptr ? std::string(name.get()) : std::string(type->name());
}

} // namespace

EForeignException ForeignException() {
  try {
    throw;
  } catch (const std::exception& e) {
    std::string type = readableTypeName(&typeid(e));
    std::string what = e.what() != nullptr ? e.what() : "";
    if (what.empty()) what = type;
    return EForeignException(std::move(type), std::move(what));
  } catch (...) {
    std::string type = readableTypeName(abi::__cxa_current_exception_type());
    return EForeignException(type, type);
  }
}

} // namespace keltk
