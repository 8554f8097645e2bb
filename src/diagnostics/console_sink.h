// The console channel: every line the library prints goes through here, to
// the host process's standard output or standard error, or to the host's
// sink when one is set (diagnostics/host_sink.h). Nothing printed here goes
// to the log file.
#pragma once

#include <string>
#include <string_view>

#include "diagnostics/host_sink.h"

enum class ConsoleStream { output, error };

// Writes the text and a line end, then flushes. The severity is what a
// host's sink is told; the console does not show it.
void consoleLine(std::string_view text, Severity severity = Severity::info,
                 ConsoleStream stream = ConsoleStream::output);

// The same on the wide standard output, for texts the platform gives as wide
// characters (adapter names); a sink gets them as UTF-8. A text the console
// cannot show does not silence later lines.
void consoleWideLine(std::wstring_view text, Severity severity = Severity::info);

// Library messages (the settings store's): the text, a line end and an empty
// line on standard output, flushing after each line. A sink gets the text
// alone, as a warning.
void writeConsoleMessage(const std::string& text);

using MessageSink = void (*)(const std::string& text);

// The sink the settings store reports through; always writeConsoleMessage.
extern const MessageSink messageSink;
