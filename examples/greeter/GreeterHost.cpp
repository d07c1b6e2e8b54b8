// A small host for Greeter.kel: a main form with a menu bar whose "&Plugins" item
// receives the plug-ins' menus, and a manager that loads, drives and unloads.
// No window is shown, so it runs anywhere, also without a display.
//   greeter-host PATH/Greeter.kel
// With --screenshot the form is shown with its menu bar, Greeter's menu merged
// into it, and a picture of the open "Plugins" menu is saved:
//   greeter-host --screenshot MENU.png PATH/Greeter.kel
#include <cstdio>
#include <keltk/Application.h>
#include <keltk/Exception.h>
#include <keltk/Forms.h>
#include <keltk/Menus.h>
#include <keltk/QtBackend.h>
#include <kelvarin/manager.h>
#include <kelvarin/plugin.h>
#include <string>

namespace {

// Prints a menu item and its sub-items, indented by depth.
void printMenu(const keltk::TMenuItem* item, int depth) {
  for (int i = 0; i < item->Count(); ++i) {
    std::printf("%*s%s\n", depth * 2, "", item->Items(i)->Caption().c_str());
    printMenu(item->Items(i), depth + 1);
  }
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
  host.form->SetCaption("Greeter Host");
  host.form->SetBounds(120, 120, 360, 160);
  host.form->Show();
  kelvarin::TulmKel* greeter = nullptr;
  if (!host.manager->LoadPlugin(pluginPath, &greeter).Success) return 1;
  if (!greeter->MergeMenu().Success) return 1;
  if (!keltk::GrabOpenMenuToPng(*host.form, *host.plugins, png)) return 1;
  std::printf("Menu with Greeter's entry: %s\n", png.c_str());
  return host.manager->UnloadPlugin(greeter).Success ? 0 : 1;
}

int run(const std::string& pluginPath) {
  const Host host = makeHost();
  keltk::TMainMenu* menu = host.menu;
  keltk::TMenuItem* plugins = host.plugins;
  kelvarin::TulmKelMan* manager = host.manager;

  kelvarin::TulmKel* greeter = nullptr;
  if (!manager->LoadPlugin(pluginPath, &greeter).Success) return 1;
  // Greeter leaves merging to its host (MenuMerging.Automatic = False).
  if (!greeter->MergeMenu().Success) return 1;
  printMenu(menu->Items(), 0);

  const std::string who = "World"; // arguments refer to their values; keep them alive
  keltk::TVarRec args[] = {keltk::VarStr(who)};
  if (!manager->ExecuteCommand(greeter, "Greet", args).Success) return 1;
  plugins->Items(0)->Click(); // as if the user chose "Say Hello"

  if (!manager->UnloadPlugin(greeter).Success) return 1;
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
  int status = 1;
  try {
    if (shot) {
      keltk::QtBackendScope qt(argc, argv);
      status = screenshot(argv[3], argv[2]);
      keltk::FreeObject(keltk::Application()->MainForm());
      return status;
    }
    status = run(argv[1]);
    keltk::FreeObject(keltk::Application()->MainForm());
  } catch (const keltk::Exception& e) {
    std::fprintf(stderr, "greeter-host: %s\n", e.Message().c_str());
  }
  return status;
}
