#include "backend/backend_error_text.h"

#include <mutex>

namespace {
std::mutex& textMutex() {
    // Never destroyed: a context deleted late in process exit may still report.
    static std::mutex* mutex = new std::mutex;
    return *mutex;
}
std::string& text() {
    static std::string* backendErrorText = new std::string;
    return *backendErrorText;
}
}  // namespace

void appendBackendErrorText(std::string message) {
    if (!message.empty() && message.back() == '\n') message += '\n';
    std::lock_guard<std::mutex> lock(textMutex());
    text() += message;
}

std::string backendErrorTextCopy() {
    std::lock_guard<std::mutex> lock(textMutex());
    return text();
}
