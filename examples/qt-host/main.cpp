// qt-host: a small Qt Widgets text editor that is a Kelvarin host. Its Plugins
// menu takes the plug-ins' menus; the plug-ins named on the command line are
// loaded at start, while Splash's window shows how far start-up has come (Splash
// named among them, or lying next to the program, which then unloads it again).
//   qt-host [--quit-after-start] [PLUGIN.kel...]
// --quit-after-start closes the window as soon as start-up is done and reports on
// standard error what would otherwise be shown in a box; the exit status is then
// 0 only when every plug-in loaded.
#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeySequence>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTimer>
#include <cstdio>
#include <exception>
#include <keltk/Dialogs.h>
#include <keltk/Exception.h>
#include <keltk/VarRec.h>
#include <kelvarin/QtHost.h>
#include <kelvarin/manager.h>
#include <kelvarin/plugin.h>
#include <string>
#include <vector>

namespace {

struct Options {
  bool quitAfterStart = false;
  std::vector<std::string> plugins;
};

// The window and the entries that need the manager.
struct Editor {
  QMainWindow window;
  QPlainTextEdit* text = nullptr;
  QMenu* plugins = nullptr;
  QAction* load = nullptr;
  QAction* unloadAll = nullptr;
  QAction* about = nullptr;
};

QAction* addAction(QMenu* menu, const QString& text, QKeySequence key = {}) {
  QAction* action = menu->addAction(text);
  action->setShortcut(key);
  return action;
}

void buildWindow(Editor& e) {
  e.window.setWindowTitle("qt-host");
  e.window.resize(640, 420);
  e.text = new QPlainTextEdit(&e.window);
  e.window.setCentralWidget(e.text);
  QMenuBar* bar = e.window.menuBar();

  QMenu* file = bar->addMenu("&File");
  QObject::connect(addAction(file, "&New", QKeySequence::New), &QAction::triggered, e.text,
                   &QPlainTextEdit::clear);
  file->addSeparator();
  QObject::connect(addAction(file, "E&xit", QKeySequence("Ctrl+Q")), &QAction::triggered, &e.window,
                   &QMainWindow::close);

  QMenu* edit = bar->addMenu("&Edit");
  // Each entry does its thing to the text and is enabled while it can.
  auto wire = [&](const QString& text, QKeySequence::StandardKey key,
                  void (QPlainTextEdit::*slot)(), void (QPlainTextEdit::*available)(bool)) {
    QAction* action = addAction(edit, text, key);
    QObject::connect(action, &QAction::triggered, e.text, slot);
    if (available == nullptr) return;
    action->setEnabled(false);
    QObject::connect(e.text, available, action, &QAction::setEnabled);
  };
  wire("&Undo", QKeySequence::Undo, &QPlainTextEdit::undo, &QPlainTextEdit::undoAvailable);
  wire("&Redo", QKeySequence::Redo, &QPlainTextEdit::redo, &QPlainTextEdit::redoAvailable);
  edit->addSeparator();
  wire("Cu&t", QKeySequence::Cut, &QPlainTextEdit::cut, &QPlainTextEdit::copyAvailable);
  wire("&Copy", QKeySequence::Copy, &QPlainTextEdit::copy, &QPlainTextEdit::copyAvailable);
  wire("&Paste", QKeySequence::Paste, &QPlainTextEdit::paste, nullptr);

  e.plugins = bar->addMenu("&Plugins");
  e.load = addAction(e.plugins, "&Load...");
  e.unloadAll = addAction(e.plugins, "&Unload all");
  e.plugins->addSeparator(); // the plug-ins' entries go below

  QMenu* help = bar->addMenu("&Help");
  e.about = addAction(help, "&About");
}

// Tells the user what failed: a box in the window, or a line on standard error
// when nobody is there to dismiss a box. While held (during start-up, when the
// window is not up yet and the splash would cover a box) the texts wait.
class Reporter {
public:
  Reporter(QWidget* parent, bool interactive) : parent_(parent), interactive_(interactive) {}

  void failed(const std::string& what, const std::string& text) {
    failures_ = true;
    const std::string message = what + ":\n" + text;
    if (!interactive_)
      std::fprintf(stderr, "qt-host: %s: %s\n", what.c_str(), text.c_str());
    else if (held_)
      waiting_ += (waiting_.empty() ? "" : "\n\n") + message;
    else
      QMessageBox::warning(parent_, "qt-host", QString::fromStdString(message));
  }
  void hold() { held_ = true; }
  void release() {
    held_ = false;
    if (!waiting_.empty())
      QMessageBox::warning(parent_, "qt-host", QString::fromStdString(waiting_));
    waiting_.clear();
  }
  bool failures() const { return failures_; }

private:
  QWidget* parent_;
  bool interactive_;
  bool held_ = false;
  bool failures_ = false;
  std::string waiting_;
};

// Loads one plug-in; a failure is reported with the manager's text and, when the
// module itself said why, its reason.
kelvarin::TulmKel* load(kelvarin::TulmKelMan& manager, const std::string& file, Reporter& report) {
  kelvarin::TulmKel* plugin = nullptr;
  const kelvarin::TKelMethodResult result = manager.LoadPlugin(false, file, {}, &plugin);
  if (result.Success) return plugin;
  std::string text = result.ErrorMsg;
  if (!manager.LastModuleError().empty()) text += "\n" + manager.LastModuleError();
  report.failed("Loading " + file, text);
  return nullptr;
}

bool isSplash(const std::string& file) {
  return QFileInfo(QString::fromStdString(file))
             .completeBaseName()
             .compare("Splash", Qt::CaseInsensitive) == 0;
}

// Splash's window through its commands: the gauge takes one step per start-up
// step, and the window is hidden when start-up is over. Without Splash it does
// nothing.
class StartupSplash {
public:
  StartupSplash(kelvarin::TulmKelMan& manager, kelvarin::TulmKel* splash, int steps)
      : manager_(manager),
        splash_(splash != nullptr && splash->DeepName() == "Splash Screen" ? splash : nullptr) {
    if (splash_ != nullptr)
      (void)manager_.ExecuteCommand(splash_, "Startup_Gauge",
                                    {keltk::VarInt(0), keltk::VarInt(steps)});
  }
  ~StartupSplash() {
    if (splash_ != nullptr) (void)manager_.ExecuteCommand(splash_, "Hide_Splash");
  }
  StartupSplash(const StartupSplash&) = delete;
  StartupSplash& operator=(const StartupSplash&) = delete;

