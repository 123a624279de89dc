#pragma once
#include <exception>
#include <string>

// An error of the readers of a card's files; what() reads "AVCHD Exception: " + message.
class CAVCHDException : public std::exception {
public:
    explicit CAVCHDException(const std::string& message) : message_("AVCHD Exception: " + message) {}
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};
