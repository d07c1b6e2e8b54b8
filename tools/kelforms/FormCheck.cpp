#include "FormCheck.h"

#include "UnattachedLog.h"

#include <dlfcn.h>
#include <fmt/format.h>
#include <keltk/Exception.h>
#include <keltk/Reader.h>
#include <keltk/StrUtils.h>
#include <kelvarin/PluginModule.h>
#include <kelvarin/plugin.h>
#include <optional>
#include <regex>

namespace kelforms {

namespace {

// The name the toolkit gives an embedded form's text in its messages.
constexpr std::string_view kFormOfPrefix = "form of ";

struct Located {
  std::string file;
  int line = 0;
  int column = 0;
};

// The .kfm file behind a reader source name such as "form of TkelGreeter".
std::optional<std::string> formFile(std::string_view source, const std::vector<SourceForm>& forms) {
  if (!source.starts_with(kFormOfPrefix)) return std::nullopt;
  source.remove_prefix(kFormOfPrefix.size());
  for (const SourceForm& f : forms)
    if (keltk::SameText(keltk::FormClassName(f.text), source)) return f.path;
  return std::nullopt;
}

std::string diagnostic(const std::optional<Located>& at, const std::string& module,
                       std::string_view severity, std::string_view text) {
  if (!at) return fmt::format("{}: {}: {}", module, severity, text);
  return fmt::format("{}:{}:{}: {}: {}", at->file, at->line, at->column, severity, text);
}

// A reader message is "<source>: line L, column C: text"; anything else is not
// about a form.
std::optional<std::pair<Located, std::string>> readerMessage(const std::string& message,
                                                             const std::vector<SourceForm>& forms,
                                                             const std::string& module) {
  static const std::regex pattern(R"(^(.*?): line (\d+), column (\d+): ([\s\S]*)$)");
  std::smatch m;
  if (!std::regex_match(message, m, pattern)) return std::nullopt;
  Located at{formFile(m.str(1), forms).value_or(module), std::stoi(m.str(2)), std::stoi(m.str(3))};
  if (at.file == module && !m.str(1).starts_with(kFormOfPrefix)) return std::nullopt;
  return std::pair{at, m.str(4)};
}

struct Listener {
  const std::vector<SourceForm>* forms;
  std::string module;
  CheckReport* report;
};

// Errors a plug-in logs while a value of its form is assigned are what its
// setters refused quietly; other lines are not about the form.
void onUnattachedLog(void* context, std::string_view message, kelvarin::TLogKind kind) {
  std::optional<keltk::ReadPosition> pos = keltk::CurrentReadPosition();
  if (kind != kelvarin::lkError || !pos) return;
  auto* l = static_cast<Listener*>(context);
  const Located at{formFile(pos->source, *l->forms).value_or(l->module), pos->line, pos->column};
  l->report->warnings.push_back(diagnostic(at, l->module, "warning", message));
}

class ModuleHandle {
public:
  // A bare name would send the loader searching the library path; the module is a file.
  explicit ModuleHandle(const std::string& path)
      : handle_(::dlopen((path.find('/') == std::string::npos ? "./" + path : path).c_str(),
                         RTLD_NOW)) {}
  ~ModuleHandle() {
    if (handle_ != nullptr) ::dlclose(handle_);
  }
  ModuleHandle(const ModuleHandle&) = delete;
  ModuleHandle& operator=(const ModuleHandle&) = delete;
  void* get() const { return handle_; }

private:
  void* handle_;
};

} // namespace

CheckReport CheckModule(const std::string& modulePath, const std::vector<SourceForm>& forms) {
  CheckReport report;
  ModuleHandle module(modulePath);
  if (module.get() == nullptr) {
    const char* why = ::dlerror();
    report.errors.push_back(fmt::format("{}: error: the module cannot be loaded: {}", modulePath,
                                        why != nullptr ? why : "unknown reason"));
    return report;
  }
  auto* registerKelvarin = reinterpret_cast<kelvarin::TRegisterKelvarinFunc>(
      ::dlsym(module.get(), kelvarin::kRegisterKelvarinExport));
  if (registerKelvarin == nullptr) {
    report.warnings.push_back(
        fmt::format("{}: warning: no {} export: a manager will refuse the module", modulePath,
                    kelvarin::kRegisterKelvarinExport));
    return report;
  }

  Listener listener{&forms, modulePath, &report};
  kelvarin::detail::SetUnattachedLogSink(&onUnattachedLog, &listener);
  std::string failure;
  try {
    kelvarin::TulmKel* plugin = registerKelvarin();
    if (plugin != nullptr) keltk::FreeObject(plugin);
  } catch (const keltk::Exception& e) {
    failure = e.Message();
  } catch (const std::exception& e) {
    failure = e.what();
  } catch (...) {
    failure = "an exception of an unknown type";
  }
  kelvarin::detail::SetUnattachedLogSink(nullptr, nullptr);
  if (failure.empty()) return report;

  if (auto located = readerMessage(failure, forms, modulePath)) {
    report.errors.push_back(diagnostic(located->first, modulePath, "error", located->second));
  } else {
    // The plug-in's own code failed, not its form: that may depend on where it
    // runs, so it does not stop the build.
    report.warnings.push_back(fmt::format(
        "{}: warning: creating the plug-in failed outside a host: {}", modulePath, failure));
  }
  return report;
}

} // namespace kelforms
