// The product's own stored forms, read from the source tree: the suites build the
// windows that tavlo and the Splash plug-in build, not copies that drift from them.
#pragma once

#include <keltk/SysUtils.h>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kelvarin::test {

// The form at `path` below the source tree, e.g. "host/Unit1.kfm".
inline std::string ProductForm(const std::string& path) {
  std::string why;
  std::optional<std::string> text =
      keltk::ReadRegularFile(std::string(KELVARIN_SOURCE_DIR) + "/" + path, 1 << 20, why);
  if (!text) throw std::runtime_error(path + ": " + (why.empty() ? "no such file" : why));
  return *text;
}

// `form` without its nested component `name` (the `object name: ...` line up to the
// `end` at the same indentation): for a suite that does not link that component's class.
inline std::string WithoutComponent(const std::string& form, std::string_view name) {
  const std::size_t at = form.find("object " + std::string(name) + ": ");
  if (at == std::string::npos) return form;
  const std::size_t line = form.rfind('\n', at) + 1;
  const std::string closing = "\n" + form.substr(line, at - line) + "end\n";
  const std::size_t end = form.find(closing, at);
  if (end == std::string::npos) return form;
  return form.substr(0, line) + form.substr(end + closing.size());
}

// The host's main form without its manager, whose class is the framework's: for the
// suites that link the toolkit alone (tavlo reads the form whole, end to end).
inline const std::string& HostFormWithoutManager() {
  static const std::string text = WithoutComponent(ProductForm("host/Unit1.kfm"), "ulmKelMan1");
  return text;
}

inline const std::string& SplashForm() {
  static const std::string text = ProductForm("plugins/splash/Splash_Form.kfm");
  return text;
}

} // namespace kelvarin::test
