#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>

#include "console.h"
#include "output_capture.h"

struct OutputCapture::State {
    int file = -1;      // the temporary file, already unlinked
    int savedOut = -1;  // the real standard output and error
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
    std::error_code ec;
    std::filesystem::path folder = std::filesystem::temp_directory_path(ec);
    if (ec) folder = "/tmp";
    std::string pattern = (folder / "velmora-output-XXXXXX").string();
    const int fd = mkstemp(pattern.data());
    if (fd >= 0) unlink(pattern.c_str());
    return fd;
}

}  // namespace

OutputCapture::OutputCapture() : state(std::make_unique<State>()) {
    flushAll();
    State& s = *state;
    s.file = temporaryFile();
    if (s.file < 0) return;
    s.savedOut = fcntl(1, F_DUPFD_CLOEXEC, 3);
    s.savedErr = fcntl(2, F_DUPFD_CLOEXEC, 3);
    const int consoleFd = s.savedErr >= 0 ? fcntl(s.savedErr, F_DUPFD_CLOEXEC, 3) : -1;
    s.console = consoleFd >= 0 ? fdopen(consoleFd, "w") : nullptr;
    if (s.savedOut < 0 || s.savedErr < 0 || !s.console || dup2(s.file, 1) < 0 || dup2(s.file, 2) < 0) {
        if (s.console)
            std::fclose(s.console);
        else if (consoleFd >= 0)
            close(consoleFd);
        if (s.savedOut >= 0) dup2(s.savedOut, 1), close(s.savedOut);
        if (s.savedErr >= 0) dup2(s.savedErr, 2), close(s.savedErr);
        close(s.file);
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
    dup2(s.savedOut, 1);
    dup2(s.savedErr, 2);
    close(s.savedOut);
    close(s.savedErr);
    close(s.file);
}

bool OutputCapture::active() const { return state->file >= 0; }

std::string OutputCapture::take() {
    State& s = *state;
    if (s.file < 0) return {};
    flushAll();
    std::string text;
    char buffer[65536];
    for (off_t at = 0;;) {
        const ssize_t n = pread(s.file, buffer, sizeof buffer, at);
        if (n <= 0) break;
        text.append(buffer, static_cast<size_t>(n));
        at += n;
    }
    // Standard output and error share the file's offset: both start again at 0.
    if (ftruncate(s.file, 0) == 0) lseek(s.file, 0, SEEK_SET);
    return text;
}
