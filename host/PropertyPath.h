// Reading a published property of a running form's component by a dotted path,
// so that a script can check what a user would see.
//
//   FORM.PROPERTY                  SplashForm.Visible
//   FORM.COMPONENT.PROPERTY        SplashForm.Gauge.Progress
//   ...PROPERTY.SUBPROPERTY        Form1.ulmKelMan1.Log.DumpFile
#pragma once

#include <string>
#include <string_view>

namespace tavlo {

// The value as stored data would show it: numbers, True/False, identifiers, sets
// as [a, b], texts unquoted, lines joined by "|", references by name. Raises
// ScriptError when the path leads nowhere.
std::string ReadPropertyPath(std::string_view path);

} // namespace tavlo
