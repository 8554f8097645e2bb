#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <stdio.h>
#include <sys/stat.h>
#include <windows.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "console.h"
#include "output_capture.h"

struct OutputCapture::State {
    int file = -1;  // a temporary file that is deleted when closed
    int savedOut = -1;
    int savedErr = -1;
    std::FILE* console = nullptr;
};

namespace {

void flushAll() {
    std::cout.flush();
    std::cerr.flush();
    std::fflush(stdout);
    std::fflush(stderr);
}

int temporaryFile() {
    wchar_t folder[MAX_PATH + 1];
    wchar_t name[MAX_PATH + 1];
    if (!GetTempPathW(MAX_PATH + 1, folder) || !GetTempFileNameW(folder, L"vel", 0, name)) return -1;
    int fd = -1;
    if (_wsopen_s(&fd, name, _O_RDWR | _O_BINARY | _O_TEMPORARY | _O_NOINHERIT, _SH_DENYNO, _S_IREAD | _S_IWRITE) != 0)
        return -1;
    return fd;
}

}  // namespace

OutputCapture::OutputCapture() : state(std::make_unique<State>()) {
    flushAll();
    State& s = *state;
    s.file = temporaryFile();
    if (s.file < 0) return;
    s.savedOut = _dup(1);
    s.savedErr = _dup(2);
    const int consoleFd = s.savedErr >= 0 ? _dup(s.savedErr) : -1;
    s.console = consoleFd >= 0 ? _fdopen(consoleFd, "w") : nullptr;
    if (s.savedOut < 0 || s.savedErr < 0 || !s.console || _dup2(s.file, 1) != 0 || _dup2(s.file, 2) != 0) {
        if (s.console)
            std::fclose(s.console);
        else if (consoleFd >= 0)
            _close(consoleFd);
        if (s.savedOut >= 0) _dup2(s.savedOut, 1), _close(s.savedOut);
        if (s.savedErr >= 0) _dup2(s.savedErr, 2), _close(s.savedErr);
        _close(s.file);
        s = State{};
        return;
    }
    setConsoleStream(s.console);
}

OutputCapture::~OutputCapture() {
    State& s = *state;
    if (s.file < 0) return;
    flushAll();
    setConsoleStream(nullptr);
    std::fclose(s.console);
    _dup2(s.savedOut, 1);
    _dup2(s.savedErr, 2);
    _close(s.savedOut);
    _close(s.savedErr);
    _close(s.file);
}

bool OutputCapture::active() const { return state->file >= 0; }

std::string OutputCapture::take() {
    State& s = *state;
    if (s.file < 0) return {};
    flushAll();
    std::string text;
    char buffer[65536];
    _lseeki64(s.file, 0, SEEK_SET);
    for (;;) {
        const int n = _read(s.file, buffer, sizeof buffer);
        if (n <= 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    _chsize_s(s.file, 0);
    _lseeki64(s.file, 0, SEEK_SET);
    return text;
}
