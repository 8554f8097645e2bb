#include "run_plan.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

std::string withThousands(int64_t n) {
    std::string digits = std::to_string(n), out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

// Byte counts that stop at the largest value instead of wrapping round: a
// run too large to count is too large to run.
struct Bytes {
    uint64_t n = 0;
    Bytes(uint64_t value = 0) : n(value) {}
    friend Bytes operator*(Bytes a, Bytes b) {
        return a.n != 0 && b.n > UINT64_MAX / a.n ? Bytes(UINT64_MAX) : Bytes(a.n * b.n);
    }
    friend Bytes operator+(Bytes a, Bytes b) { return b.n > UINT64_MAX - a.n ? Bytes(UINT64_MAX) : Bytes(a.n + b.n); }
    Bytes& operator+=(Bytes b) { return *this = *this + b; }
};

Bytes larger(Bytes a, Bytes b) { return a.n > b.n ? a : b; }

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
    const Bytes pixels = Bytes(static_cast<uint64_t>(s.width)) * static_cast<uint64_t>(s.height);
    const auto k = static_cast<uint64_t>(std::llabs(static_cast<int64_t>(s.downscale)));
    const Bytes scale = static_cast<uint64_t>(s.modelScale < 1 ? 1 : s.modelScale);
    const Bytes inChannels = static_cast<uint64_t>(s.modelChannels);
    const Bytes outChannels = static_cast<uint64_t>(s.resultChannels);
    const Bytes sample = s.eightBit ? 1 : 4;
    // The picture as the library takes it (the command's), the result (the
    // library's, S times larger on both sides) and the alpha set aside.
    const Bytes in = pixels * inChannels * sample;
    const Bytes result = pixels * scale * scale * outChannels * sample;
    const Bytes alpha = s.alphaAside ? pixels * 4 : 0;

    MemoryEstimate e;
    e.images = (in + result).n;
    // The runtime itself, the model's weights (held twice while the session
    // is made) and its working tensors: a few hundred values per tile pixel,
    // and the result tensor with its interleaved copy.
    const Bytes tile = static_cast<uint64_t>(s.tile);
    const Bytes model = Bytes(96ull << 20) + Bytes(2) * s.modelFileBytes + tile * tile * 4 * 256 +
                        Bytes(2) * tile * tile * scale * scale * outChannels * 4;
    e.model = model.n;
    Bytes work = 0;
    if (s.eightBit) {
        // Each tile is cut at K times the model's side and its result
        // enlarged back in floats, before it becomes bytes.
        const Bytes side = tile * k, resultSide = side * scale;
        work = side * side * inChannels * 4 + resultSide * resultSide * outChannels;
        if (k > 1) work += tile * tile * inChannels * 4 + resultSide * resultSide * outChannels * 4;
        if (s.downscale < -1) work += side * side * inChannels * 4;
    } else if (k > 1) {
        // Shrunk, the picture is run at 1/K and stitched there, then enlarged
        // into the result while both are held. Restoring the detail of an
        // enlarging model takes a full-size image of it afterwards, when the
        // stitched one is gone. Unshrunk, the tiles go straight into the result.
        const Bytes shrunk = Bytes(static_cast<uint64_t>(s.width) / k) * (static_cast<uint64_t>(s.height) / k);
        const Bytes shrunkInput = shrunk * inChannels * 4;
        const Bytes stitched = shrunk * scale * scale * outChannels * 4;
        const Bytes detail =
            s.downscale < -1 && scale.n > 1 ? pixels * std::min(inChannels.n, outChannels.n) * 4 : Bytes(0);
        work = shrunkInput + larger(stitched, detail);
    }
    // The tile the float path cuts, and its planar copy for the model.
    work += Bytes(2) * tile * tile * inChannels * 4;
    const Bytes run = in + alpha + result + model + work;
    const Bytes reading = in + alpha + s.decoderBytes;
    e.peak = larger(run, reading).n;
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
    // Counted in 64 bits: the factor may be the largest an int holds.
    for (int64_t k = std::llabs(int64_t{shape.downscale}) + 1; k <= 16; ++k) {
        RunShape smaller = shape;
        smaller.downscale = sign * static_cast<int>(k);
        if (estimateMemory(smaller).peak <= available) {
            tries = "--downscale " + std::to_string(smaller.downscale);
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
