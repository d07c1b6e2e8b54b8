// greeter-service: Greeter.kel in a program without windows (a command-line tool,
// a service). It loads the plug-in, runs its command and unloads it. Plug-ins'
// message boxes go to standard error; unloads that had to wait are carried out
// by the application's idle steps (Run).
//   greeter-service PATH/Greeter.kel [WHO]
#include <cstdio>
#include <keltk/Application.h>
#include <keltk/Dialogs.h>
#include <keltk/VarRec.h>
#include <kelvarin/EndingSignals.h>
#include <kelvarin/manager.h>
#include <kelvarin/plugin.h>
#include <memory>
#include <string>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: greeter-service PATH/Greeter.kel [WHO]\n");
    return 2;
  }
  kelvarin::HandleEndingSignals(); // SIGTERM, SIGINT, SIGHUP end Run's idle steps
  keltk::SetMessageBoxHandler(
      [](const std::string& text) { std::fprintf(stderr, "message: %s\n", text.c_str()); });
  // No form to own it: the manager writes its log when it is freed.
  const std::unique_ptr<kelvarin::TulmKelMan, keltk::ObjectDeleter> manager(
      keltk::CreateObject<kelvarin::TulmKelMan>(nullptr));
  manager->Log()->SetDumpFile("%HostApp%.kel.log");

  kelvarin::TulmKel* greeter = nullptr;
  if (const auto loaded = manager->LoadPlugin(argv[1], &greeter); !loaded.Success) {
    std::fprintf(stderr, "%s\n", loaded.ErrorMsg.c_str());
    return 1;
  }
  const std::string who = argc > 2 ? argv[2] : "World";
  const auto greeted = manager->ExecuteCommand(greeter, "Greet", {keltk::VarStr(who)});
  std::printf("Greet: %s\n", greeted.Success ? "done" : greeted.ErrorMsg.c_str());
  (void)manager->UnloadAllPlugins(false);
  keltk::Application()->Run(); // idle steps until none asks for more
  return greeted.Success ? 0 : 1;
}