  void step(const std::string& message) {
    if (splash_ != nullptr)
      (void)manager_.ExecuteCommand(splash_, "Increment_Gauge", {keltk::VarStr(message)});
  }

private:
  kelvarin::TulmKelMan& manager_;
  kelvarin::TulmKel* splash_;
};

// Loads the plug-ins named on the command line, Splash first so that its window
// shows the others loading.
void startUp(kelvarin::TulmKelMan& manager, const std::vector<std::string>& files,
             Reporter& report) {
  std::vector<std::string> others;
  kelvarin::TulmKel* splash = nullptr;
  bool named = false;
  for (const std::string& file : files) {
    if (named || !isSplash(file)) {
      others.push_back(file);
      continue;
    }
    named = true;
    splash = load(manager, file, report);
  }
  // Not named, but shipped next to the program: there for start-up only, and a
  // failure to load it is no more than its log entry.
  const QString beside = QCoreApplication::applicationDirPath() + "/Splash.kel";
  if (!named && QFileInfo::exists(beside))
    (void)manager.LoadPlugin(false, beside.toStdString(), {}, &splash);
  {
    StartupSplash progress(manager, splash, static_cast<int>(others.size()) + 1);
    for (const std::string& file : others) {
      progress.step("Loading " + QFileInfo(QString::fromStdString(file)).fileName().toStdString() +
                    "...");
      (void)load(manager, file, report);
    }
    progress.step("Ready");
  }
  if (!named && splash != nullptr) (void)manager.UnloadPlugin(splash);
}

Options parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--quit-after-start")
      options.quitAfterStart = true;
    else
      options.plugins.push_back(arg);
  }
  return options;
}

int run(QApplication& app, const Options& options) {
  Editor editor;
  buildWindow(editor);
  kelvarin::QtHost host(&editor.window);
  host.SetPluginsMenu(editor.plugins);
  kelvarin::TulmKelMan& manager = *host.Manager();
  manager.Log()->SetDumpFile("%HostApp%.kel.log");

  Reporter report(&editor.window, !options.quitAfterStart);
  // Boxes the plug-ins show would wait for a click that never comes.
  if (options.quitAfterStart)
    (void)keltk::SetMessageBoxHandler(
        [](const std::string& text) { std::fprintf(stderr, "qt-host: %s\n", text.c_str()); });

  QObject::connect(editor.load, &QAction::triggered, &editor.window, [&] {
    const QString file = QFileDialog::getOpenFileName(&editor.window, "Load Plug-in", QString(),
                                                      "Kelvarin plug-ins (*.kel)");
    if (!file.isEmpty()) (void)load(manager, file.toStdString(), report);
  });
  QObject::connect(editor.plugins, &QMenu::aboutToShow, editor.unloadAll,
                   [&] { editor.unloadAll->setEnabled(manager.PluginCount() > 0); });
  QObject::connect(editor.unloadAll, &QAction::triggered, &editor.window, [&] {
    const kelvarin::TKelMethodResult result = manager.UnloadAllPlugins(false);
    if (!result.Success) report.failed("Unloading the plug-ins", result.ErrorMsg);
  });
  QObject::connect(editor.about, &QAction::triggered, &editor.window, [&] {
    QString text = "A Qt Widgets program that is a Kelvarin host.\n\n" +
                   QString::fromStdString(manager.About());
    for (int i = 0; i < manager.PluginCount(); ++i)
      text += "\n" + QString::fromStdString(manager.Plugins(i)->DeepName());
    QMessageBox::about(&editor.window, "About qt-host", text);
  });

  report.hold();
  startUp(manager, options.plugins, report);
  editor.window.show();
  // After show: the box waits in the window's event loop, stacked over it.
  QTimer::singleShot(0, &editor.window, [&] { report.release(); });
  if (options.quitAfterStart) QTimer::singleShot(0, &editor.window, &QMainWindow::close);
  const int status = app.exec();
  return status != 0 ? status : (options.quitAfterStart && report.failures() ? 1 : 0);
}

} // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  try {
    return run(app, parse(argc, argv));
  } catch (const keltk::Exception& e) {
    std::fprintf(stderr, "qt-host: %s\n", e.Message().c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qt-host: %s\n", e.what());
  }
  return 1;
}
