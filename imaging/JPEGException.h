#pragma once
#include <exception>
#include <string>

// A fatal error of the JPEG library while decoding; what() reads "JPEG Exception: " + detail.
class CJPEGException : public std::exception {
public:
    explicit CJPEGException(const std::string& detail) : message_("JPEG Exception: " + detail) {}
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};
