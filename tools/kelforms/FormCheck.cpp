#include "FormCheck.h"

#include "ModuleLoader.h"
#include "ModuleMetadata.h"
#include "UnattachedLog.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fmt/format.h>
#include <keltk/Exception.h>
#include <keltk/Reader.h>
#include <keltk/StrUtils.h>
#include <kelvarin/PluginModule.h>
#include <kelvarin/plugin.h>
#include <optional>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Reads the decimal number at `pos` into `value`; false when there is none or it
// does not fit.
bool numberAt(std::string_view text, std::size_t& pos, int& value) {
  if (pos >= text.size() || text[pos] < '0' || text[pos] > '9') return false;
  const char* first = text.data() + pos;
  const auto [end, ec] = std::from_chars(first, text.data() + text.size(), value);
  if (ec != std::errc() || end == first) return false;
  pos += static_cast<std::size_t>(end - first);
  return true;
}

bool skip(std::string_view text, std::size_t& pos, std::string_view word) {
  if (text.substr(pos, word.size()) != word) return false;
  pos += word.size();
  return true;
}

// A reader message is "<source>: line L, column C: text", its source the
// shortest that fits and on the first line; anything else is not about a form.
// Read by hand: a module's message may be of any length.
std::optional<std::pair<Located, std::string>> readerMessage(std::string_view message,
                                                             const std::vector<SourceForm>& forms,
                                                             const std::string& module) {
  static constexpr std::string_view marker = ": line ";
  const std::size_t firstLineEnd = std::min(message.find_first_of("\r\n"), message.size());
  for (std::size_t at = message.find(marker); at < firstLineEnd;
       at = message.find(marker, at + 1)) {
    std::size_t pos = at + marker.size();
    int line = 0;
    int column = 0;
    if (!numberAt(message, pos, line) || !skip(message, pos, ", column ") ||
        !numberAt(message, pos, column) || !skip(message, pos, ": "))
      continue;
    const std::string_view source = message.substr(0, at);
    const Located where{formFile(source, forms).value_or(module), line, column};
    if (where.file == module && !source.starts_with(kFormOfPrefix)) return std::nullopt;
    return std::pair{where, std::string(message.substr(pos))};
  }
  return std::nullopt;
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

// What an exception that left the module's code says; empty when none did.
template <class F> std::string failureOf(F&& run) {
  try {
    run();
  } catch (const keltk::Exception& e) {
    return e.Message();
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "an exception of an unknown type";
  }
  return {};
}

// A failure while creating `what`: an error where the reader refused the
// form, else a warning, since the module's own code may depend on where it runs.
void reportFailure(const std::string& failure, const std::vector<SourceForm>& forms,
                   const std::string& modulePath, std::string_view where, std::string_view what,
                   CheckReport& report) {
  if (auto located = readerMessage(failure, forms, modulePath)) {
    report.errors.push_back(diagnostic(located->first, modulePath, "error", located->second));
    return;
  }
  report.warnings.push_back(
      fmt::format("{}: warning: creating {} failed outside a host: {}", where, what, failure));
}

// What the check knows of the plug-in object the module made.
struct PluginClass {
  bool made = false;
  bool ownToolkit = false;          // its classes live in a toolkit copy of the module's
  std::vector<std::string> classes; // its class and ancestors: their forms are its own
};

PluginClass pluginClassOf(const kelvarin::TulmKel& plugin) {
  PluginClass known;
  known.made = true;
  const keltk::TClassInfo* c = &plugin.ClassType();
  for (; c->parent != nullptr; c = c->parent)
    known.classes.push_back(c->name);
  known.ownToolkit = c != &keltk::TObject::StaticClass();
  return known;
}

// Reads every form besides the plug-in's own into a new instance of its class,
// as the module does at run time, when the module registers that class.
void checkWindowForms(const std::string& modulePath, const void* moduleBase,
                      const PluginClass& plugin, const std::vector<SourceForm>& forms,
                      CheckReport& report) {
  for (const SourceForm& form : forms) {
    const std::string name = keltk::FormClassName(form.text);
    const auto notChecked = [&](std::string_view why) {
      // Without the plug-in object its own forms cannot be told apart.
      if (plugin.made)
        report.warnings.push_back(fmt::format(
            "{}:1:1: warning: form of class \"{}\" not checked: {}", form.path, name, why));
    };
    if (std::ranges::any_of(plugin.classes,
                            [&](const std::string& c) { return keltk::SameText(c, name); }))
      continue;
    if (plugin.ownToolkit) {
      notChecked("the module links its own framework copy, whose class registry the check "
                 "cannot reach");
      continue;
    }
    const keltk::TClassInfo* cls = keltk::FindClass(name);
    if (cls == nullptr || cls->moduleBase() != moduleBase) {
      notChecked("the module does not register the class (keltk::ClassRegistrar)");
      continue;
    }
    if (cls->createComponent == nullptr) {
      notChecked("the class is registered without componentFactory()");
      continue;
    }
    const std::string failure =
        failureOf([&] { keltk::FreeObject(cls->createComponent(nullptr)); });
    if (!failure.empty()) reportFailure(failure, forms, modulePath, form.path, name, report);
  }
}

// Why a manager would refuse the module for an entry point it lacks, read from
// the file: it holds where the module cannot be loaded too. Empty when nothing
// is missing or the file says nothing about it.
std::string missingEntryPoint(const std::string& modulePath) {
  try {
    kelvarin::ReadModuleMetadataFile(modulePath);
  } catch (const kelvarin::MissingEntryPointError& e) {
    return e.what();
  } catch (const kelvarin::MetadataError&) {
  }
  return {};
}

} // namespace

