#include "library_messages.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "velmora.hpp"

namespace {
constexpr size_t kMostKept = 64;  // more than any failure is explained with
}  // namespace

std::string shownLine(int32_t severity, int32_t source, const std::string& text) {
    if (source != VELMORA_FROM_RUNTIME) return text;
    const char mark = "VIWEF"[std::clamp<int32_t>(severity, VELMORA_SEVERITY_VERBOSE, VELMORA_SEVERITY_FATAL)];
    return std::string("[") + mark + ":onnxruntime] " + text;
}

bool explainsFailure(int32_t severity, int32_t source, const std::string& text) {
    if (severity >= VELMORA_SEVERITY_WARNING) return true;
    if (source == VELMORA_FROM_RUNTIME) return false;
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    for (const char* word : {"error", "fail", "exception", "not enough", "cannot", "can't", "invalid", "refused"})
        if (lower.find(word) != std::string::npos) return true;
    return false;
}

void KeptLines::keep(int32_t severity, int32_t source, const std::string& text) {
    if (!explainsFailure(severity, source, text)) return;
    std::string line = shownLine(severity, source, text);
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(std::move(line));
    if (lines_.size() > kMostKept) lines_.pop_front();
}

std::vector<std::string> KeptLines::take(size_t limit) {
    std::lock_guard<std::mutex> lock(mutex_);
    const size_t from = lines_.size() > limit ? lines_.size() - limit : 0;
    std::vector<std::string> lines(lines_.begin() + static_cast<std::ptrdiff_t>(from), lines_.end());
    lines_.clear();
    return lines;
}

KeptLines& keptLibraryLines() {
    static KeptLines* kept = new KeptLines;  // never destroyed: the runtime may log late in the process's exit
    return *kept;
}

void startLibraryMessages(bool verbose) {
    if (verbose) {
        velmora::setMessageSink(
            [](int32_t severity, int32_t source, const char* text) {
                std::fprintf(stderr, "%s\n", shownLine(severity, source, text).c_str());
                std::fflush(stderr);
            },
            VELMORA_SEVERITY_VERBOSE);
    } else {
        velmora::setMessageSink(
            [](int32_t severity, int32_t source, const char* text) { keptLibraryLines().keep(severity, source, text); },
            VELMORA_SEVERITY_WARNING);
    }
}
