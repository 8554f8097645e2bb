// How much memory the command may still use.
#pragma once

#include <cstdint>
#include <string>

struct AvailableMemory {
    uint64_t bytes = 0;
    std::string where;  // "this machine has", or the limit that is tighter
};

// The smallest of: what the system reports as available, what a limit on the
// process's address space leaves, and what its control group's limit leaves.
AvailableMemory availableMemory();
