#include "kelvarin/QtHost.h"

#include "keltk/Application.h"
#include "keltk/Exception.h"
#include "keltk/Forms.h"
#include "keltk/Menus.h"
#include "keltk/QtBackend.h"
#include "kelvarin/manager.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QTimer>

namespace kelvarin {

namespace {

// What the toolkit side of the host asks of the program's window.
class HostLink : public keltk::TComponent {
public:
  HostLink(keltk::TComponent* owner, QMainWindow* window)
      : keltk::TComponent(owner), window_(window) {}
  static const keltk::TClassInfo& StaticClass() {
    static keltk::TClassInfo info("TQtHostLink", &keltk::TComponent::StaticClass());
    return info;
  }
  const keltk::TClassInfo& ClassType() const override { return StaticClass(); }

  // The main form's close (an ending signal, a plug-in) closes the program's
  // window instead: that is the one its user sees, and its own close handling runs.
  void formClose(keltk::TObject* /*Sender*/, keltk::TCloseAction& action) {
    action = keltk::caNone;
    if (window_ != nullptr) window_->close();
  }
  // An overwritten menu of the program that came back has a new item: the
  // manager's plug-ins menu follows it.
  void menuChange(keltk::TObject* /*Sender*/, keltk::TMenuItem* /*Source*/, bool /*Rebuild*/) {
    if (pluginsMenu == nullptr || manager == nullptr || manager->PluginsTopLevelMenu() != nullptr)
      return;
    if (keltk::TMenuItem* item = keltk::AdoptedItem(*menu, *pluginsMenu->menuAction()))
      manager->SetPluginsTopLevelMenu(item);
  }

  QPointer<QMenu> pluginsMenu;
  keltk::TMainMenu* menu = nullptr;
  TulmKelMan* manager = nullptr;

private:
  QPointer<QMainWindow> window_;
};

} // namespace

struct QtHost::Impl : QObject {
  QPointer<QMainWindow> window;
  // Compared with, never read: the filter also sees the window's last events while
  // it is being destroyed, when it is no QMainWindow any more.
  const QObject* watchedWindow = nullptr;
  bool installedBackend = false;
  bool madeMainForm = false;
  bool closing = false;
  keltk::TForm* form = nullptr;
  keltk::TMainMenu* menu = nullptr;
  TulmKelMan* manager = nullptr;
  HostLink* link = nullptr;

  // A close that the window accepted hides it at once; one it ignored does not.
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != watchedWindow) return false;
    if (event->type() == QEvent::Close) {
      closing = true;
      // Hidden right after the close event when accepted; an ignored close must
      // not turn a later hide (to a tray, say) into an ending.
      QTimer::singleShot(0, this, [this] { closing = false; });
    }
    if (event->type() == QEvent::Hide && closing) {
      closing = false;
      if (manager != nullptr) (void)manager->UnloadAllPlugins(false);
    }
    return false;
  }
};

QtHost::QtHost(QMainWindow* window) : impl_(std::make_unique<Impl>()) {
  if (window == nullptr) throw keltk::EInvalidOperation("QtHost needs a main window");
  Impl& d = *impl_;
  d.window = window;
  d.watchedWindow = window;
  if (!keltk::QtBackendInstalled()) {
    // The program decides when it ends: the backend's own policy is for
    // programs whose main form is a toolkit form.
    const bool quitOnLastWindowClosed = QApplication::quitOnLastWindowClosed();
    static int noArguments = 0;
    keltk::InstallQtBackend(noArguments, nullptr);
    QApplication::setQuitOnLastWindowClosed(quitOnLastWindowClosed);
    d.installedBackend = true;
  }
  keltk::TApplication* app = keltk::Application();
  // It gives plug-ins the main form and main menu they expect, and stands for
  // the program's window: it never shows a window of its own.
  d.form = keltk::CreateObject<keltk::TForm>(app);
  d.link = keltk::CreateObject<HostLink>(d.form, window);
  d.form->SetOnClose(keltk::TCloseEvent::bind<&HostLink::formClose>(d.link));
  d.menu = keltk::CreateObject<keltk::TMainMenu>(d.form);
  d.link->menu = d.menu;
  d.form->SetMenu(d.menu);
  keltk::AdoptMenuBar(*d.menu, *window->menuBar());
  // As the main form, this also makes plug-in forms and message boxes stack over
  // the program's window; freeing the form takes that away again.
  keltk::AdoptWindow(*d.form, *window);
  if (app->MainForm() == nullptr) {
    app->SetMainForm(d.form);
    d.madeMainForm = true;
  }
  d.manager = keltk::CreateObject<TulmKelMan>(d.form);
  d.link->manager = d.manager;
  d.menu->SetOnChange(keltk::TMenuChangeEvent::bind<&HostLink::menuChange>(d.link));
  window->installEventFilter(&d);
}

QtHost::~QtHost() {
  Impl& d = *impl_;
  if (d.window != nullptr) d.window->removeEventFilter(&d);
  // The manager first: unloading unmerges while the program's menus are still shown.
  d.link->manager = nullptr;
  keltk::FreeObject(std::exchange(d.manager, nullptr));
  keltk::TApplication* app = keltk::Application();
  if (d.madeMainForm && app->MainForm() == d.form) app->SetMainForm(nullptr);
  keltk::FreeObject(std::exchange(d.form, nullptr));
  // Refused while one of its loops runs (a host destroyed from a handler); it
  // is then taken down at exit like any installed backend.
  if (d.installedBackend) (void)keltk::UninstallQtBackend();
}

TulmKelMan* QtHost::Manager() const {
  return impl_->manager;
}

void QtHost::SetPluginsMenu(QMenu* menu) {
  keltk::TMenuItem* item =
      menu != nullptr ? keltk::AdoptedItem(*impl_->menu, *menu->menuAction()) : nullptr;
  if (menu != nullptr && item == nullptr)
    throw keltk::EInvalidOperation("The plug-ins menu is not one of the main window's menus");
  impl_->link->pluginsMenu = menu;
  impl_->manager->SetPluginsTopLevelMenu(item);
}

} // namespace kelvarin
