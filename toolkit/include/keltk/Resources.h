// Stored form data embedded in modules, found by class name in the module that
// implements the class.
#pragma once

#include "keltk/Object.h"

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace keltk {

class TComponent;

// Registers `text` (the whole stored form of one class, `object Name: TClass ... end`)
// for the module that contains `moduleAnchor`. The text must outlive the registration.
void RegisterFormResource(std::string_view text, const void* moduleAnchor);
void UnregisterFormResource(std::string_view text);

// Where one form's text lies in a block of embedded bytes.
struct FormSpan {
  std::size_t offset;
  std::size_t size;
};

// Keeps forms embedded in a module registered while the module is loaded: the
// source that kelforms writes holds one as a static object.
template <std::size_t Count> class FormRegistrar {
public:
  FormRegistrar(const unsigned char* block, const std::array<FormSpan, Count>& forms)
      : block_(block), forms_(forms) {
    for (const FormSpan& f : forms_)
      RegisterFormResource(text(f), block_);
  }
  ~FormRegistrar() {
    for (const FormSpan& f : forms_)
      UnregisterFormResource(text(f));
  }
  FormRegistrar(const FormRegistrar&) = delete;
  FormRegistrar& operator=(const FormRegistrar&) = delete;

private:
  std::string_view text(const FormSpan& f) const {
    return {reinterpret_cast<const char*>(block_) + f.offset, f.size};
  }

  const unsigned char* block_;
  std::array<FormSpan, Count> forms_;
};

// The stored form of `cls`, looked up only among the resources of the module that
// implements `cls`; nullopt when that module carries none.
std::optional<std::string_view> FindFormResource(const TClassInfo& cls);

// Reads the stored forms of every class from `rootAncestor` (exclusive) down to the
// class of `instance`, base class first (`inherited` forms). Returns false when no
// class in that range has a stored form; raises EReadError for bad data.
bool InitInheritedComponent(TComponent* instance, const TClassInfo& rootAncestor);

} // namespace keltk
