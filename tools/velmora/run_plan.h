// What a run will cost before any pixel is read: whether the library's tile
// count is sensible, and the memory the whole run needs at its peak.
#pragma once

#include <cstdint>
#include <string>

// A count beyond what is sensible: a step below an eighth of the tile, or more
// than kMaxSensibleTiles tiles. Empty when the plan is sensible; otherwise
// the sentence that asks for --force, naming the count.
inline constexpr int64_t kMaxSensibleTiles = 100000;
std::string tileCountProblem(int64_t tiles, int tile, int step);

struct RunShape {
    int64_t width = 0;  // the picture, upright
    int64_t height = 0;
    int pictureChannels = 0;  // as stored in the file
    int modelChannels = 0;    // what the model takes (after fitting)
    int resultChannels = 0;   // what the model gives
    bool alphaAside = false;  // the picture's alpha waits beside the run
    int tile = 0;
    int downscale = 1;  // signed, as handed to the library
    bool eightBit = false;
    int modelScale = 1;  // result side / input side (1 when not known before the run)
    uint64_t modelFileBytes = 0;
    uint64_t decoderBytes = 0;  // what the image reader holds besides the rows (whole-image decoders)
};

struct MemoryEstimate {
    uint64_t peak = 0;    // bytes at the busiest moment
    uint64_t images = 0;  // the full-size input and result alone
    uint64_t model = 0;   // the runtime and the model's working memory
};

// What the command and the library hold at once: the input, the result and
// the set-aside alpha; the model; and the library's working images, which
// at downscale 1 are a tile's (the tiles are stitched straight into the
// result) and at downscale K a 1/K copy of the input and the result stitched
// at that size, or for an enlarging model's detail a full-size image of it.
MemoryEstimate estimateMemory(const RunShape& shape);

// "19 GB", "850 MB", "3.2 GB".
std::string sizeText(uint64_t bytes);

// The refusal, with what would fit instead ("try --downscale 2 or --8bit"),
// or empty when the estimate fits in `available` bytes.
std::string memoryProblem(const RunShape& shape, uint64_t available, const std::string& whereAvailable);
