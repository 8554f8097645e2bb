// libFuzzer harness over what the command works out before a run: the memory
// estimate with its advice, and the sentence on a tile count beyond sense,
// for every run the command can meet (pictures within its readers' limits,
// results up to the library's largest scale). Besides the sanitizers: the
// peak holds at least the full-size input and result, so no size wraps it
// round to a small one.
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
    RunShape shape;
    shape.width = within(in, 1, kMaxImageSide);
    shape.height = within(in, 1, std::min(kMaxImageSide, kMaxImagePixels / shape.width));
    shape.pictureChannels = static_cast<int>(within(in, 1, 4));
    shape.modelChannels = static_cast<int>(within(in, 1, 1 << 16));
    shape.resultChannels = static_cast<int>(within(in, 1, 1 << 16));
    shape.alphaAside = within(in, 0, 1);
    shape.tile = static_cast<int>(within(in, 1, 1 << 16));
    const int32_t downscale = in.number();
    shape.downscale = downscale == 0 || downscale == INT32_MIN ? 1 : downscale;
    shape.eightBit = within(in, 0, 1);
    shape.modelScale = static_cast<int>(within(in, 1, 16));
    shape.modelFileBytes = static_cast<uint64_t>(within(in, 0, UINT32_MAX));
    shape.decoderBytes = static_cast<uint64_t>(within(in, 0, UINT32_MAX)) << within(in, 0, 7);
    const uint64_t available = static_cast<uint64_t>(within(in, 0, UINT32_MAX)) << within(in, 0, 31);

    const MemoryEstimate e = estimateMemory(shape);
    if (e.peak < e.images) finding("the memory estimate's peak is below its full-size input and result");
    (void)memoryProblem(shape, available, "this machine has");

    const int step = static_cast<int>(within(in, 1, shape.tile));
    (void)tileCountProblem(within(in, 1, INT32_MAX), shape.tile, step);
    return 0;
}