CheckReport CheckModule(const std::string& modulePath, const std::vector<SourceForm>& forms) {
  CheckReport report;
  if (std::string missing = missingEntryPoint(modulePath); !missing.empty()) {
    report.errors.push_back(fmt::format("{}: error: {}", modulePath, missing));
    return report;
  }
  std::string why;
  const kelvarin::ModuleHandle module = kelvarin::OpenModuleForInspection(modulePath, why);
  // A library the module links may be found only where it runs (the host's own,
  // one installed beside the host): the module is sound, its forms unread.
  if (!module) {
    report.warnings.push_back(
        fmt::format("{}: warning: forms not checked: the module cannot be loaded where it is "
                    "built: {}",
                    modulePath, why));
    return report;
  }
  const auto registerKelvarin =
      module.Symbol<kelvarin::TRegisterKelvarinFunc>(kelvarin::kRegisterKelvarinExport);
  if (registerKelvarin == nullptr) {
    report.errors.push_back(fmt::format("{}: error: the module does not export {}", modulePath,
                                        kelvarin::kRegisterKelvarinExport));
    return report;
  }

  Listener listener{&forms, modulePath, &report};
  kelvarin::detail::SetUnattachedLogSink(&onUnattachedLog, &listener);
  PluginClass plugin;
  const std::string failure = failureOf([&] {
    kelvarin::TulmKel* made = registerKelvarin();
    if (made == nullptr) return;
    plugin = pluginClassOf(*made);
    keltk::FreeObject(made);
  });
  if (!failure.empty())
    reportFailure(failure, forms, modulePath, modulePath, "the plug-in", report);
  // A form the plug-in could not read already stops the build.
  if (report.errors.empty())
    checkWindowForms(modulePath,
                     keltk::ModuleBaseOf(reinterpret_cast<const void*>(registerKelvarin)), plugin,
                     forms, report);
  kelvarin::detail::SetUnattachedLogSink(nullptr, nullptr);
  return report;
}

