// What a run will cost before any pixel is read: whether the plan's run
// count is sensible, and the memory the whole run needs at its peak: the
// library's share, as its plan tells it, and the command's own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "velmora.h"

// A count beyond what is sensible: a step below an eighth of the tile, or more
// than kMaxSensibleTiles tiles. Empty when the plan is sensible; otherwise
// the sentence that asks for --force, naming the count.
inline constexpr int64_t kMaxSensibleTiles = 100000;
std::string tileCountProblem(int64_t tiles, int tile, int step);

// What the command itself holds besides the library.
struct CommandShare {
    int64_t width = 0;  // the picture, upright
    int64_t height = 0;
    int modelChannels = 0;       // what the command hands to the library
    bool alphaAside = false;     // the picture's alpha waits beside the run
    int keptColourChannels = 0;  // --cutout: the picture's colours, kept for writing
    bool eightBit = false;
    uint64_t decoderBytes = 0;  // what the image reader holds besides the rows (whole-image decoders)
};

struct MemoryEstimate {
    uint64_t peak = 0;     // bytes at the busiest moment
    uint64_t command = 0;  // the command's share while the model runs
    uint64_t library = 0;  // the library's, as its plan tells
};

// The peak: while reading, the picture and the decoder; while running, the
// command's share and the library's.
MemoryEstimate estimateMemory(const CommandShare& share, uint64_t libraryBytes);

// The library's share of a run by `plan`: its peakBytes, with the result
// held as bytes on the 8-bit path.
uint64_t libraryBytes(const VelmoraPlan& plan, bool eightBit);

// What the library holds at least, before a plan can be made: its result,
// `scale` times the picture on each side with `channels` channels.
uint64_t resultBytes(int64_t width, int64_t height, int scale, int channels, bool eightBit);

// "19 GB", "850 MB", "3.2 GB".
std::string sizeText(uint64_t bytes);

// The refusal, with --8bit when that estimate (given) would fit, or empty
// when the estimate fits in `available` bytes.
std::string memoryProblem(const MemoryEstimate& estimate, const std::optional<MemoryEstimate>& eightBit,
                          uint64_t available, const std::string& whereAvailable);
