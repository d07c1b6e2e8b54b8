// The simple modal message box, as a service that tests and scripts can intercept.
#pragma once

#include <functional>
#include <string>

namespace keltk {

using MessageBoxHandler = std::function<void(const std::string& text)>;

// Shows `text` with one OK button and waits until it is dismissed. Under a running
// window system a modal dialog; without one, the text goes to standard error.
void ShowMessage(const std::string& text);

// Replaces the handler ShowMessage uses (empty restores the default); returns the
// previous one. Each toolkit copy has its own.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

} // namespace keltk
