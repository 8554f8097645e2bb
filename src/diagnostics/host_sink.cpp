#include "diagnostics/host_sink.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <shared_mutex>
#include <string>

namespace {

struct Installed {
    VelmoraMessageSink sink = nullptr;
    void* userData = nullptr;
    int32_t runtimeLevel = 0;
};

// Never destroyed: the runtime's threads may still log while the process
// ends, after static objects are gone.
std::shared_mutex& sinkMutex() {
    static auto* mutex = new std::shared_mutex;
    return *mutex;
}
Installed& installed() {
    static auto* state = new Installed;
    return *state;
}

std::string oneLine(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    std::string line(text);
    std::replace_if(
        line.begin(), line.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    return line;
}

}  // namespace

void setHostSink(VelmoraMessageSink sink, void* userData, int32_t runtimeLevel) noexcept {
    const int32_t level = std::clamp<int32_t>(runtimeLevel, VELMORA_SEVERITY_VERBOSE, VELMORA_SEVERITY_FATAL);
    std::unique_lock lock(sinkMutex());
    installed() = Installed{sink, sink ? userData : nullptr, level};
}

HostSinkState hostSinkState() noexcept {
    std::shared_lock lock(sinkMutex());
    return {installed().sink != nullptr, installed().runtimeLevel};
}

bool sendToHostSink(std::string_view text, Severity severity, MessageSource source) noexcept {
    std::shared_lock lock(sinkMutex());
    const Installed& current = installed();
    if (!current.sink) return false;
    std::string line;
    try {
        line = oneLine(text);
    } catch (const std::bad_alloc&) {
        return false;  // the console gets it instead
    }
    try {
        current.sink(current.userData, static_cast<int32_t>(severity), static_cast<int32_t>(source), line.c_str());
    } catch (...) {
        // A sink that broke its promise: the line counts as delivered, and
        // the exception goes no further than here.
    }
    return true;
}
