// tavlo, the sample host: its main form loads plug-ins named in an edit box.
//
//   tavlo                  runs until the main form is closed
//   tavlo --script FILE    also runs FILE's lines once the main form is shown
//                          (see ScriptRunner.h)
#include "Script.h"
#include "ScriptRunner.h"
#include "Unit1.h"

#include <cstdio>
#include <fstream>
#include <keltk/Application.h>
#include <keltk/Exception.h>
#include <keltk/QtBackend.h>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>

namespace {

constexpr int kUsageError = 2;

std::optional<std::string> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return text.str();
}

} // namespace

int main(int argc, char** argv) {
  keltk::QtBackendScope qt(argc, argv); // takes Qt's own options out of argv

  std::optional<std::string> scriptPath;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--script" && i + 1 < argc && !scriptPath) {
      scriptPath = argv[++i];
      continue;
    }
    std::fprintf(stderr, "usage: %s [--script FILE]\n", argv[0]);
    return kUsageError;
  }

  std::vector<tavlo::ScriptLine> script;
  if (scriptPath) {
    const std::optional<std::string> text = readFile(*scriptPath);
    if (!text) {
      std::fprintf(stderr, "%s: cannot read the script \"%s\"\n", argv[0], scriptPath->c_str());
      return 1;
    }
    script = tavlo::ParseScript(*text);
  }

  keltk::TApplication* app = keltk::Application();
  app->Initialize();
  TForm1* form = nullptr;
  try {
    form = app->CreateForm<TForm1>();
  } catch (const keltk::Exception& e) {
    std::fprintf(stderr, "%s: %s\n", argv[0], e.Message().c_str());
    return 1;
  }

  std::unique_ptr<tavlo::ScriptRunner> runner;
  if (scriptPath) {
    runner = std::make_unique<tavlo::ScriptRunner>(*form, *scriptPath, std::move(script));
    runner->Start();
  }
  app->Run();
  if (!runner) return 0;
  runner->Stop();
  return runner->ExitCode();
}
