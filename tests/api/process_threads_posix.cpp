#include <filesystem>

#include "api/process_threads.h"

size_t threadsListedNow() {
    size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) ++n;
    return n;
}
