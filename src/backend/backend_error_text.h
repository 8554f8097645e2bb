// One error text for the whole process, shared by every backend object. It is
// cumulative and never cleared, but bounded: past kBackendErrorTextLimit bytes
// its oldest lines go. Contexts on different threads may append to and read
// it at once, so it is guarded.
#pragma once

#include <cstddef>
#include <string>

inline constexpr size_t kBackendErrorTextLimit = 65536;

// Appends `message`; a message ending in a line feed gets one more. Then,
// while the text is over the limit, whole lines (each up to and including
// its line feed) go from its front. A line longer than the limit, or a
// message, is cut instead, keeping the text's last kBackendErrorTextLimit
// bytes.
void appendBackendErrorText(std::string message);
std::string backendErrorTextCopy();
