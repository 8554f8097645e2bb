#include "progress.h"

#include <cmath>
#include <cstdio>

#include "console.h"
#include "platform.h"

std::string clockText(double seconds) {
    const long total = std::lround(std::fmax(seconds, 0.0));
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    return text;
}

std::string progressLine(double percent, long totalTiles, double secondsSpent, size_t barWidth,
                         const std::string& unit) {
    const double share = std::fmin(std::fmax(percent, 0.0), 100.0) / 100.0;
    const auto filled = static_cast<size_t>(share * static_cast<double>(barWidth));
    std::string line = "[" + std::string(filled, '#') + std::string(barWidth - filled, '.') + "]";
    char text[160];
    const long done = std::lround(share * static_cast<double>(totalTiles));
    std::snprintf(text, sizeof text, " %3.0f%%  %ld/%ld %s  %s spent", share * 100.0, done, totalTiles, unit.c_str(),
                  clockText(secondsSpent).c_str());
    line += text;
    if (done > 0 && done < totalTiles)
        line += "  " + clockText(secondsSpent / static_cast<double>(done) * static_cast<double>(totalTiles - done)) +
                " left";
    return line;
}

namespace {

// Redraws the line in place, blanking what a longer line left.
void drawLine(ProgressState& state, std::string line) {
    const size_t width = line.size();
    if (width < state.drawnWidth) line += std::string(state.drawnWidth - width, ' ');
    std::fprintf(consoleStream(), "\r%s", line.c_str());
    std::fflush(consoleStream());
    state.drawn = true;
    state.drawnWidth = width;
}

}  // namespace

void showStatus(ProgressState& state, const std::string& text) {
    if (state.draw) drawLine(state, text + " ...");
}

bool reportProgress(void* userData, float percent) {
    auto& state = *static_cast<ProgressState*>(userData);
    const auto now = std::chrono::steady_clock::now();
    if (state.calls++ == 0) state.started = now;
    // A redraw ten times a second at most, and always the first and the last.
    const bool due = state.calls == 1 || percent >= 100.0f || now - state.lastDrawn >= std::chrono::milliseconds(100);
    if (state.draw && due) {
        const double spent = std::chrono::duration<double>(now - state.started).count();
        drawLine(state, (state.label.empty() ? "" : state.label + " ") +
                            progressLine(percent, state.totalTiles, spent, 24, state.unit));
        state.lastDrawn = now;
    }
    if (interruptRequested() || (state.stopAfterCalls >= 0 && state.calls > state.stopAfterCalls)) {
        state.stopped = true;
        return true;
    }
    return false;
}

void finishProgress(ProgressState& state) {
    if (!state.drawn) return;
    std::fprintf(consoleStream(), "\r%s\r", std::string(state.drawnWidth, ' ').c_str());
    std::fflush(consoleStream());
    state.drawn = false;
    state.drawnWidth = 0;
}
