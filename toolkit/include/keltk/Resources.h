// Stored form data embedded in modules, found by class name in the module that
// implements the class.
#pragma once

#include "keltk/Object.h"

#include <optional>
#include <string_view>

namespace keltk {

class TComponent;

// Registers `text` (the whole stored form of one class, `object Name: TClass ... end`)
// for the module that contains `moduleAnchor`. The text must outlive the registration.
void RegisterFormResource(std::string_view text, const void* moduleAnchor);
void UnregisterFormResource(std::string_view text);

// The stored form of `cls`, looked up only among the resources of the module that
// implements `cls`; nullopt when that module carries none.
std::optional<std::string_view> FindFormResource(const TClassInfo& cls);

// Reads the stored forms of every class from `rootAncestor` (exclusive) down to the
// class of `instance`, base class first (`inherited` forms). Returns false when no
// class in that range has a stored form; raises EReadError for bad data.
bool InitInheritedComponent(TComponent* instance, const TClassInfo& rootAncestor);

} // namespace keltk
