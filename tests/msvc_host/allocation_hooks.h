// Watches, and on request fails, the C runtime allocations that velmora.dll
// makes. The DLL takes malloc, calloc, realloc and free from msvcrt.dll
// through its import table (its C++ operator new included, which is linked
// into it); the hooks replace those entries in the loaded DLL, so the DLL
// under test is the one a host ships, unchanged on disk.
#pragma once

#include <windows.h>

namespace allocation_hooks {

// Replaces the DLL's entries. False when the DLL does not import these
// functions from msvcrt.dll, in which case nothing is changed.
bool install(HMODULE dll);

// Starts counting the blocks that the DLL allocates and has not freed.
void startCounting();
// Blocks allocated since startCounting and still held; -1 when more were
// allocated than the hooks can follow.
long long heldSinceStart();
// Allocations seen since startCounting.
long long allocationsSinceStart();

// Makes the nth allocation from now (1: the next one) fail, once.
void failAllocation(long long nth);
// True once the requested failure has happened; cancels one that has not.
bool failureHappened();

}  // namespace allocation_hooks
