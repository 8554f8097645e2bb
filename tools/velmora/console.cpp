#include "console.h"

namespace {

std::FILE* stream = nullptr;

}  // namespace

void setConsoleStream(std::FILE* s) { stream = s; }

std::FILE* consoleStream() { return stream ? stream : stderr; }

void say(const std::string& text) {
    std::fprintf(consoleStream(), "velmora: %s\n", text.c_str());
    std::fflush(consoleStream());
}

void sayRaw(const std::string& line) {
    std::fprintf(consoleStream(), "%s\n", line.c_str());
    std::fflush(consoleStream());
}
