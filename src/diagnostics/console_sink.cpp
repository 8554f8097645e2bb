#include "diagnostics/console_sink.h"

#include <cstdio>

// stdio rather than iostreams: the sink may be used by static initialisers
// of other units while the library loads, before iostreams are guaranteed to
// be set up; std::cout stays in order with it because it syncs with stdio.
void writeConsoleMessage(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Constant-initialised, so it is set before any code of the library runs.
extern const MessageSink messageSink = &writeConsoleMessage;
