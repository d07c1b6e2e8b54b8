// A small host for Greeter.kel: a main form with a menu bar whose "&Plugins" item
// receives the plug-ins' menus, and a manager that loads, drives and unloads.
//   greeter-host PATH/Greeter.kel
// It prints the menu bar with Greeter's entry merged, runs Greeter's command and
// chooses its menu item; with a display it then shows the form until you close
// it. Without one (or offscreen) it goes straight on, so it runs anywhere. Why a
// load failed goes to standard error.
// With --screenshot the form is shown with its menu bar, Greeter's menu merged
// into it, and a picture of the open "Plugins" menu is saved:
//   greeter-host --screenshot MENU.png PATH/Greeter.kel
#include <cstdio>
#include <cstdlib>
#include <keltk/Application.h>
#include <keltk/Exception.h>
#include <keltk/Forms.h>
#include <keltk/Menus.h>
#include <keltk/QtBackend.h>
#include <kelvarin/manager.h>
#include <kelvarin/plugin.h>
#include <optional>
#include <string>
#include <string_view>

namespace {

// Prints a menu item and its sub-items as the menus show them (no `&` marks),
// indented by depth.
void printMenu(const keltk::TMenuItem* item, int depth) {
  for (int i = 0; i < item->Count(); ++i) {
    const std::string caption = keltk::StripHotkey(item->Items(i)->Caption());
    std::printf("%*s%s\n", depth * 2, "", caption.c_str());
    printMenu(item->Items(i), depth + 1);
  }
}

// A window someone can close: offscreen nobody could.
bool hasDisplay() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform != nullptr && std::string_view(platform) == "offscreen") return false;
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

// Loads the plug-in; a failure is told with the manager's text and, when the
// module itself said why, its reason.
kelvarin::TulmKel* load(kelvarin::TulmKelMan& manager, const std::string& pluginPath) {
  kelvarin::TulmKel* plugin = nullptr;
  const kelvarin::TKelMethodResult result = manager.LoadPlugin(pluginPath, &plugin);
  if (result.Success) return plugin;
  std::fprintf(stderr, "greeter-host: Loading %s: %s\n", pluginPath.c_str(),
               result.ErrorMsg.c_str());
  if (!manager.LastModuleError().empty())
    std::fprintf(stderr, "greeter-host: %s\n", manager.LastModuleError().c_str());
  return nullptr;
}

// False, and why on standard error, when an operation failed.
bool succeeded(const kelvarin::TKelMethodResult& result, const char* what) {
  if (result.Success) return true;
  std::fprintf(stderr, "greeter-host: %s: %s\n", what, result.ErrorMsg.c_str());
  return false;
}

struct Host {
  keltk::TForm* form;
  keltk::TMainMenu* menu;
  keltk::TMenuItem* plugins;
  kelvarin::TulmKelMan* manager;
};

// The main form carries the menu bar and the manager.
Host makeHost() {
  auto* form = keltk::CreateObject<keltk::TForm>(keltk::Application(), keltk::CreateNew);
  keltk::Application()->SetMainForm(form);
  auto* menu = keltk::CreateObject<keltk::TMainMenu>(form);
  form->SetMenu(menu);
  auto* plugins = keltk::CreateObject<keltk::TMenuItem>(form);
  plugins->SetCaption("&Plugins");
  menu->Items()->Add(plugins);
  auto* manager = keltk::CreateObject<kelvarin::TulmKelMan>(form);
  manager->SetName("ulmKelMan1");
  manager->SetPluginsTopLevelMenu(plugins);
  manager->Log()->SetDumpFile("%HostApp%.kel.log");
  form->SetCaption("Greeter Host");
  form->SetBounds(120, 120, 360, 160);
  return {form, menu, plugins, manager};
}

// Shows the host with Greeter's menu merged and saves the open "Plugins" menu.
int screenshot(const std::string& pluginPath, const std::string& png) {
  const Host host = makeHost();
  auto item = [&](keltk::TMenuItem* parent, int index, const char* caption) {
    auto* added = keltk::CreateObject<keltk::TMenuItem>(host.form);
    added->SetCaption(caption);
    parent->Insert(index, added);
  };
  item(host.menu->Items(), 0, "&File");
  item(host.menu->Items(), 2, "&Help");
  item(host.plugins, 0, "&Load Plug-in...");
  item(host.plugins, 1, "-");
  host.form->Show();
  kelvarin::TulmKel* greeter = load(*host.manager, pluginPath);
  if (greeter == nullptr) return 1;
  if (!succeeded(greeter->MergeMenu(), "Merging Greeter's menu")) return 1;
  if (!keltk::GrabOpenMenuToPng(*host.form, *host.plugins, png)) return 1;
  std::printf("Menu with Greeter's entry: %s\n", png.c_str());
  return succeeded(host.manager->UnloadPlugin(greeter), "Unloading Greeter") ? 0 : 1;
}

int run(const std::string& pluginPath, bool showForm) {
  const Host host = makeHost();
  keltk::TMainMenu* menu = host.menu;
  keltk::TMenuItem* plugins = host.plugins;
  kelvarin::TulmKelMan* manager = host.manager;

  kelvarin::TulmKel* greeter = load(*manager, pluginPath);
  if (greeter == nullptr) return 1;
  // Greeter leaves merging to its host (MenuMerging.Automatic = False).
  if (!succeeded(greeter->MergeMenu(), "Merging Greeter's menu")) return 1;
  printMenu(menu->Items(), 0);

  const std::string who = "World"; // arguments refer to their values; keep them alive
  keltk::TVarRec args[] = {keltk::VarStr(who)};
  if (!succeeded(manager->ExecuteCommand(greeter, "Greet", args), "Greet")) return 1;
  plugins->Items(0)->Click(); // as if the user chose "Say Hello"
  // Closing the main form hides it and ends the loop; the form stays for the rest.
  if (showForm) {
    std::fflush(stdout); // the menu is read while the window is up, also through a pipe
    keltk::Application()->Run();
  }

  if (!succeeded(manager->UnloadPlugin(greeter), "Unloading Greeter")) return 1;
  printMenu(menu->Items(), 0); // the merged item went with the plug-in
  return 0;                    // the log is written when the manager closes
}

} // namespace

int main(int argc, char** argv) {
  const bool shot = argc == 4 && std::string(argv[1]) == "--screenshot";
  if (argc != 2 && !shot) {
    std::fprintf(stderr, "usage: greeter-host [--screenshot MENU.png] PATH/Greeter.kel\n");
    return 2;
  }
  const bool showForm = !shot && hasDisplay();
  int status = 1;
  try {
    // Forms get windows only while Qt is installed, so it comes first.
    std::optional<keltk::QtBackendScope> qt;
    if (shot || showForm) qt.emplace(argc, argv);
    status = shot ? screenshot(argv[3], argv[2]) : run(argv[1], showForm);
    keltk::FreeObject(keltk::Application()->MainForm());
  } catch (const keltk::Exception& e) {
    std::fprintf(stderr, "greeter-host: %s\n", e.Message().c_str());
  }
  return status;
}
