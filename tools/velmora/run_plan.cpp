#include "run_plan.h"

#include <cstdio>

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
};

Bytes larger(Bytes a, Bytes b) { return a.n > b.n ? a : b; }

uint64_t positive(int64_t v) { return v > 0 ? static_cast<uint64_t>(v) : 0; }

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

MemoryEstimate estimateMemory(const CommandShare& s, uint64_t libraryBytes) {
    const Bytes pixels = Bytes(positive(s.width)) * positive(s.height);
    const Bytes sample = s.eightBit ? 1 : 4;
    const Bytes in = pixels * positive(s.modelChannels) * sample;
    const Bytes alpha = s.alphaAside ? pixels * 4 : 0;
    const Bytes kept = pixels * positive(s.keptColourChannels) * 4;
    const Bytes command = in + alpha + kept;
    MemoryEstimate e;
    e.command = command.n;
    e.library = libraryBytes;
    e.peak = larger(command + libraryBytes, command + s.decoderBytes).n;
    return e;
}

uint64_t libraryBytes(const VelmoraPlan& plan, bool eightBit) {
    if (!eightBit) return plan.peakBytes;
    const int scale = plan.scale > 0 ? plan.scale : 1;
    const int channels = plan.resultChannels > 0 ? plan.resultChannels : 1;
    const uint64_t floats = resultBytes(plan.width, plan.height, scale, channels, false);
    const uint64_t bytes = resultBytes(plan.width, plan.height, scale, channels, true);
    return plan.peakBytes > floats ? plan.peakBytes - floats + bytes : plan.peakBytes;
}

uint64_t resultBytes(int64_t width, int64_t height, int scale, int channels, bool eightBit) {
    const Bytes s = positive(scale);
    return (Bytes(positive(width)) * positive(height) * s * s * positive(channels) * (eightBit ? 1 : 4)).n;
}

std::string sizeText(uint64_t bytes) {
    const double gb = static_cast<double>(bytes) / 1e9;
    char text[32];
    if (gb >= 10)
        std::snprintf(text, sizeof text, "%.0f GB", gb);
    else if (gb >= 1)
        std::snprintf(text, sizeof text, "%.1f GB", gb);
    else if (bytes >= 10'000'000)
        std::snprintf(text, sizeof text, "%.0f MB", static_cast<double>(bytes) / 1e6);
    else
        std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

std::string memoryProblem(const MemoryEstimate& e, const std::optional<MemoryEstimate>& eightBit, uint64_t available,
                          const std::string& whereAvailable) {
    if (e.peak <= available) return {};
    const bool bytesFit = eightBit && eightBit->peak <= available;
    return "needs about " + sizeText(e.peak) + " of memory; " + whereAvailable + " " + sizeText(available) +
           " available; " + (bytesFit ? "try --8bit" : "try a smaller picture") + " (--force runs it anyway)";
}
