// Runs the built velmora command as a child process in a scratch folder of
// its own, with its settings and log kept there too.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

struct CommandResult {
    int exitCode = -1;
    std::string out;  // standard output (in a terminal: everything the terminal showed)
    std::string err;  // standard error: the command's messages

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
    // `addressSpaceLimit` (bytes, 0 for none) limits the child as ulimit -v does.
    CommandResult run(const std::vector<std::string>& args, const Environment& extra = {},
                      uint64_t addressSpaceLimit = 0) const;

    // Runs the command with standard output and error on a new terminal
    // (a pseudo-terminal of 80 columns) and returns what the terminal showed.
    CommandResult runInTerminal(const std::vector<std::string>& args) const;

    // Starts the command with standard error on a pipe, waits until that
    // output contains `marker`, sends SIGINT and waits for the end.
    CommandResult runAndInterruptAt(const std::vector<std::string>& args, const std::string& marker) const;

    // Starts the command and kills it (SIGKILL) as soon as it holds open a
    // file in this folder that was not there before: the result it writes.
    CommandResult runAndKillWhileWriting(const std::vector<std::string>& args, const Environment& extra = {}) const;

    // The names of the files now in this folder, sorted.
    std::vector<std::string> files() const;

private:
    std::filesystem::path root;
};

// A file held open and locked, as a run that writes it holds it.
class HeldFile {
public:
    explicit HeldFile(const std::filesystem::path& path);
    ~HeldFile();
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

private:
    int fd;
};

std::string modelFile(const std::string& name);
// The command under test: VELMORA_TEST_COMMAND_PATH when set (to run the
// tests against another build), else the one built beside the tests.
std::string commandPath();
// The lines a terminal shows for this output: line ends counted, carriage
// returns redrawing the current line.
std::vector<std::string> terminalLines(const std::string& shown);
std::string readText(const std::filesystem::path& path);
void writeText(const std::filesystem::path& path, const std::string& text);
