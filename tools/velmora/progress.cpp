#include "progress.h"

#include <cmath>
#include <cstdio>

#include "platform.h"

bool reportProgress(void* userData, float percent) {
    auto& state = *static_cast<ProgressState*>(userData);
    ++state.calls;
    if (state.draw) {
        constexpr int width = 40;
        const float clamped = std::fmin(std::fmax(percent, 0.0f), 100.0f);
        const int filled = static_cast<int>(clamped / 100.0f * width);
        char bar[width + 1];
        for (int i = 0; i < width; ++i) bar[i] = i < filled ? '#' : '.';
        bar[width] = '\0';
        std::fprintf(stderr, "%svelmora [%s] %3.0f%%%s", state.ownLines ? "" : "\r", bar, static_cast<double>(clamped),
                     state.ownLines ? "\n" : "");
        std::fflush(stderr);
        state.drawn = true;
    }
    if (interruptRequested() || (state.stopAfterCalls >= 0 && state.calls > state.stopAfterCalls)) {
        state.stopped = true;
        return true;
    }
    return false;
}

void finishProgress(ProgressState& state) {
    if (state.drawn && !state.ownLines) std::fputc('\n', stderr);
    state.drawn = false;
}
