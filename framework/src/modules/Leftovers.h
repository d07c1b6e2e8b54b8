// What a plug-in module may leave behind on the objects that outlive it: its
// components owned by the application or a host form, and handlers of its code
// on the application, the screen and the components they reach. None of it may
// point into the module once the module is unmapped.
#pragma once

#include "ModuleLoader.h"

#include <string>
#include <vector>

namespace kelvarin {

// Frees every component whose class `module` defines, wherever
// it is owned, then clears every handler bound to the module's code, or to such a
// component, on the application (OnIdle, OnException, its idle handlers) and on
// each component the application and the screen reach. Answers what it cleared
// and freed, in that order ("Application.OnIdle", "Form2.OnClose", "Form3 freed").
std::vector<std::string> ClearModuleLeftovers(const ModuleSpan& module);

} // namespace kelvarin
