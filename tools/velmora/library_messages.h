// What the library and the runtime say, as the command shows it: with -v
// every line as it comes, on standard error; otherwise nothing at once, and
// after a failure the lines that explain it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

// One line as the command shows it: the runtime's marked with its severity
// ("[E:onnxruntime] ..."), the library's as they are.
std::string shownLine(int32_t severity, int32_t source, const std::string& text);

// Whether a line may explain a failure: the runtime's errors and warnings,
// and the library's lines that speak of an error.
bool explainsFailure(int32_t severity, int32_t source, const std::string& text);

// The lines that explain a failure, kept back as they come (from any
// thread), the latest few of them.
class KeptLines {
public:
    void keep(int32_t severity, int32_t source, const std::string& text);
    // The last `limit` lines kept since the last take; all are then forgotten.
    std::vector<std::string> take(size_t limit = 12);

private:
    std::mutex mutex_;
    std::deque<std::string> lines_;
};

// Sets the library's message sink for the whole process, before the first
// context, so that the runtime's first lines come there too: every line to
// standard error when `verbose`, else into keptLibraryLines().
void startLibraryMessages(bool verbose);
KeptLines& keptLibraryLines();
