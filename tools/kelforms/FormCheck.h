// The build-time check of a plug-in module's stored forms: the module is loaded
// and its plug-in created the way a manager does, so its form is read against
// the module's own classes; then each other form whose class the module
// registers (a window it creates) is read into a new instance of that class.
// What the reader refuses, and what the setters refuse quietly (blank or
// duplicate command and parameter names), is reported in a compiler's words at
// the .kfm file, line and column. A form whose class the module does not
// register, or registers only in a framework copy of its own, is a warning.
// Before that: a module without an entry point a manager needs is an error; one
// the loader cannot load here (a library found only where it runs) a warning.
#pragma once

#include "FormSource.h"

#include <chrono>
#include <string>
#include <vector>

namespace kelforms {

struct CheckReport {
  std::vector<std::string> errors;   // "Greeter.kfm:18:3: error: ..."
  std::vector<std::string> warnings; // "Greeter.kfm:12:9: warning: ..."
};

// `forms` are the module's .kfm files, to name positions in them.
CheckReport CheckModule(const std::string& modulePath, const std::vector<SourceForm>& forms);

// CheckModule in a child process, so that the module's code cannot take the
// check with it: its exit, its crash and a check that runs past `limit` (the
// child is killed then) are errors of the report.
CheckReport CheckModuleApart(const std::string& modulePath, const std::vector<SourceForm>& forms,
                             std::chrono::milliseconds limit);

} // namespace kelforms
