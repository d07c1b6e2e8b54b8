// The host of docs/gui-host.md, cut down to what the signal tests need: a main
// form with a manager that writes %HostApp%.kel.log, the plug-ins named on the
// command line loaded with their failures shown in a message box, then the
// event loop.
//   signal-host [--no-window] [--dismiss-box-after MS] PLUGIN...
// It prints "box shown" once a message box is up (closed after MS when given),
// "form alive after the loads" when the loads left the main form in place, and,
// without a window system, "running" once its idle steps go round.
#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <keltk/Application.h>
#include <keltk/Forms.h>
#include <keltk/QtBackend.h>
#include <kelvarin/EndingSignals.h>
#include <kelvarin/Log.h>
#include <kelvarin/manager.h>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

void say(const char* line) {
  std::printf("%s\n", line);
  std::fflush(stdout);
}

class HostForm : public keltk::TForm {
public:
  explicit HostForm(keltk::TComponent* owner) : TForm(owner, keltk::CreateNew) {
    manager = keltk::CreateObject<kelvarin::TulmKelMan>(this);
    manager->SetName("ulmKelMan1");
    manager->Log()->SetDumpFile("%HostApp%.kel.log");
    SetOnClose(keltk::TCloseEvent::bind<&HostForm::FormClose>(this));
  }
  void FormClose(keltk::TObject*, keltk::TCloseAction& Action) {
    Action = keltk::caFree;
    (void)manager->UnloadAllPlugins(false);
  }
  kelvarin::TulmKelMan* manager = nullptr;
};

// Without a window system the idle steps are the host's loop: it keeps asking
// for more, as a host that polls for work would.
class Poller : public keltk::TObject {
public:
  void OnIdle(keltk::TObject* Sender, bool& Done) {
    if (chained) chained(Sender, Done);
    if (!saidRunning) say("running");
    saidRunning = true;
    Done = false;
    ::usleep(1000);
  }
  keltk::TIdleEvent chained;
  bool saidRunning = false;
};

// Says when a message box is up, and closes it after `dismissAfterMs` if given.
void watchBoxes(std::optional<int> dismissAfterMs) {
  auto* timer = new QTimer(qApp);
  QObject::connect(timer, &QTimer::timeout, [timer, dismissAfterMs] {
    auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    timer->stop();
    say("box shown");
    if (dismissAfterMs) QTimer::singleShot(*dismissAfterMs, box, &QDialog::reject);
  });
  timer->start(10);
}

int run(int argc, char** argv, bool window) {
  std::optional<int> dismissAfterMs;
  std::vector<std::string> plugins;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--dismiss-box-after") == 0 && i + 1 < argc)
      dismissAfterMs = std::atoi(argv[++i]);
    else if (std::strcmp(argv[i], "--no-window") != 0)
      plugins.emplace_back(argv[i]);
  }
  kelvarin::HandleEndingSignals();
  keltk::TApplication* app = keltk::Application();
  Poller poller;
  if (window) {
    watchBoxes(dismissAfterMs);
  } else {
    poller.chained = app->OnIdle();
    app->SetOnIdle(keltk::TIdleEvent::bind<&Poller::OnIdle>(&poller));
  }
  auto* form = keltk::CreateObject<HostForm>(app);
  app->SetMainForm(form);
  for (const std::string& plugin : plugins)
    (void)form->manager->LoadPlugin(true, plugin, {});
  if (app->MainForm() == form) say("form alive after the loads");
  app->Run();
  return 0;
}

} // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--no-window") == 0) return run(argc, argv, false);
  keltk::QtBackendScope qt(argc, argv);
  return run(argc, argv, true);
}
