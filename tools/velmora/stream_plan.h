// Streaming a picture through a plan of tiles, a band of rows at a time:
// the memory budget that decides it, what stops a run from streaming, and
// how high its bands are cut to fit the budget.
#pragma once

#include <cstdint>
#include <string>

#include "image_files.h"
#include "memory.h"
#include "options.h"
#include "run_plan.h"
#include "velmora.hpp"

// The memory a picture's run may take before it streams: --memory-budget,
// or a share of what is available.
struct MemoryBudget {
    uint64_t bytes = 0;
    bool given = false;  // by --memory-budget
};
MemoryBudget memoryBudget(const Options& options, const AvailableMemory& available);
// "the memory budget of 1.5 GB (--memory-budget)" or "... of 10 GB (half of the 20 GB available)".
std::string budgetWords(const MemoryBudget& budget, const AvailableMemory& available);

// Why a run by `plan` cannot stream, in words that follow "it cannot
// stream: "; empty when it can.
std::string streamObstacle(const VelmoraPlan& plan, const ImageReader& reader, const Options& options);

// What the command holds while it streams, besides the band rows.
struct StreamShare {
    int32_t modelChannels = 0;
    bool alphaAside = false;
    int32_t keptColourChannels = 0;
    uint64_t readerBytes = 0;  // what the image reader holds for the order it reads in
};

struct BandChoice {
    int32_t tileRows = 1;  // tile rows a band
    int32_t bands = 0;
    MemoryEstimate estimate;  // at the busiest band
};

// The library's choice of tile rows a band, or fewer while the run would
// pass `budget`. Bands of one tile row when nothing fits: the estimate says
// by how much.
BandChoice chooseBands(velmora::Context& context, const VelmoraPlan& plan, const StreamShare& share, uint64_t budget);
