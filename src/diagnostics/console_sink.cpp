#include "diagnostics/console_sink.h"

#include <cstdio>
#include <iostream>

// stdio rather than iostreams for narrow text: the sink is used by static
// initialisers of other units while the library loads, before iostreams are
// guaranteed to be set up.
void consoleLine(std::string_view text, ConsoleStream stream) {
    std::FILE* file = stream == ConsoleStream::error ? stderr : stdout;
    std::fwrite(text.data(), 1, text.size(), file);
    std::fputc('\n', file);
    std::fflush(file);
}

void consoleWideLine(std::wstring_view text) {
    std::wcout << text << std::endl;
    if (!std::wcout) std::wcout.clear();
}

void writeConsoleMessage(const std::string& text) {
    consoleLine(text);
    consoleLine("");
}

// Constant-initialised, so it is set before any code of the library runs.
extern const MessageSink messageSink = &writeConsoleMessage;
