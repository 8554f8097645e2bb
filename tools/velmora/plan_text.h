// The library's plan for a picture in words, as --plan, -v and --info show it.
#pragma once

#include <string>
#include <vector>

#include "run_plan.h"
#include "velmora.h"

// A few lines: how the picture runs (tiles or whole, margins, blending,
// shrinking, runs), what it gives, what it costs and why.
std::vector<std::string> planLines(const VelmoraPlan& plan, const MemoryEstimate& memory);