namespace {

// The report travels from the child as "<E|W><length>:<text>" entries and a "."
// that says it is whole: a child that ends without it did not finish.
std::string encode(const CheckReport& report) {
  std::string out;
  for (const auto& [kind, lines] : {std::pair{'E', &report.errors}, {'W', &report.warnings}})
    for (const std::string& line : *lines)
      out += fmt::format("{}{}:{}", kind, line.size(), line);
  return out + '.';
}

std::optional<CheckReport> decode(std::string_view text) {
  CheckReport report;
  std::size_t pos = 0;
  while (pos < text.size() && text[pos] != '.') {
    const char kind = text[pos++];
    std::size_t size = 0;
    const auto [end, ec] = std::from_chars(text.data() + pos, text.data() + text.size(), size);
    pos = static_cast<std::size_t>(end - text.data());
    if (ec != std::errc() || !skip(text, pos, ":") || size > text.size() - pos) return std::nullopt;
    (kind == 'E' ? report.errors : report.warnings).emplace_back(text.substr(pos, size));
    pos += size;
  }
  if (pos + 1 != text.size()) return std::nullopt;
  return report;
}

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// In the child: the check and its report, then an end that runs none of the
// module's exit code (it ran when the module was closed).
[[noreturn]] void checkInChild(int out, const std::string& modulePath,
                               const std::vector<SourceForm>& forms) {
  // Its own process group, so that whatever the module started goes with it.
  ::setpgid(0, 0);
  CheckReport report;
  try {
    report = CheckModule(modulePath, forms);
  } catch (const std::exception& e) {
    report.errors.push_back(fmt::format("{}: error: the check failed: {}", modulePath, e.what()));
  }
  ::_exit(writeAll(out, encode(report)) ? 0 : 1);
}

// Reads `fd` to its end or to `deadline`; false when the deadline came first.
bool readUntil(int fd, std::string& text, std::chrono::steady_clock::time_point deadline) {
  char buffer[65536];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 1000)));
    if (ready < 0 && errno != EINTR) return true;
    if (ready <= 0) continue;
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return true;
    text.append(buffer, static_cast<std::size_t>(n));
  }
}

std::string signalName(int signal) {
  const char* abbrev = ::sigabbrev_np(signal);
  return abbrev != nullptr ? fmt::format("SIG{}", abbrev) : fmt::format("signal {}", signal);
}

} // namespace

CheckReport CheckModuleApart(const std::string& modulePath, const std::vector<SourceForm>& forms,
                             std::chrono::milliseconds limit) {
  const auto failed = [&](const std::string& why) {
    CheckReport report;
    report.errors.push_back(fmt::format("{}: error: {}", modulePath, why));
    return report;
  };
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0)
    return failed(fmt::format("no pipe to a check process: {}", std::strerror(errno)));
  std::fflush(nullptr); // what is buffered is written once, not by both processes
  const pid_t child = ::fork();
  if (child < 0) {
    ::close(fds[0]);
    ::close(fds[1]);
    return failed(fmt::format("no check process: {}", std::strerror(errno)));
  }
  if (child == 0) {
    ::close(fds[0]);
    checkInChild(fds[1], modulePath, forms);
  }
  ::close(fds[1]);
  std::string text;
  const bool ended = readUntil(fds[0], text, std::chrono::steady_clock::now() + limit);
  ::close(fds[0]);
  if (!ended) {
    ::kill(-child, SIGKILL);
    ::kill(child, SIGKILL);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (!ended)
    return failed(fmt::format("the module's code did not return within {:g} s; the check was "
                              "stopped (KELFORMS_CHECK_TIMEOUT sets the limit in seconds)",
                              std::chrono::duration<double>(limit).count()));
  if (WIFSIGNALED(status))
    return failed(
        fmt::format("the module's code crashed the check ({})", signalName(WTERMSIG(status))));
  std::optional<CheckReport> report = decode(text);
  if (!report || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return failed(fmt::format("the module's code ended the check (exit status {}) before it was "
                              "done",
                              WIFEXITED(status) ? WEXITSTATUS(status) : -1));
  return *report;
}

} // namespace kelforms
