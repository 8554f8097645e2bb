// The console channel: every line the library prints goes through here, to
// the host process's standard output or standard error. Nothing printed here
// goes to the log file.
#pragma once

#include <string>
#include <string_view>

enum class ConsoleStream { output, error };

// Writes the text and a line end, then flushes.
void consoleLine(std::string_view text, ConsoleStream stream = ConsoleStream::output);

// The same on the wide standard output, for texts the platform gives as wide
// characters (adapter names). A text the console cannot show does not silence
// later lines.
void consoleWideLine(std::wstring_view text);

// Library messages (the settings store's): the text, a line end and an empty
// line on standard output, flushing after each line.
void writeConsoleMessage(const std::string& text);

using MessageSink = void (*)(const std::string& text);

// The sink the settings store reports through; always writeConsoleMessage.
extern const MessageSink messageSink;
