#include "output_capture.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <sstream>

#include "console.h"
#include "output_capture_platform.h"

namespace cp = capture_platform;

struct OutputCapture::State {
    int file = -1;      // the temporary file
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

std::string withoutEscapes(const std::string& line) {
    std::string out;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\x1b' && i + 1 < line.size() && line[i + 1] == '[') {
            i += 2;
            while (i < line.size() && !(line[i] >= '@' && line[i] <= '~')) ++i;
            continue;
        }
        if (line[i] != '\r') out += line[i];
    }
    return out;
}

bool speaksOfFailure(const std::string& line) {
    // The runtime's log marks its severity: [E:...] error, [F:...] fatal, [W:...] warning.
    for (const char* mark : {"[E:", "[F:", "[W:"})
        if (line.find(mark) != std::string::npos) return true;
    for (const char* mark : {"[I:", "[V:"})
        if (line.find(mark) != std::string::npos) return false;
    std::string lower = line;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    for (const char* word : {"error", "fail", "exception", "not enough", "cannot", "can't", "invalid", "refused"})
        if (lower.find(word) != std::string::npos) return true;
    return false;
}

}  // namespace

OutputCapture::OutputCapture() : state(std::make_unique<State>()) {
    flushAll();
    State& s = *state;
    s.file = cp::openTemporaryFile();
    if (s.file < 0) return;
    s.savedOut = cp::duplicate(1);
    s.savedErr = cp::duplicate(2);
    const int consoleFd = s.savedErr >= 0 ? cp::duplicate(s.savedErr) : -1;
    s.console = consoleFd >= 0 ? cp::writingStream(consoleFd) : nullptr;
    if (s.savedOut < 0 || s.savedErr < 0 || !s.console || !cp::redirect(s.file, 1) || !cp::redirect(s.file, 2)) {
        // Everything back as it was: the command then runs uncaptured.
        if (s.console)
            std::fclose(s.console);
        else if (consoleFd >= 0)
            cp::closeDescriptor(consoleFd);
        if (s.savedOut >= 0) cp::redirect(s.savedOut, 1), cp::closeDescriptor(s.savedOut);
        if (s.savedErr >= 0) cp::redirect(s.savedErr, 2), cp::closeDescriptor(s.savedErr);
        cp::closeDescriptor(s.file);
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
    cp::redirect(s.savedOut, 1);
    cp::redirect(s.savedErr, 2);
    cp::closeDescriptor(s.savedOut);
    cp::closeDescriptor(s.savedErr);
    cp::closeDescriptor(s.file);
}

bool OutputCapture::active() const { return state->file >= 0; }

std::string OutputCapture::take() {
    State& s = *state;
    if (s.file < 0) return {};
    flushAll();
    return cp::takeContents(s.file);
}

std::vector<std::string> explainingLines(const std::string& captured, size_t limit) {
    std::vector<std::string> lines;
    std::istringstream in(captured);
    for (std::string line; std::getline(in, line);) {
        line = withoutEscapes(line);
        if (!line.empty() && speaksOfFailure(line)) lines.push_back(line);
    }
    if (lines.size() > limit) lines.erase(lines.begin(), lines.end() - static_cast<std::ptrdiff_t>(limit));
    return lines;
}
