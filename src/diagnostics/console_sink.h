// The console channel for library messages: a process-wide sink that writes
// to standard output. Fixed when the library is loaded, so reading it needs
// no synchronisation.
#pragma once

#include <string>

using MessageSink = void (*)(const std::string& text);

// Writes the text, a line end and an empty line to standard output, flushing
// after each line.
void writeConsoleMessage(const std::string& text);

// The sink every library message goes through; always writeConsoleMessage.
extern const MessageSink messageSink;
