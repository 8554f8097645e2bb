// Keeps what the library and the runtime write on standard output and error
// (file descriptors 1 and 2, so that the runtime's own writes are caught too)
// in a temporary file while the command works, so that the user sees only
// the command's lines unless something failed or -v asked for everything.
#pragma once

#include <memory>
#include <string>
#include <vector>

class OutputCapture {
public:
    // Starts capturing; the console stream (console.h) then writes to the
    // real standard error. When no temporary file can be made nothing is
    // captured and everything passes through.
    OutputCapture();
    // Stops capturing and puts standard output and error back.
    ~OutputCapture();
    OutputCapture(const OutputCapture&) = delete;
    OutputCapture& operator=(const OutputCapture&) = delete;

    bool active() const;
    // What was written since the last take, which it forgets.
    std::string take();

    struct State;

private:
    std::unique_ptr<State> state;
};

// The captured lines worth showing after a failure: the runtime's errors and
// warnings and the lines that speak of an error, without colour codes, the
// last `limit` of them.
std::vector<std::string> explainingLines(const std::string& captured, size_t limit = 12);
