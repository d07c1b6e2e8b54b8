// The C++ source that carries a plug-in module's stored forms and metadata
// section (see kelvarin/EmbeddedForms.h), and its GetPluginInfo entry.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace kelforms {

struct SourceForm {
  std::string path; // as given: named in the generated comment and in errors
  std::string text;
};

struct SourceOptions {
  bool entry = true;    // define GetPluginInfo
  bool metadata = true; // forms inside the metadata section (plug-in modules), or alone
};

// A form that cannot go into a module, with a compiler-style message.
class FormError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Reads a .kfm file; raises FormError when it cannot be read or has no
// "object Name: TClass" header.
SourceForm ReadSourceForm(const std::string& path);

std::string GenerateSource(const std::vector<SourceForm>& forms, const SourceOptions& options);

} // namespace kelforms
