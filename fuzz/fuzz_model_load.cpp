// libFuzzer harness over model loading: mutated model bytes handed to
// loadModel or loadModelEx, then, when the runtime takes them, the model
// described, planned and run once on a small image, as a host would. A
// failure must come with words, and a loaded model must be described.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "fuzz_support.h"
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

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    scratchFolder();
    quietStreams();
    return 0;
}

namespace {

// Runs one input; always 0.
int runInput(const uint8_t* data, size_t size) {
    // The library borrows the bytes while the model is loaded.
    const std::vector<char> bytes(reinterpret_cast<const char*>(data), reinterpret_cast<const char*>(data) + size);
    VelmoraContext ctx = context();
    const void* model = bytes.empty() ? nullptr : bytes.data();
    bool loaded;
    switch (size % 3) {
        case 0: loaded = loadModel(ctx, model, static_cast<uint32_t>(size), "", ""); break;
        case 1: loaded = loadModelEx(ctx, model, static_cast<uint32_t>(size), "", "", 1, 1); break;
        default: loaded = loadModelEx(ctx, model, static_cast<uint32_t>(size), "", "", 0, 0); break;
    }
    const std::string text = errorText(ctx);
    if (!loaded && text.empty()) finding("a model was refused without a word (" + std::to_string(size) + " bytes)");
    if (!loaded) return 0;

    VelmoraModelInfo info{};
    info.size = sizeof info;
    if (!velmoraDescribeModel(ctx, &info)) finding("a loaded model was not described: " + errorText(ctx));
    if (!info.tiled && info.notTiled[0] == '\0') finding("a model the tiled runs refuse came without a reason");
    std::vector<char> information(2048);
    getModelInformation(ctx, nullptr, 0, information.data());
    const bool runnable = info.tiled && info.tileSize > 0 && info.tileSize <= kLargestTile && info.inputChannels > 0 &&
                          info.inputChannels <= kMostChannels;
    if (runnable) {
        const int32_t tile = info.tileSize, channels = info.inputChannels;
        // A picture a little larger than a tile, in four tiles.
        const int32_t width = tile + tile / 2 + 1, height = tile + 1, step = std::max(tile - 2, 1);
        VelmoraPlanRequest request{};
        request.size = sizeof request;
        request.width = width;
        request.height = height;
        request.channels = channels;
        request.tileSize = tile;
        request.step = step;
        request.downscale = 1;
        VelmoraPlan plan{};
        plan.size = sizeof plan;
        if (!velmoraPlan(ctx, &request, &plan) && errorText(ctx).empty())
            finding("a model the tiled runs take was not planned, without a word");
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    runInput(data, size);
    // The context goes before the process does, as a host deletes its own:
    // the runtime's threads must end before its statics are destroyed at
    // exit. Registered once an input has run, so that it runs before the
    // exit handlers of all the runtime set up for loading and running.
    static const bool registered = std::atexit([] { deleteContext(context()); }) == 0;
    (void)registered;
    return 0;
}
