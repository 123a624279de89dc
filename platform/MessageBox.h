#pragma once
#include <functional>
#include <string>

namespace platform {

enum class MessageBoxIcon { None, Warning };

// The core asks for message boxes through this hook. Without a GUI the text goes to standard
// error; the GUI installs a modal dialog, and tests install a recorder.
using MessageBoxHandler =
    std::function<void(const std::string& text, const std::string& caption, MessageBoxIcon icon)>;

// Installs a handler (an empty one restores the standard-error default) and returns the previous.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

// Shows a box with an OK button through the installed handler. Callable from any thread.
void ShowMessageBox(const std::string& text, const std::string& caption, MessageBoxIcon icon);

}  // namespace platform
