// Runs the built velmora command as a child process in a scratch folder of
// its own, with its settings and log kept there too.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

struct CommandResult {
    int exitCode = -1;
    std::string out;  // standard output: the library's own prints
    std::string err;  // standard error: the command's messages (and the runtime's log)

    // The lines of standard error that the command itself wrote.
    std::vector<std::string> messages() const;
};

using Environment = std::vector<std::pair<std::string, std::string>>;

class Scratch {
public:
    Scratch();
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    const std::filesystem::path& path() const { return root; }
    std::filesystem::path operator/(const std::string& name) const { return root / name; }

    // Runs the command with `args` in this folder and waits for it.
    CommandResult run(const std::vector<std::string>& args, const Environment& extra = {}) const;

    // Starts the command with standard output on a pipe, waits until that
    // output contains `marker`, sends SIGINT and waits for the end.
    CommandResult runAndInterruptAt(const std::vector<std::string>& args, const std::string& marker) const;

    // The names of the files now in this folder, sorted.
    std::vector<std::string> files() const;

private:
    std::filesystem::path root;
};

std::string modelFile(const std::string& name);
std::string readText(const std::filesystem::path& path);
void writeText(const std::filesystem::path& path, const std::string& text);
