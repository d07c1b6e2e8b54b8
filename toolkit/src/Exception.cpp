#include "keltk/Exception.h"

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

} // namespace keltk
