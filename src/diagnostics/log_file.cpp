#include "diagnostics/log_file.h"

#include <atomic>
#include <cstdlib>

#include "diagnostics/log_file_platform.h"

namespace {

std::time_t systemClock() { return std::time(nullptr); }

std::atomic<LogClock> currentClock{&systemClock};

}  // namespace

std::string tempFolderPrefix() {
    for (const char* name : log_platform::temporaryFolderVariables()) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0') {
            return std::string(value) + log_platform::folderSeparator();
        }
    }
    return {};
}

std::string formatLogLine(const std::tm& localTime, const std::string& message) {
    std::string line;
    line.reserve(24 + message.size());
    line += std::to_string(localTime.tm_year + 1900);
    line += '-';
    line += std::to_string(localTime.tm_mon + 1);
    line += '-';
    line += std::to_string(localTime.tm_mday);
    line += ' ';
    line += std::to_string(localTime.tm_hour);
    line += ':';
    line += std::to_string(localTime.tm_min);
    line += ':';
    line += std::to_string(localTime.tm_sec);
    line += ' ';
    line += message;
    return line;
}

void appendLogLine(std::string fileName, std::string message) {
    const std::string path = tempFolderPrefix() + fileName;
    std::tm local{};
    if (!log_platform::toLocalTime(currentClock.load()(), local)) {
        return;
    }
    log_platform::appendLine(path, formatLogLine(local, message));
}

LogClock setLogClock(LogClock clock) { return currentClock.exchange(clock != nullptr ? clock : &systemClock); }
