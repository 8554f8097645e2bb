// What the log file needs from the platform: where the temporary folder is
// named, how local time is taken, and how a line is appended to a shared file.
#pragma once

#include <ctime>
#include <span>
#include <string>

namespace log_platform {

// Environment variables naming the temporary folder, most preferred first.
std::span<const char* const> temporaryFolderVariables();

char folderSeparator();

// False when the time cannot be converted.
bool toLocalTime(std::time_t time, std::tm& local);

// Appends the line and the platform's line end to the file, creating it when
// missing, opened so that other readers and writers are not locked out.
// Failures are dropped.
void appendLine(const std::string& path, const std::string& line);

}  // namespace log_platform
