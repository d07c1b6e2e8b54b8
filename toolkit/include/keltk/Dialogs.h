// The simple modal message box, as a service that tests and scripts can intercept.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace keltk {

using MessageBoxHandler = std::function<void(const std::string& text)>;

// Shows `text` with one OK button and waits until it is dismissed. Under a running
// window system a modal dialog; without one, the text goes to standard error. A
// copy without a handler of its own whose current application is another copy's
// (a plug-in's, once it took over the host's) shows the box through that copy.
void ShowMessage(const std::string& text);

// ShowMessage, unless this toolkit copy has shown a box under `key` before; true
// when it shows it. The keys live as long as this copy stays mapped.
bool ShowMessageOnce(std::string_view key, const std::string& text);
// Lets ShowMessageOnce show a box under `key` again.
void ForgetShownMessage(std::string_view key);

// Replaces the handler ShowMessage uses (empty restores the default); returns the
// previous one. Each toolkit copy has its own.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

} // namespace keltk
