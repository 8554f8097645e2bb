// libFuzzer harness over model loading: mutated model bytes handed to
// loadModel or loadModelEx, then, when the runtime takes them, the model
// described and run once on a small image, as a host would. A failure must
// come with words. Names and sizes are read from the bytes with the
// command's own reader, as the command does.
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "model_file.h"
#include "velmora.h"

namespace {

constexpr int64_t kLargestTile = 256;  // beyond this a run costs too much to be worth it
constexpr int64_t kMostChannels = 16;

std::string errorText(VelmoraContext context) {
    std::vector<char> buffer(16384, 0);
    getErrorText(context, buffer.data(), static_cast<int32_t>(buffer.size()));
    buffer.back() = 0;
    return buffer.data();
}

VelmoraContext context() {
    static VelmoraContext made = [] {
        VelmoraContext c = createContext(0, "velmora-fuzz");
        if (!c) finding("createContext returned no context");
        char info[1000];
        initializeVelmora(c, "velmora-fuzz", nullptr, info);  // reads the scratch settings
        return c;
    }();
    return made;
}

struct Plan {
    std::string input = "input", output = "output";
    bool described = false;
    bool floatOutput = false;
    int64_t tile = 0, channels = 0;  // 0: unknown
};

Plan planFor(const std::vector<char>& bytes) {
    Plan plan;
    try {
        const ModelDescription d = describeModel(bytes);
        if (!d.inputs.empty()) plan.input = d.inputs.front().name;
        if (!d.outputs.empty()) {
            plan.output = d.outputs.front().name;
            plan.floatOutput = d.outputs.front().elementType == 1;
        }
        plan.described = true;
        if (d.inputs.size() == 1 && d.inputs.front().dims.size() == 4) {
            const std::vector<int64_t>& dims = d.inputs.front().dims;
            if (dims[0] == 1 && dims[1] == dims[2] && dims[1] > 0) {
                plan.tile = dims[1];
                plan.channels = dims[3];
            }
        }
    } catch (const std::runtime_error&) {}
    return plan;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    scratchFolder();
    quietStreams();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The library borrows the bytes while the model is loaded.
    const std::vector<char> bytes(reinterpret_cast<const char*>(data), reinterpret_cast<const char*>(data) + size);
    const Plan plan = planFor(bytes);
    VelmoraContext ctx = context();
    const void* model = bytes.empty() ? nullptr : bytes.data();
    bool loaded;
    switch (size % 3) {
        case 0:
            loaded = loadModel(ctx, model, static_cast<uint32_t>(size), plan.input.c_str(), plan.output.c_str());
            break;
        case 1:
            loaded =
                loadModelEx(ctx, model, static_cast<uint32_t>(size), plan.input.c_str(), plan.output.c_str(), 1, 1);
            break;
        default:
            loaded =
                loadModelEx(ctx, model, static_cast<uint32_t>(size), plan.input.c_str(), plan.output.c_str(), 0, 0);
            break;
    }
    const std::string text = errorText(ctx);
    if (!loaded && text.empty()) finding("a model was refused without a word (" + std::to_string(size) + " bytes)");
    if (!loaded) return 0;

    std::vector<char> information(2048);
    getModelInformation(ctx, nullptr, 0, information.data());
    const bool runnable =
        plan.tile > 0 && plan.tile <= kLargestTile && plan.channels > 0 && plan.channels <= kMostChannels;
    if (runnable) {
        const auto tile = static_cast<int32_t>(plan.tile), channels = static_cast<int32_t>(plan.channels);
        // A picture a little larger than a tile, in four tiles.
        const int32_t width = tile + tile / 2 + 1, height = tile + 1, step = std::max(tile - 2, 1);
        std::vector<float> image(static_cast<size_t>(width) * height * channels);
        for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<float>(i % 251) / 251.0f;
        const ImageFloat result = predictByTilesImageFloat(ctx, ImageFloat{width, height, channels, image.data()}, tile,
                                                           step, 1, nullptr, nullptr);
        const std::string runText = errorText(ctx);
        if (!result.data && runText.empty()) finding("a tiled run of a loaded model failed without a word");
        if (result.data) {
            double sum = 0;  // every value read, so that a short result shows
            for (int64_t i = 0; i < int64_t{result.width} * result.height * result.numChannels; ++i)
                sum += result.data[i];
            (void)sum;
        }
        try {
            predictFloat(ctx, image.data(), tile, tile, channels, false);
        } catch (const std::exception&) {
            // A failure of the runtime in a direct run leaves as its exception.
        }
        errorText(ctx);
    }
    deallocateImage(ctx);
    deallocateModel(ctx);
    return 0;
}
