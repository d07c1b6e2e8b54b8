#include "keltk/Dialogs.h"

#include "keltk/Backend.h"

#include <cstdio>

namespace keltk {

namespace {

MessageBoxHandler& currentHandler() {
  static MessageBoxHandler handler;
  return handler;
}

void defaultMessageBox(const std::string& text) {
  TGuiBackend* gui = GuiBackend();
  if (gui == nullptr) gui = ProcessGuiBackend();
  if (gui != nullptr) {
    gui->showMessage(text);
    return;
  }
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

} // namespace

void ShowMessage(const std::string& text) {
  // A copy: the handler may replace itself while it runs.
  const MessageBoxHandler handler = currentHandler();
  if (handler)
    handler(text);
  else
    defaultMessageBox(text);
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
  MessageBoxHandler previous = std::move(currentHandler());
  currentHandler() = std::move(handler);
  return previous;
}

} // namespace keltk
