#include "diagnostics/console_sink.h"

#include <cstdint>
#include <cstdio>
#include <iostream>
#include <type_traits>

namespace {

// stdio rather than iostreams for narrow text: the sink is used by static
// initialisers of other units while the library loads, before iostreams are
// guaranteed to be set up.
void printLine(std::string_view text, std::FILE* file) {
    std::fwrite(text.data(), 1, text.size(), file);
    std::fputc('\n', file);
    std::fflush(file);
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Wide characters are UTF-16 on Windows and UTF-32 elsewhere; anything that
// is not a character (a lone surrogate, a value past U+10FFFF) becomes U+FFFD.
std::string toUtf8(std::wstring_view text) {
    constexpr char32_t kReplacement = 0xFFFD;
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(text[i]));
        if (c >= 0xD800 && c <= 0xDBFF && sizeof(wchar_t) == 2 && i + 1 < text.size()) {
            const auto low = static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(text[i + 1]));
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = kReplacement;
        appendUtf8(out, c);
    }
    return out;
}

}  // namespace

void consoleLine(std::string_view text, Severity severity, ConsoleStream stream) {
    if (sendToHostSink(text, severity, MessageSource::library)) return;
    printLine(text, stream == ConsoleStream::error ? stderr : stdout);
}

void consoleWideLine(std::wstring_view text, Severity severity) {
    if (hostSinkState().set && sendToHostSink(toUtf8(text), severity, MessageSource::library)) return;
    std::wcout << text << std::endl;
    if (!std::wcout) std::wcout.clear();
}

void writeConsoleMessage(const std::string& text) {
    if (sendToHostSink(text, Severity::warning, MessageSource::library)) return;
    printLine(text, stdout);
    printLine("", stdout);
}

// Constant-initialised, so it is set before any code of the library runs.
extern const MessageSink messageSink = &writeConsoleMessage;
