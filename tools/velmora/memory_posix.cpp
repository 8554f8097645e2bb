#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <limits>
#include <sstream>

#include "memory.h"

namespace {

uint64_t meminfoAvailable() {
    std::ifstream in("/proc/meminfo");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("MemAvailable:", 0) != 0) continue;
        std::istringstream fields(line.substr(13));
        uint64_t kib = 0;
        fields >> kib;
        return kib * 1024;
    }
    const long pages = sysconf(_SC_AVPHYS_PAGES), size = sysconf(_SC_PAGESIZE);
    return pages > 0 && size > 0 ? static_cast<uint64_t>(pages) * static_cast<uint64_t>(size)
                                 : std::numeric_limits<uint64_t>::max();
}

uint64_t addressSpaceInUse() {
    std::ifstream in("/proc/self/statm");
    uint64_t pages = 0;
    in >> pages;
    return pages * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
}

uint64_t readNumber(const std::string& path) {
    std::ifstream in(path);
    std::string text;
    in >> text;
    if (text.empty() || text == "max") return std::numeric_limits<uint64_t>::max();
    try {
        return std::stoull(text);
    } catch (const std::exception&) {
        return std::numeric_limits<uint64_t>::max();
    }
}

// The unified control group (cgroup v2) the process runs in, if any.
uint64_t controlGroupLeft() {
    std::ifstream in("/proc/self/cgroup");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("0::", 0) != 0) continue;
        const std::string folder = "/sys/fs/cgroup" + line.substr(3);
        const uint64_t limit = readNumber(folder + "/memory.max");
        const uint64_t used = readNumber(folder + "/memory.current");
        if (limit == std::numeric_limits<uint64_t>::max() || used == std::numeric_limits<uint64_t>::max()) return limit;
        return limit > used ? limit - used : 0;
    }
    return std::numeric_limits<uint64_t>::max();
}

}  // namespace

AvailableMemory availableMemory() {
    AvailableMemory a{meminfoAvailable(), "this machine has"};
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        // The runtime's threads reserve stacks and allocator arenas that
        // count against the limit although they are hardly ever touched.
        const uint64_t used = addressSpaceInUse() + (512ull << 20);
        const uint64_t left = limit.rlim_cur > used ? limit.rlim_cur - used : 0;
        if (left < a.bytes) a = {left, "the process's address-space limit leaves"};
    }
    const uint64_t group = controlGroupLeft();
    if (group < a.bytes) a = {group, "the memory limit of its control group leaves"};
    return a;
}
