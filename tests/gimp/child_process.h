// Runs a program as a child process with a changed environment, its
// standard output and error together in one file, and a time limit.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

struct ChildRun {
    int exitCode = -1;  // -1 when it did not exit normally
    bool timedOut = false;
    std::string output;  // standard output and error, interleaved
};

struct ChildCommand {
    std::vector<std::string> arguments;  // the program first, looked up on PATH
    std::vector<std::pair<std::string, std::string>> setEnvironment;
    std::vector<std::string> unsetEnvironment;
    std::filesystem::path workingFolder;
    std::filesystem::path outputFile;
    int secondsAllowed = 300;
};

// Throws when the program cannot be started.
ChildRun runChild(const ChildCommand& command);
