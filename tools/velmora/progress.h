// The progress callback the command hands to the library: redraws one line on
// the terminal with the runs done, the time spent and the time left, and
// answers "stop" once the user has interrupted the run. Before the run the
// same line says what the command is doing (reading, measuring).
#pragma once

#include <chrono>
#include <stdexcept>
#include <string>

// The user or a test stopped the run through the progress callback.
struct Interrupted : std::runtime_error {
    Interrupted() : std::runtime_error("interrupted") {}
};

struct ProgressState {
    bool draw = false;           // the console is a terminal and the user wants a bar
    long totalTiles = 0;         // what the library's percentages are shares of
    std::string unit = "tiles";  // what they count
    std::string label;           // shown before the bar (the input's name in a batch)
    long stopAfterCalls = -1;    // answer "stop" from this call on (for tests), or -1
    long calls = 0;
    bool stopped = false;  // the callback asked the library to stop
    bool drawn = false;
    size_t drawnWidth = 0;
    std::chrono::steady_clock::time_point started{};
    std::chrono::steady_clock::time_point lastDrawn{};
};

// A ProgressCallback: userData is the ProgressState.
bool reportProgress(void* userData, float percent);

// Clears the bar's line, so that the next line the command writes replaces it.
void finishProgress(ProgressState& state);

// Shows what the command is doing on the bar's line ("reading photo.jpg"),
// at once, until the bar or the next line replaces it.
void showStatus(ProgressState& state, const std::string& text);

// "[#####...............]  25%  3/12 tiles  0:04 spent  0:12 left" for the
// given state; `left` is empty until a tile is done.
std::string progressLine(double percent, long totalTiles, double secondsSpent, size_t barWidth = 24,
                         const std::string& unit = "tiles");

// 0:07, 12:30, 1:02:03.
std::string clockText(double seconds);
