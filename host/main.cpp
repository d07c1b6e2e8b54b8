// tavlo, the sample host: its main form loads plug-ins named in an edit box.
//
//   tavlo                  runs until the main form is closed
//   tavlo --script FILE    also runs FILE's lines once the main form is shown
//                          (see ScriptRunner.h); without a display offscreen,
//                          closing the main form after the last line
//   tavlo --reload-on-change
//                          reloads a loaded plug-in whose file is replaced
//   tavlo --help
#include "Script.h"
#include "ScriptRunner.h"
#include "Unit1.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <keltk/Application.h>
#include <keltk/Exception.h>
#include <keltk/QtBackend.h>
#include <keltk/SysUtils.h>
#include <kelvarin/EndingSignals.h>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace {

constexpr int kUsageError = 2;

constexpr std::size_t kLargestScript = 1024 * 1024;

void usage(std::FILE* to, const char* program) {
  std::fprintf(to, "usage: %s [--script FILE] [--reload-on-change]\n", program);
}

bool hasArgument(int argc, char** argv, std::string_view wanted) {
  for (int i = 1; i < argc; ++i)
    if (argv[i] == wanted) return true;
  return false;
}

bool hasDisplay(int argc, char** argv) {
  if (hasArgument(argc, argv, "-platform")) return true;
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

bool offscreen() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  return platform != nullptr && std::string_view(platform) == "offscreen";
}

} // namespace

int main(int argc, char** argv) {
  // Before Qt starts: neither needs a display, and Qt aborts without one.
  if (hasArgument(argc, argv, "--help")) {
    usage(stdout, argv[0]);
    return 0;
  }
  if (!hasDisplay(argc, argv)) {
    if (!hasArgument(argc, argv, "--script")) {
      std::fprintf(stderr, "%s: no display (DISPLAY is not set)\n", argv[0]);
      return 1;
    }
    std::fprintf(stderr, "%s: no display; running the script offscreen\n", argv[0]);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  keltk::QtBackendScope qt(argc, argv); // takes Qt's own options out of argv

  std::optional<std::string> scriptPath;
  bool reloadOnChange = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--reload-on-change" && !reloadOnChange) {
      reloadOnChange = true;
      continue;
    }
    if (arg == "--script" && i + 1 < argc && !scriptPath) {
      scriptPath = argv[++i];
      continue;
    }
    usage(stderr, argv[0]);
    return kUsageError;
  }

  std::vector<tavlo::ScriptLine> script;
  if (scriptPath) {
    // Only a regular file of sane size: a folder, a device or a FIFO is refused
    // instead of hanging tavlo.
    std::string why;
    const std::optional<std::string> text =
        keltk::ReadRegularFile(*scriptPath, kLargestScript, why);
    if (!text) {
      if (why.empty()) why = std::strerror(ENOENT);
      std::fprintf(stderr, "%s: cannot read the script \"%s\": %s\n", argv[0], scriptPath->c_str(),
                   why.c_str());
      return 1;
    }
    script = tavlo::ParseScript(*text);
  }

  keltk::TApplication* app = keltk::Application();
  app->Initialize();
  kelvarin::HandleEndingSignals();
  TForm1* form = nullptr;
  try {
    form = app->CreateForm<TForm1>();
  } catch (const keltk::Exception& e) {
    std::fprintf(stderr, "%s: %s\n", argv[0], e.Message().c_str());
    return 1;
  }

  if (reloadOnChange && !form->ulmKelMan1->SetReloadOnChange(true))
    std::fprintf(stderr, "%s: cannot watch plug-in files here\n", argv[0]);

  std::unique_ptr<tavlo::ScriptRunner> runner;
  if (scriptPath) {
    runner = std::make_unique<tavlo::ScriptRunner>(*form, *scriptPath, std::move(script));
    runner->SetCloseAtEnd(offscreen());
    runner->Start();
  }
  app->Run();
  if (!runner) return 0;
  const int unfinished = runner->UnfinishedLine();
  runner->Stop();
  if (unfinished == 0) return runner->ExitCode();
  std::fprintf(stderr, "%s:%d: the main form was closed before this line ran\n",
               scriptPath->c_str(), unfinished);
  return 1;
}
