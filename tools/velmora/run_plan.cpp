#include "run_plan.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

int64_t tileCount(int64_t width, int64_t height, int step, int downscale) {
    const int64_t s = static_cast<int64_t>(step) * std::llabs(static_cast<int64_t>(downscale));
    if (s <= 0 || width <= 0 || height <= 0) return 0;
    const auto across = static_cast<int64_t>(std::ceil(static_cast<float>(width) / static_cast<float>(s)));
    const auto down = static_cast<int64_t>(std::ceil(static_cast<float>(height) / static_cast<float>(s)));
    return across * down;
}

namespace {

std::string withThousands(int64_t n) {
    std::string digits = std::to_string(n), out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

}  // namespace

std::string tileCountProblem(int64_t tiles, int tile, int step) {
    const bool smallStep = static_cast<int64_t>(step) * 8 < tile;
    if (!smallStep && tiles <= kMaxSensibleTiles) return {};
    std::string why = smallStep ? "a step of " + std::to_string(step) + " is below an eighth of the " +
                                      std::to_string(tile) + "-pixel tile"
                                : "more than " + withThousands(kMaxSensibleTiles);
    return "this run needs " + withThousands(tiles) + " tiles (" + why +
           "); give a larger --step or --downscale, or add --force to run it anyway";
}

MemoryEstimate estimateMemory(const RunShape& s) {
    const uint64_t pixels = static_cast<uint64_t>(s.width) * static_cast<uint64_t>(s.height);
    const auto k = static_cast<uint64_t>(std::llabs(static_cast<int64_t>(s.downscale)));
    const uint64_t shrunk = pixels / (k * k);
    const auto resultPixels = static_cast<uint64_t>(static_cast<double>(pixels) * s.modelScale * s.modelScale);
    const uint64_t sample = s.eightBit ? 1 : 4;
    const uint64_t in = pixels * static_cast<uint64_t>(s.modelChannels) * sample;
    const uint64_t result = resultPixels * static_cast<uint64_t>(s.resultChannels) * sample;
    const uint64_t alpha = s.alphaAside ? pixels * 4 : 0;

    MemoryEstimate e;
    e.images = in + result;
    // The runtime itself, the model's weights (held twice while the session
    // is made) and its working tensors: a few hundred values per tile pixel.
    const auto tile = static_cast<uint64_t>(s.tile);
    e.model = (96ull << 20) + 2 * s.modelFileBytes + tile * tile * 4 * 256;
    uint64_t run = in + alpha + result + e.model;
    if (s.eightBit) {
        // The 8-bit path shrinks and enlarges each tile at full scale.
        const uint64_t side = tile * k;
        run += side * side * static_cast<uint64_t>(s.modelChannels + 2 * s.resultChannels) * 4;
    } else {
        // The float pipeline stitches at working scale before it enlarges into
        // the result: a shrunk copy of the input and a stitched image.
        run += (k > 1 ? shrunk * static_cast<uint64_t>(s.modelChannels) * 4 : 0) +
               static_cast<uint64_t>(static_cast<double>(shrunk) * s.modelScale * s.modelScale) *
                   static_cast<uint64_t>(s.resultChannels) * 4;
    }
    const uint64_t reading = in + alpha + s.decoderBytes;
    e.peak = run > reading ? run : reading;
    return e;
}

std::string sizeText(uint64_t bytes) {
    const double gb = static_cast<double>(bytes) / 1e9;
    char text[32];
    if (gb >= 10)
        std::snprintf(text, sizeof text, "%.0f GB", gb);
    else if (gb >= 1)
        std::snprintf(text, sizeof text, "%.1f GB", gb);
    else
        std::snprintf(text, sizeof text, "%.0f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

std::string memoryProblem(const RunShape& shape, uint64_t available, const std::string& whereAvailable) {
    const MemoryEstimate e = estimateMemory(shape);
    if (e.peak <= available) return {};
    std::string tries;
    const int sign = shape.downscale < 0 ? -1 : 1;
    for (int k = std::abs(shape.downscale) + 1; k <= 16; ++k) {
        RunShape smaller = shape;
        smaller.downscale = sign * k;
        if (estimateMemory(smaller).peak <= available) {
            tries = "--downscale " + std::to_string(sign * k);
            break;
        }
    }
    if (!shape.eightBit && shape.modelChannels <= 4) {
        RunShape bytes = shape;
        bytes.eightBit = true;
        if (estimateMemory(bytes).peak <= available) tries += (tries.empty() ? "" : " or ") + std::string("--8bit");
    }
    return "needs about " + sizeText(e.peak) + " of memory; " + whereAvailable + " " + sizeText(available) +
           " available; " + (tries.empty() ? "try a smaller picture" : "try " + tries) + " (--force runs it anyway)";
}
