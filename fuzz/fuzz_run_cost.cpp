// libFuzzer harness over what the command works out before a run: the memory
// estimate from its own share and the library's plan, with its advice, and
// the sentence on a tile count beyond sense, for every run the command can
// meet (pictures within its readers' limits, any plan's figures). Besides
// the sanitizers: the peak holds at least the picture and each share, so no
// size wraps it round to a small one.
#include <algorithm>
#include <cstdint>

#include "byte_stream.h"
#include "fuzz_support.h"
#include "image_files.h"
#include "run_plan.h"

namespace {

// A whole number in [low, high] from the next bytes.
int64_t within(ByteReader& in, int64_t low, int64_t high) {
    const auto span = static_cast<uint64_t>(high - low) + 1;
    return low + static_cast<int64_t>(static_cast<uint32_t>(in.number()) % span);
}

}  // namespace

// Every field is a number of the byte stream, in this order, so that a seed
// is a list of numbers.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ByteReader in(data, size);
    CommandShare share;
    share.width = within(in, 1, kMaxImageSide);
    share.height = within(in, 1, std::min(kMaxImageSide, kMaxImagePixels / share.width));
    share.modelChannels = static_cast<int>(within(in, 1, 1 << 16));
    share.alphaAside = within(in, 0, 1);
    share.keptColourChannels = static_cast<int>(within(in, 0, 3));
    share.eightBit = within(in, 0, 1);
    share.decoderBytes = static_cast<uint64_t>(within(in, 0, UINT32_MAX)) << within(in, 0, 7);
    VelmoraPlan plan{};
    plan.width = static_cast<int32_t>(share.width);
    plan.height = static_cast<int32_t>(share.height);
    plan.scale = static_cast<int32_t>(within(in, 0, 16));
    plan.resultChannels = static_cast<int32_t>(within(in, 0, 1 << 16));
    plan.peakBytes = static_cast<uint64_t>(within(in, 0, UINT32_MAX)) << within(in, 0, 40);
    const uint64_t available = static_cast<uint64_t>(within(in, 0, UINT32_MAX)) << within(in, 0, 31);

    const uint64_t library = libraryBytes(plan, share.eightBit);
    if (library > plan.peakBytes) finding("the 8-bit share of the library exceeds its plan's");
    const MemoryEstimate e = estimateMemory(share, library);
    const uint64_t picture = resultBytes(share.width, share.height, 1, share.modelChannels, share.eightBit);
    if (e.peak < e.command || e.peak < e.library || e.command < picture)
        finding("the memory estimate's peak is below the picture, the command's or the library's share");
    (void)memoryProblem(e, e, available, "this machine has");

    const int tile = static_cast<int>(within(in, 1, 1 << 16));
    const int step = static_cast<int>(within(in, 1, tile));
    (void)tileCountProblem(within(in, 1, INT32_MAX), tile, step);
    return 0;
}
