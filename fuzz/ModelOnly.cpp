// The fuzz targets link the component model without the GUI classes (and so
// without Qt); the registration of those classes has nothing to register here.
#include "keltk/Toolkit.h"

namespace keltk {

void RegisterToolkitClasses() {}

} // namespace keltk
