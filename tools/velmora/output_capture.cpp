#include "output_capture.h"

#include <algorithm>
#include <sstream>

namespace {

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
