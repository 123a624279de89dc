#include "platform/MessageBox.h"

#include "platform/NoDestructor.h"

#include <cstdio>
#include <memory>
#include <mutex>

namespace platform {
namespace {

// Never destroyed: a worker thread still running while the process exits may ask for a box.
std::mutex& HandlerLock()
{
    static NoDestructor<std::mutex> lock;
    return lock.get();
}

std::shared_ptr<const MessageBoxHandler>& CurrentHandler()
{
    static NoDestructor<std::shared_ptr<const MessageBoxHandler>> handler;
    return handler.get();
}

void WriteToStandardError(const std::string& text, const std::string& caption)
{
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}

}  // namespace

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler)
{
    auto next = handler ? std::make_shared<const MessageBoxHandler>(std::move(handler)) : nullptr;
    std::lock_guard<std::mutex> guard(HandlerLock());
    std::shared_ptr<const MessageBoxHandler> previous = std::move(CurrentHandler());
    CurrentHandler() = std::move(next);
    return previous ? *previous : MessageBoxHandler{};
}

void ShowMessageBox(const std::string& text, const std::string& caption, MessageBoxIcon icon)
{
    std::shared_ptr<const MessageBoxHandler> handler;
    {
        std::lock_guard<std::mutex> guard(HandlerLock());
        handler = CurrentHandler();
    }
    // The handler runs outside the lock: a modal box must not stop another thread from asking.
    if (handler)
        (*handler)(text, caption, icon);
    else
        WriteToStandardError(text, caption);
}

}  // namespace platform
