// kelforms: the build step of plug-in modules.
//   kelforms source [--no-entry | --forms-only] -o OUTPUT.cpp [FORM.kfm...]
//   kelforms check [--remove-on-error] MODULE.kel [FORM.kfm...]
// `source` writes the C++ source that carries the forms, the metadata section
// and GetPluginInfo (a host program's: the forms only); `check` reads the forms of a built module
// against its own classes, in a process of its own that may take KELFORMS_CHECK_TIMEOUT
// seconds (30 by default). Diagnostics go to standard error; status 1 on an error, 2 on misuse.
#include "FormCheck.h"
#include "FormSource.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <kelvarin/Framework.h>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr const char* kUsage =
    "usage: kelforms source [--no-entry | --forms-only] -o OUTPUT.cpp [FORM.kfm...]\n"
    "       kelforms check [--remove-on-error] MODULE.kel [FORM.kfm...]\n"
    "       kelforms --help | --version\n"
    "source writes the C++ file that carries the forms into a module: the forms,\n"
    "its metadata section and its GetPluginInfo entry point.\n"
    "  --no-entry        leave GetPluginInfo out (a module that defines its own)\n"
    "  --forms-only      the forms alone, for a host program that embeds forms\n"
    "  -o OUTPUT.cpp     the file to write (rewritten only when it changes)\n"
    "check reads the forms of a built module against its own classes. A module\n"
    "that does not export GetPluginInfo and RegisterKelvarin is an error; one the\n"
    "loader cannot load here is a warning, its forms unchecked.\n"
    "  --remove-on-error delete MODULE.kel when a form has an error, so that the\n"
    "                    build does not leave a module that would fail to load\n"
    "The check runs the module in a process of its own; KELFORMS_CHECK_TIMEOUT\n"
    "(seconds, 30 by default) limits how long its code may take.\n"
    "Status: 0 done, 1 an error in a form or module, 2 misuse.\n";

int misuse(std::string_view why) {
  std::fprintf(stderr, "kelforms: %.*s\n%s", static_cast<int>(why.size()), why.data(), kUsage);
  return 2;
}

std::vector<kelforms::SourceForm> readForms(const std::vector<std::string>& paths) {
  std::vector<kelforms::SourceForm> forms;
  for (const std::string& p : paths)
    forms.push_back(kelforms::ReadSourceForm(p));
  return forms;
}

// Rewrites `path` only when its text changes, so that an unchanged form does not
// rebuild the module.
bool writeIfChanged(const std::string& path, const std::string& text) {
  {
    std::ifstream in(path, std::ios::binary);
    std::string old((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.good() || in.eof())
      if (old == text) return true;
  }
  const std::string temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) return false;
  }
  return std::rename(temp.c_str(), path.c_str()) == 0;
}

int runSource(const std::vector<std::string>& args) {
  kelforms::SourceOptions options;
  std::string output;
  std::vector<std::string> paths;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--no-entry") {
      options.entry = false;
    } else if (args[i] == "--forms-only") {
      options.entry = false;
      options.metadata = false;
    } else if (args[i] == "-o" && i + 1 < args.size()) {
      output = args[++i];
    } else if (args[i].starts_with("-")) {
      return misuse("unknown option \"" + args[i] + "\"");
    } else {
      paths.push_back(args[i]);
    }
  }
  if (output.empty()) return misuse("no output file (-o OUTPUT.cpp)");
  const std::string text = kelforms::GenerateSource(readForms(paths), options);
  if (writeIfChanged(output, text)) return 0;
  std::fprintf(stderr, "kelforms: %s: cannot be written\n", output.c_str());
  return 1;
}

// How long the module's code may take in a check: KELFORMS_CHECK_TIMEOUT seconds,
// 30 when it is not set; nothing when it is no positive number.
std::optional<std::chrono::milliseconds> checkLimit() {
  const char* text = std::getenv("KELFORMS_CHECK_TIMEOUT");
  if (text == nullptr || *text == '\0') return std::chrono::seconds(30);
  char* end = nullptr;
  const double seconds = std::strtod(text, &end);
  if (*end != '\0' || !(seconds > 0) || seconds > 86400) return std::nullopt;
  return std::chrono::milliseconds(static_cast<long long>(seconds * 1000 + 0.5));
}

int runCheck(std::vector<std::string> args) {
  // Like a compiler, leave no output behind that a later step would take as good.
  const bool removeOnError = !args.empty() && args[0] == "--remove-on-error";
  if (removeOnError) args.erase(args.begin());
  if (args.empty() || args[0].starts_with("-")) return misuse("no module to check");
  const std::optional<std::chrono::milliseconds> limit = checkLimit();
  if (!limit) return misuse("KELFORMS_CHECK_TIMEOUT is not a number of seconds");
  const std::string& module = args[0];
  const std::vector<std::string> paths(args.begin() + 1, args.end());
  kelforms::CheckReport report;
  try {
    report = kelforms::CheckModuleApart(module, readForms(paths), *limit);
  } catch (const kelforms::FormError& e) {
    report.errors.emplace_back(e.what());
  }
  for (const std::string& w : report.warnings)
    std::fprintf(stderr, "%s\n", w.c_str());
  for (const std::string& e : report.errors)
    std::fprintf(stderr, "%s\n", e.c_str());
  if (report.errors.empty()) return 0;
  if (removeOnError) std::remove(module.c_str());
  return 1;
}

} // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return misuse("no command");
  if (args[0] == "--help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (args[0] == "--version") {
    std::printf("kelforms %s\n", kelvarin::kFrameworkVersion);
    return 0;
  }
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  try {
    if (args[0] == "source") return runSource(rest);
    if (args[0] == "check") return runCheck(rest);
  } catch (const kelforms::FormError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return misuse("unknown command \"" + args[0] + "\"");
}
