#pragma once

#include <cstddef>

// The number of threads the test process has right now.
size_t processThreads();
