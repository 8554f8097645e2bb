// A session's thread count decides its speed, never its results: the
// six-convolution model gives the same tile under every count as under the
// 5 and 5 threads of earlier versions, to within 1e-6 of each value.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "backend/ModelLogicONNX.h"
#include "support/model_files.h"

namespace {

constexpr int32_t kTile = 256;
constexpr int32_t kChannels = 3;

// Values in [-1, 1) from a fixed seed.
std::vector<float> noiseTile() {
    std::vector<float> values(static_cast<size_t>(kTile) * kTile * kChannels);
    uint32_t s = 12345u;
    for (float& v : values) {
        s = s * 1664525u + 1013904223u;
        v = static_cast<float>(s >> 8) / 8388608.0f - 1.0f;
    }
    return values;
}

struct SessionChoice {
    int32_t threads;
    bool spinning;
};

// The model's output for `tile` in a session of this choice.
std::vector<float> runOnce(const std::vector<char>& model, const std::vector<float>& tile, SessionChoice choice) {
    ModelLogicONNX backend;
    backend.setProcessorThreads(choice.threads);
    backend.setSpinning(choice.spinning);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const bool loaded = backend.loadModel(model.data(), static_cast<uint32_t>(model.size()), "input", "output");
    const ImageFloat out = loaded ? backend.runModel(tile.data(), kTile, kTile, kChannels) : ImageFloat{};
    std::vector<float> values;
    if (out.data) values.assign(out.data, out.data + elementCount(out));
    testing::internal::GetCapturedStderr();
    testing::internal::GetCapturedStdout();
    return values;
}

struct Difference {
    double largestRelative = 0.0;
    size_t sameBits = 0;
};

Difference differenceOf(const std::vector<float>& a, const std::vector<float>& b) {
    Difference d;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::memcmp(&a[i], &b[i], sizeof(float)) == 0) {
            ++d.sameBits;
            continue;
        }
        const double scale = std::max(std::fabs(a[i]), std::fabs(b[i]));
        d.largestRelative = std::max(d.largestRelative, std::fabs(static_cast<double>(a[i]) - b[i]) / scale);
    }
    return d;
}

}  // namespace

TEST(ThreadCountResults, EveryCountGivesTheResultsOfFiveAndFive) {
    const auto model = readModel("conv6x32_t256.onnx");
    const auto tile = noiseTile();
    const std::vector<float> former = runOnce(model, tile, {5, true});
    ASSERT_EQ(former.size(), tile.size());
    // Six layers of real convolutions: values far from any constant.
    const auto [low, high] = std::minmax_element(former.begin(), former.end());
    ASSERT_GT(*high - *low, 0.1f);

    for (const SessionChoice choice :
         {SessionChoice{0, true}, {0, false}, {1, true}, {2, false}, {3, true}, {5, false}}) {
        SCOPED_TRACE("threads " + std::to_string(choice.threads) + (choice.spinning ? ", spinning" : ", no spinning"));
        const std::vector<float> values = runOnce(model, tile, choice);
        ASSERT_EQ(values.size(), former.size());
        const Difference d = differenceOf(values, former);
        EXPECT_LE(d.largestRelative, 1e-6);
        // How many values kept their bits, for the record.
        RecordProperty("same_bits_threads_" + std::to_string(choice.threads) + (choice.spinning ? "_spin" : "_nospin"),
                       std::to_string(d.sameBits) + "/" + std::to_string(values.size()));
    }
}
