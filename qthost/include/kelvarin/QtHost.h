// Any Qt Widgets program as a Kelvarin host.
//
// After the program has made its QApplication and its QMainWindow:
//   kelvarin::QtHost host(&mainWindow);  // the window's menuBar() is the main menu
//   host.SetPluginsMenu(pluginsMenu);    // where tmPluginsTopLevelMenu merges go
//   kelvarin::TulmKelMan* manager = host.Manager();
// Plug-ins see a toolkit main form (Application()->MainForm()) that stands for
// the window (its caption, bounds and visibility are the window's) with a main
// menu whose items stand for the window's menus and entries; what they merge
// becomes real entries in those menus. Their forms and message boxes are stacked
// over the window. Closing the window unloads every plug-in.
#pragma once

#include <memory>

class QMainWindow;
class QMenu;

namespace kelvarin {

class TulmKelMan;

class QtHost {
public:
  // Installs the toolkit's Qt window system on the program's QApplication unless
  // it is installed already; the application's quit policy stays as it is.
  explicit QtHost(QMainWindow* window);
  // Destroys the manager (which writes its log) and takes away what it installed.
  ~QtHost();
  QtHost(const QtHost&) = delete;
  QtHost& operator=(const QtHost&) = delete;

  TulmKelMan* Manager() const;
  // `menu` is one of the window's menus (null: none).
  void SetPluginsMenu(QMenu* menu);

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

} // namespace kelvarin
