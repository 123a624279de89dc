#pragma once
#include "platform/MessageBox.h"

#include <mutex>
#include <string>
#include <vector>

namespace testing_support {

// Installs itself as the message-box handler for its lifetime and records every box.
class MessageBoxRecorder {
public:
    struct Box {
        std::string text;
        std::string caption;
        platform::MessageBoxIcon icon;
    };

    MessageBoxRecorder()
    {
        previous_ = platform::SetMessageBoxHandler(
            [this](const std::string& text, const std::string& caption, platform::MessageBoxIcon icon) {
                std::lock_guard<std::mutex> guard(lock_);
                boxes_.push_back({text, caption, icon});
            });
    }
    ~MessageBoxRecorder() { platform::SetMessageBoxHandler(previous_); }
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

    std::vector<Box> Boxes()
    {
        std::lock_guard<std::mutex> guard(lock_);
        return boxes_;
    }

private:
    std::mutex lock_;
    std::vector<Box> boxes_;
    platform::MessageBoxHandler previous_;
};

}  // namespace testing_support
