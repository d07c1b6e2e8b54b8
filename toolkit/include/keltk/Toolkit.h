// The toolkit as a whole.
#pragma once

namespace keltk {

// Registers the toolkit's component classes (menus, forms, data modules, controls)
// with this copy's class registry, once; FindClass calls it, so stored data can
// always name them.
void RegisterToolkitClasses();

} // namespace keltk
