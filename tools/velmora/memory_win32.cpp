#include <windows.h>

#include "memory.h"

AvailableMemory availableMemory() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status)) return {~0ull, "this machine has"};
    // A job object's limit shows as the smaller virtual figure.
    if (status.ullAvailVirtual < status.ullAvailPhys) return {status.ullAvailVirtual, "the process's limit leaves"};
    return {status.ullAvailPhys, "this machine has"};
}
