#include "ScriptRunner.h"

#include "CommandArguments.h"
#include "PropertyPath.h"
#include "Unit1.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fmt/format.h>
#include <keltk/Backend.h>
#include <keltk/Exception.h>
#include <keltk/StrUtils.h>
#include <keltk/Utf8.h>
#include <kelvarin/plugin.h>
#include <limits>
#include <thread>

namespace tavlo {

namespace {

// How long one idle step may sleep while a wait runs: short enough that the
// window stays lively, long enough not to spin.
constexpr std::chrono::milliseconds kWaitSlice{5};

void expectWords(const std::vector<std::string>& words, std::size_t least, std::size_t most,
                 std::string_view usage) {
  if (words.size() < least || words.size() > most)
    throw ScriptError(fmt::format("usage: {}", usage));
}

// A shown form of the running program with this component name.
keltk::TForm* findShownForm(const std::string& name) {
  keltk::TScreen* screen = keltk::Screen();
  for (int i = 0; i < screen->FormCount(); ++i) {
    keltk::TForm* form = screen->Forms(i);
    if (form != nullptr && form->Name() == name && form->Visible()) return form;
  }
  return nullptr;
}

kelvarin::TulmKel* findPlugin(const kelvarin::TulmKelMan& manager, const std::string& deepName) {
  for (int i = 0; i < manager.PluginCount(); ++i) {
    kelvarin::TulmKel* plugin = manager.Plugins(i);
    if (plugin != nullptr && plugin->DeepName() == deepName) return plugin;
  }
  return nullptr;
}

} // namespace

const keltk::TClassInfo& ScriptRunner::StaticClass() {
  static keltk::TClassInfo info("TScriptRunner", &TObject::StaticClass());
  return info;
}

ScriptRunner::ScriptRunner(TForm1& form, std::string scriptName, std::vector<ScriptLine> lines)
    : form_(form), scriptName_(std::move(scriptName)), lines_(std::move(lines)),
      ownOnIdle_(keltk::TIdleEvent::bind<&ScriptRunner::OnIdle>(this)) {}

ScriptRunner::~ScriptRunner() {
  Stop();
}

void ScriptRunner::Start() {
  if (hooked_) return;
  keltk::TApplication* app = keltk::Application();
  // Beside OnIdle, not in its chain: a plug-in that replaces OnIdle cannot stop the script.
  app->AddIdleHandler(ownOnIdle_);
  hooked_ = true;
  // A failed load is the load's answer, printed like a command's; not a line
  // that fails. (Set once: the form may be gone by the time the script stops.)
  form_.LoadFailuresTo = stdout;
  // Through the window system, so boxes of the plug-ins' toolkit copies are answered too.
  if (keltk::TGuiBackend* backend = keltk::GuiBackend())
    backend->setMessageAnswerer([](const std::string& text) {
      std::printf("Message: %s\n", keltk::ShownText(text).c_str());
      std::fflush(stdout);
    });
}

void ScriptRunner::Stop() {
  stopped_ = true;
  if (!hooked_) return;
  if (keltk::TGuiBackend* backend = keltk::GuiBackend()) backend->setMessageAnswerer({});
  keltk::TApplication* app = keltk::Application();
  app->RemoveIdleHandler(ownOnIdle_);
  hooked_ = false;
}

void ScriptRunner::OnIdle(keltk::TObject* /*Sender*/, bool& Done) {
  if (stopped_) return;
  // Not done until the script is: the next line follows at the next idle step.
  Done = false;
  if (waiting_) {
    const auto now = std::chrono::steady_clock::now();
    if (now < waitUntil_) {
      std::this_thread::sleep_for(
          std::min<std::chrono::steady_clock::duration>(waitUntil_ - now, kWaitSlice));
      return;
    }
    waiting_ = false;
  }
  if (next_ < lines_.size()) runNext();
  if (!Finished()) return;
  Done = true;
  if (closeAtEnd_ && !stopped_) closeMainForm();
}

void ScriptRunner::runNext() {
  const ScriptLine& line = lines_[next_++];
  try {
    if (!line.error.empty()) throw ScriptError(line.error);
    run(line);
  } catch (const ScriptError& e) {
    fail(line, e.what());
  } catch (const keltk::Exception& e) {
    fail(line, fmt::format("{}: {}", e.ClassName(), e.Message()));
  } catch (const std::exception& e) {
    fail(line, e.what());
  }
}

int ScriptRunner::UnfinishedLine() const {
  if (stopped_ || lines_.empty()) return 0;
  // A wait that was still running counts as not done.
  const std::size_t at = waiting_ ? next_ - 1 : next_;
  return at < lines_.size() ? lines_[at].number : 0;
}

void ScriptRunner::run(const ScriptLine& line) {
  const std::vector<std::string>& words = line.words;
  const std::string& command = words.front();
  if (command == "load") {
    load(words);
  } else if (command == "exec") {
    exec(words);
  } else if (command == "wait") {
    wait(words);
  } else if (command == "screenshot") {
    screenshot(words);
  } else if (command == "close-window") {
    closeWindow(words);
  } else if (command == "print") {
    expectWords(words, 2, 2, "print PATH");
    std::printf("%s = %s\n", words[1].c_str(),
                keltk::ShownText(ReadPropertyPath(words[1])).c_str());
    std::fflush(stdout);
  } else if (command == "plugins") {
    expectWords(words, 1, 1, "plugins");
    plugins();
  } else if (command == "unload-all") {
    expectWords(words, 1, 1, "unload-all");
    (void)form_.ulmKelMan1->UnloadAllPlugins(false);
  } else if (command == "close") {
    expectWords(words, 1, 1, "close");
    closeMainForm();
  } else {
    throw ScriptError(fmt::format("unknown command \"{}\"", command));
  }
}

void ScriptRunner::fail(const ScriptLine& line, const std::string& reason) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s:%d: %s\n", scriptName_.c_str(), line.number, reason.c_str());
  std::fflush(stderr);
  exitCode_ = 1;
  closeMainForm();
}

