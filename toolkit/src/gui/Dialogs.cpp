#include "keltk/Dialogs.h"

#include "keltk/Application.h"
#include "keltk/Backend.h"

#include <cstdio>
#include <mutex>
#include <set>

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

// This copy's own message box: its handler, else its window system or stderr.
void showHere(const std::string& text) {
  // A copy: the handler may replace itself while it runs.
  const MessageBoxHandler handler = currentHandler();
  if (handler)
    handler(text);
  else
    defaultMessageBox(text);
}

// The keys of ShowMessageOnce; a module may show a box from a thread of its own.
struct ShownKeys {
  std::mutex lock;
  std::set<std::string, std::less<>> keys;
};

ShownKeys& shownKeys() {
  static ShownKeys shown;
  return shown;
}

} // namespace

void TApplication::ShowMessageBox(const std::string& text) {
  showHere(text);
}

void ShowMessage(const std::string& text) {
  TApplication* adopted = AdoptedApplication();
  if (!currentHandler() && adopted != nullptr) {
    adopted->ShowMessageBox(text);
    return;
  }
  showHere(text);
}

bool ShowMessageOnce(std::string_view key, const std::string& text) {
  {
    const std::lock_guard<std::mutex> guard(shownKeys().lock);
    if (!shownKeys().keys.emplace(key).second) return false;
  }
  ShowMessage(text);
  return true;
}

void ForgetShownMessage(std::string_view key) {
  const std::lock_guard<std::mutex> guard(shownKeys().lock);
  if (auto it = shownKeys().keys.find(key); it != shownKeys().keys.end())
    shownKeys().keys.erase(it);
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
  MessageBoxHandler previous = std::move(currentHandler());
  currentHandler() = std::move(handler);
  return previous;
}

} // namespace keltk
