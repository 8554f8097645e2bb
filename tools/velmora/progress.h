// The progress callback the command hands to the library: draws a bar on
// standard error when that is a terminal, and answers "stop" once the user
// has interrupted the run.
#pragma once

struct ProgressState {
    bool draw = false;         // standard error is a terminal
    bool ownLines = false;     // standard output shares the terminal: a line per update
    long stopAfterCalls = -1;  // answer "stop" from this call on (for tests), or -1
    long calls = 0;
    bool stopped = false;  // the callback asked the library to stop
    bool drawn = false;
};

// A ProgressCallback: userData is the ProgressState.
bool reportProgress(void* userData, float percent);

// Ends the bar's line, if one was drawn.
void finishProgress(ProgressState& state);
