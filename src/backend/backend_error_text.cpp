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

// The fewest whole lines from the front that bring the text within the
// limit. When the line that reaches past the cut is itself longer than the
// limit (messages without line feeds run together), dropping it would take
// the newest words with it: the last limit bytes stay instead.
void dropOldest(std::string& text) {
    if (text.size() <= kBackendErrorTextLimit) return;
    const size_t excess = text.size() - kBackendErrorTextLimit;
    const size_t lineEnd = text.find('\n', excess - 1);
    const size_t lineStart = excess == 1 ? 0 : text.rfind('\n', excess - 2) + 1;  // npos + 1 is 0
    const bool wholeLine = lineEnd != std::string::npos && lineEnd + 1 - lineStart <= kBackendErrorTextLimit;
    text.erase(0, wholeLine ? lineEnd + 1 : excess);
}
}  // namespace

void appendBackendErrorText(std::string message) {
    if (!message.empty() && message.back() == '\n') message += '\n';
    std::lock_guard<std::mutex> lock(textMutex());
    std::string& kept = text();
    // A message over the limit alone: only its end can stay.
    if (message.size() > kBackendErrorTextLimit) {
        kept.clear();
        message.erase(0, message.size() - kBackendErrorTextLimit);
    }
    kept += message;
    dropOldest(kept);
}

std::string backendErrorTextCopy() {
    std::lock_guard<std::mutex> lock(textMutex());
    return text();
}
