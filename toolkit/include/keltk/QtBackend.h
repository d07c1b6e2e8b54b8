// Starting and stopping the Qt Widgets window system for a program.
//
// A host calls InstallQtBackend (or keeps a QtBackendScope) at the top of main,
// before it creates forms; from then on shown forms get real windows, the
// application's Run waits in Qt's event loop and ShowMessage opens a modal box.
// The header needs no Qt: QWidget is only named.
#pragma once

#include <string>
#include <string_view>

class QAction;
class QMenuBar;
class QWidget;

namespace keltk {

class TControl;
class TForm;
class TMenu;
class TMenuItem;

// Makes Qt the window system of the current application object (Application()).
// Creates the QApplication when the program has none; Qt keeps referring to argc
// and argv, so both must outlive it. Calling it again while installed does nothing.
void InstallQtBackend(int& argc, char** argv);

// Takes every window the backend made away, unregisters the backend and destroys
// the QApplication if InstallQtBackend made it; the forms stay, without windows.
// Refused (false) while an event loop, message box or event handler of the
// backend is running. Call it before main returns (QtBackendScope does): at
// program exit Qt can no longer be taken down safely, so a backend still
// installed then only has the forms let go of their windows.
bool UninstallQtBackend();

bool QtBackendInstalled();

// Makes the program's own `bar` the window-system side of `menu`: `menu` gets one
// item for each of the bar's drop-downs and their entries (caption from the text,
// name from the objectName, Tag from the dynamic property "kelTag"), and items
// merged into it later become real entries in the program's menus. The program's
// entries are never changed: an item that is overwritten is shown by an entry of
// its own in their place, and the program's entry comes back as it was when that
// item is freed. Raises EInvalidOperation while the backend is not installed.
void AdoptMenuBar(TMenu& menu, QMenuBar& bar);
// The item of `menu` that stands for the program's `action`, or null.
TMenuItem* AdoptedItem(const TMenu& menu, const QAction& action);

// Makes `form` stand for the program's own top-level `window`: the form reads the
// window's title, place, client size and visibility, and showing, hiding, moving
// or retitling the form acts on the window, which never gets a menu bar or any
// other looks of the form's and is never deleted by the toolkit. When `form` is
// the main form, plug-in forms and message boxes are stacked over `window` and
// modal with respect to it, as over a main form's own window. Freeing the form
// (or setting another peer) lets go of the window. Raises EInvalidOperation while
// the backend is not installed or when `window` is not a top-level window.
void AdoptWindow(TForm& form, QWidget& window);

// Installs for the lifetime of a scope, e.g. in main.
class QtBackendScope {
public:
  QtBackendScope(int& argc, char** argv) { InstallQtBackend(argc, argv); }
  ~QtBackendScope() { UninstallQtBackend(); }
  QtBackendScope(const QtBackendScope&) = delete;
  QtBackendScope& operator=(const QtBackendScope&) = delete;
};

// The widget that shows `control`, or null while it has none (form not shown yet,
// backend not installed).
QWidget* PeerWidget(const TControl& control);

// Lets a control class outside the toolkit show a widget of its own (a library
// that links Qt, such as Kelvarin::Qt's TQtWidgetHost): a control of class
// `className`, or of a class derived from it, gets a plain surface, and `fill` is
// called with the control and that surface each time the backend makes one, to
// put the control's widget inside. Undo the registration before `fill`'s code is
// unmapped.
using TQtSurfaceFill = void (*)(TControl& control, QWidget& surface);
void RegisterQtSurfaceFill(std::string_view className, TQtSurfaceFill fill);
void UnregisterQtSurfaceFill(std::string_view className);

// Opens the drop-down of `item`, an entry of the menu bar of the shown `form`, as
// a click would, and writes the window with the open drop-down over it to a PNG
// file; the drop-down is closed again. False when there is no such drop-down on
// the screen or the file cannot be written.
bool GrabOpenMenuToPng(const TForm& form, const TMenuItem& item, const std::string& path);

} // namespace keltk
