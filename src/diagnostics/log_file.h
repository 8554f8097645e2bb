// The troubleshooting log: time-stamped lines appended to a file in the
// user's temporary folder. Every file problem is silently dropped; callers
// decide themselves whether logging is enabled before building a message.
#pragma once

#include <ctime>
#include <string>

// The one log file the library writes.
inline constexpr const char* logFileName = "velmora.log";

// The temporary folder followed by the platform's folder separator, or the
// empty text (the current directory) when no temporary folder is named.
// Windows: "TEMP", then "TMP". Elsewhere: "TEMP", "TMP", then "TMPDIR".
// A variable that is set but empty counts as not set.
std::string tempFolderPrefix();

// "year-month-day hour:minute:second message" from a local time, every number
// in plain decimal without leading zeros (2027-1-1 9:5:3). No line end.
std::string formatLogLine(const std::tm& localTime, const std::string& message);

// Opens tempFolderPrefix() + fileName shared for appending, writes one stamped
// line ending in the platform's line end, and closes it again. Nothing is
// reported or thrown when the file cannot be opened or written.
void appendLogLine(std::string fileName, std::string message);

// The source of the time stamped on each line; the system clock by default.
using LogClock = std::time_t (*)();

// Replaces the clock (null restores the system clock) and returns the one it
// replaces. Meant for tests.
LogClock setLogClock(LogClock clock);
