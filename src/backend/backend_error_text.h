// One error text for the whole process, shared by every backend object. It is
// cumulative and never cleared; contexts on different threads may append to
// and read it at once, so it is guarded.
#pragma once

#include <string>

// Appends `message`; a message ending in a line feed gets one more.
void appendBackendErrorText(std::string message);
std::string backendErrorTextCopy();
