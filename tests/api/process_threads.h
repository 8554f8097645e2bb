#pragma once

#include <cstddef>

// The number of threads the test process has, once it has stopped changing:
// a thread that was just joined can still be listed for a moment.
size_t processThreads();

// The number listed right now; each platform counts in its own way.
size_t threadsListedNow();