void ScriptRunner::closeMainForm() {
  stopped_ = true;
  waiting_ = false;
  form_.Close();
}

void ScriptRunner::load(const std::vector<std::string>& words) {
  expectWords(words, 2, 2, "load NAME");
  form_.Edit_PluginName->SetText(words[1]);
  form_.Button_LoadPlugin->Click();
}

void ScriptRunner::plugins() {
  for (const kelvarin::TPluginFileInfo& info : form_.ulmKelMan1->DiscoverPlugins()) {
    // Every text here comes from a file in the folder: none may drive the terminal.
    using keltk::ShownText;
    std::string line =
        fmt::format("Plugin: {}: {}", ShownText(keltk::ExtractFileName(info.FileName)),
                    kelvarin::PluginFileStateName(info.State));
    if (!info.Plugin.deepName.empty())
      line += fmt::format(" \"{}\" {}", ShownText(info.Plugin.deepName),
                          ShownText(info.Plugin.version));
    if (!info.Reason.empty()) line += fmt::format(" ({})", ShownText(info.Reason));
    std::printf("%s\n", line.c_str());
  }
  std::fflush(stdout);
}

void ScriptRunner::exec(const std::vector<std::string>& words) {
  expectWords(words, 3, std::numeric_limits<std::size_t>::max(), "exec DEEPNAME COMMAND [ARG...]");
  const std::string& deepName = words[1];
  const std::string& commandName = words[2];
  kelvarin::TulmKel* plugin = findPlugin(*form_.ulmKelMan1, deepName);
  if (plugin == nullptr)
    throw ScriptError(fmt::format("no loaded plug-in is named \"{}\"", deepName));
  // An unknown command gets its arguments as texts; the manager then answers.
  const kelvarin::TCommands* commands = plugin->Commands();
  const kelvarin::TCommand* command = commands != nullptr ? commands->Find(commandName) : nullptr;
  const CommandArguments args(
      CommandArguments::TypesOf(command != nullptr ? command->Params() : nullptr),
      {words.begin() + 3, words.end()});
  const kelvarin::TKelMethodResult result =
      form_.ulmKelMan1->ExecuteCommand(plugin, commandName, args.values());
  // A plug-in's failure text must not drive the terminal.
  std::printf("%s: %s\n", commandName.c_str(),
              result.Success ? "OK" : keltk::ShownText(result.ErrorMsg).c_str());
  std::fflush(stdout);
}

void ScriptRunner::wait(const std::vector<std::string>& words) {
  expectWords(words, 2, 2, "wait MS");
  const std::string& text = words[1];
  int ms = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), ms);
  if (ec != std::errc() || end != text.data() + text.size() || ms < 0)
    throw ScriptError(fmt::format("\"{}\" is not a number of milliseconds", text));
  waiting_ = true;
  waitUntil_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
}

void ScriptRunner::screenshot(const std::vector<std::string>& words) {
  expectWords(words, 3, 3, "screenshot COMPONENT PATH");
  const keltk::TForm* form = findShownForm(words[1]);
  if (form == nullptr) throw ScriptError(fmt::format("no shown window is named \"{}\"", words[1]));
  keltk::TGuiBackend* backend = keltk::GuiBackend();
  if (backend == nullptr) throw ScriptError("no window system is running");
  if (!backend->grabToPng(*form, words[2]))
    throw ScriptError(fmt::format("cannot write \"{}\"", words[2]));
}

void ScriptRunner::closeWindow(const std::vector<std::string>& words) {
  expectWords(words, 2, 2, "close-window COMPONENT");
  keltk::TForm* form = findShownForm(words[1]);
  if (form == nullptr) throw ScriptError(fmt::format("no shown window is named \"{}\"", words[1]));
  if (form == &form_) {
    closeMainForm();
    return;
  }
  form->Close();
}

} // namespace tavlo
