#include "console.h"

std::FILE* consoleStream() { return stderr; }

void say(const std::string& text) {
    std::fprintf(consoleStream(), "velmora: %s\n", text.c_str());
    std::fflush(consoleStream());
}

void sayRaw(const std::string& line) {
    std::fprintf(consoleStream(), "%s\n", line.c_str());
    std::fflush(consoleStream());
}
