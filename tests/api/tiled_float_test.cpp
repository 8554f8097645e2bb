#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <fstream>
#include <random>
#include <thread>

#include "api/host.h"
#include "api/scratch_environment.h"
#include "api/stored_settings.h"

namespace {

std::vector<float> randomImage(int w, int h, int c, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(0.0f, 1.0f);
    std::vector<float> v(static_cast<size_t>(w) * h * c);
    for (auto& x : v) x = dist(rng);
    return v;
}

struct Progress {
    std::vector<float> seen;
    int stopAt = -1;  // index of the call that answers true
    static bool record(void* self, float percent) {
        auto* p = static_cast<Progress*>(self);
        p->seen.push_back(percent);
        return static_cast<int>(p->seen.size()) - 1 == p->stopAt;
    }
};

std::vector<float> expectedProgress(int tiles) {
    std::vector<float> v;
    for (int i = 0; i < tiles; ++i) v.push_back(static_cast<float>(i) / (static_cast<float>(tiles) / 100.0f));
    v.push_back(100.0f);
    return v;
}

std::vector<std::string> logLines() {
    std::ifstream in(scratchTempFolder() / "velmora.log");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        // "y-m-d h:m:s message"
        const size_t second = line.find(' ', line.find(' ') + 1);
        lines.push_back(line.substr(second + 1));
    }
    return lines;
}

class TiledFloat : public testing::Test {
protected:
    void SetUp() override {
        removeStoredSettings();
        std::filesystem::remove(scratchTempFolder() / "velmora.log");
    }
    HostContext context;
};

}  // namespace

TEST_F(TiledFloat, IdentityGivesBackTheInputExactly) {
    struct Case {
        int width, height, tile, step, channels;
    };
    const Case cases[] = {
        {1, 1, 16, 16, 1},     {97, 13, 16, 12, 3}, {10, 7, 16, 10, 4},   {300, 201, 16, 9, 3},
        {257, 131, 32, 32, 1}, {64, 64, 64, 48, 3}, {131, 67, 32, 17, 4}, {5, 200, 16, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " tile " << c.tile << " step " << c.step
                                        << " channels " << c.channels);
        ASSERT_TRUE(context.load("identity_t" + std::to_string(c.tile) + "_c" + std::to_string(c.channels) + ".onnx"));
        auto input = randomImage(c.width, c.height, c.channels, c.width * 31 + c.height);
        const ImageFloat out = predictByTilesImageFloat(
            context, ImageFloat{c.width, c.height, c.channels, input.data()}, c.tile, c.step, 1, nullptr, nullptr);
        ASSERT_NE(out.data, nullptr) << context.errors();
        EXPECT_EQ(out.width, c.width);
        EXPECT_EQ(out.height, c.height);
        EXPECT_EQ(out.numChannels, c.channels);
        EXPECT_EQ(std::vector<float>(out.data, out.data + input.size()), input);
    }
}

TEST_F(TiledFloat, ShrinkingWithDetailTransferGivesBackTheInput) {
    ASSERT_TRUE(context.load("identity_t32_c3.onnx"));
    for (int downscale : {-2, -3}) {
        auto input = randomImage(101, 77, 3, 5 - downscale);
        const ImageFloat out = predictByTilesImageFloat(context, ImageFloat{101, 77, 3, input.data()}, 32, 24,
                                                        downscale, nullptr, nullptr);
        ASSERT_NE(out.data, nullptr) << context.errors();
        ASSERT_EQ(out.width, 101);
        for (size_t i = 0; i < input.size(); ++i) ASSERT_NEAR(out.data[i], input[i], 2e-6f) << i;
    }
    // Without detail transfer the result is the enlarged shrunk image: smooth, not the input.
    auto input = randomImage(101, 77, 3, 9);
    const ImageFloat out =
        predictByTilesImageFloat(context, ImageFloat{101, 77, 3, input.data()}, 32, 24, 2, nullptr, nullptr);
    ASSERT_NE(out.data, nullptr);
    double difference = 0;
    for (size_t i = 0; i < input.size(); ++i) difference += std::fabs(out.data[i] - input[i]);
    EXPECT_GT(difference / input.size(), 0.05);
}

TEST_F(TiledFloat, ScalingAndChannelChangingModels) {
    auto input = randomImage(150, 90, 3, 11);
    ASSERT_TRUE(context.load("scale2_64x3.onnx"));
    const ImageFloat scaled =
        predictByTilesImageFloat(context, ImageFloat{150, 90, 3, input.data()}, 64, 40, 1, nullptr, nullptr);
    ASSERT_NE(scaled.data, nullptr);
    for (size_t i = 0; i < input.size(); ++i) ASSERT_EQ(scaled.data[i], input[i] * 2);

    // Multiples of 1/256 keep the weighted sum exact.
    for (auto& v : input) v = std::floor(v * 256) / 256;
    ASSERT_TRUE(context.load("rgb_to_gray_64.onnx"));
    const ImageFloat gray =
        predictByTilesImageFloat(context, ImageFloat{150, 90, 3, input.data()}, 64, 40, 1, nullptr, nullptr);
    ASSERT_NE(gray.data, nullptr);
    ASSERT_EQ(gray.numChannels, 1);
    for (int p = 0; p < 150 * 90; ++p)
        ASSERT_EQ(gray.data[p], 0.25f * input[p * 3] + 0.5f * input[p * 3 + 1] + 0.25f * input[p * 3 + 2]) << p;

    // With detail transfer only channel 0 is corrected.
    const ImageFloat detailed =
        predictByTilesImageFloat(context, ImageFloat{150, 90, 3, input.data()}, 64, 40, -2, nullptr, nullptr);
    ASSERT_NE(detailed.data, nullptr);
    EXPECT_EQ(detailed.numChannels, 1);
}

TEST_F(TiledFloat, TileOrderProgressAndLogLines) {
    ASSERT_TRUE(context.load("identity_t64_c3.onnx"));
    char info[1000];
    initializeVelmora(context, "tests", nullptr, info);
    storeSetting("logging", "1");
    initializeVelmora(context, "tests", nullptr, info);

    auto input = randomImage(100, 50, 3, 3);
    Progress progress;
    ASSERT_NE(
        predictByTilesImageFloat(context, ImageFloat{100, 50, 3, input.data()}, 64, 48, 1, Progress::record, &progress)
            .data,
        nullptr);
    EXPECT_EQ(progress.seen, expectedProgress(6));
    auto lines = logLines();
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[0], "*predictByTilesImageFloat start");
    const char* order[] = {"0x0", "1x0", "2x0", "0x1", "1x1", "2x1"};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(lines[1 + i], std::string("*** Processing tile ") + order[i]);
    char done[80];
    std::snprintf(done, sizeof done, "PredictByTilesImageFloat Done, returning %f", static_cast<double>(input[0]));
    EXPECT_EQ(lines[7], done);

    // At downscale 2 the 50 x 25 working image needs 2 x 1 tiles.
    std::filesystem::remove(scratchTempFolder() / "velmora.log");
    progress = Progress{};
    ASSERT_NE(
        predictByTilesImageFloat(context, ImageFloat{100, 50, 3, input.data()}, 64, 48, 2, Progress::record, &progress)
            .data,
        nullptr);
    EXPECT_EQ(progress.seen, expectedProgress(2));
    lines = logLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], "*** Processing tile 0x0");
    EXPECT_EQ(lines[2], "*** Processing tile 1x0");
}

TEST_F(TiledFloat, ColumnsPastTheShrunkImageRunAndContributeNothing) {
    ASSERT_TRUE(context.load("identity_t256_c3.onnx"));
    auto input = randomImage(1001, 600, 3, 4);
    Progress progress;
    const ImageFloat out = predictByTilesImageFloat(context, ImageFloat{1001, 600, 3, input.data()}, 256, 250, -2,
                                                    Progress::record, &progress);
    ASSERT_NE(out.data, nullptr);
    EXPECT_EQ(progress.seen, expectedProgress(3 * 2));
    for (size_t i = 0; i < input.size(); ++i) ASSERT_NEAR(out.data[i], input[i], 2e-6f) << i;
}

TEST_F(TiledFloat, StopFromTheCallback) {
    ASSERT_TRUE(context.load("identity_t16_c1.onnx"));
    auto input = randomImage(40, 40, 1, 8);
    for (int stopAt : {0, 3}) {
        SCOPED_TRACE(stopAt);
        ASSERT_NE(predictByTilesFloat(context, input.data(), 40, 40, 1, 16, 16, 1, nullptr, nullptr), nullptr);
        removeStoredSettings();
        Progress progress;
        progress.stopAt = stopAt;
        EXPECT_EQ(predictByTilesFloat(context, input.data(), 40, 40, 1, 16, 16, 1, Progress::record, &progress),
                  nullptr);
        EXPECT_EQ(progress.seen.size(), static_cast<size_t>(stopAt + 1));
        EXPECT_EQ(context.errors(), HostContext().errors());  // nothing of the context's own
        EXPECT_FALSE(settingsKeyExists());                    // not counted
    }
}

TEST_F(TiledFloat, APendingMessageEmptiesTheRecordButNotTheResult) {
    ASSERT_TRUE(context.load("identity_t16_c1.onnx"));
    auto input = randomImage(20, 20, 1, 2);
    // A refused call leaves a message that the host does not fetch.
    EXPECT_EQ(predictByTilesImageFloat(context, ImageFloat{20, 20, 1, input.data()}, 16, 0, 1, nullptr, nullptr).data,
              nullptr);
    const ImageFloat record =
        predictByTilesImageFloat(context, ImageFloat{20, 20, 1, input.data()}, 16, 16, 1, nullptr, nullptr);
    EXPECT_EQ(record.data, nullptr);
    EXPECT_EQ(record.width, 0);
    float* result = predictByTilesFloat(context, input.data(), 20, 20, 1, 16, 16, 1, nullptr, nullptr);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(std::vector<float>(result, result + input.size()), input);
    EXPECT_NE(context.errors().find("step must be 1 or more"), std::string::npos);
    // Fetched: success is reported again, in the same buffer.
    const ImageFloat again =
        predictByTilesImageFloat(context, ImageFloat{20, 20, 1, input.data()}, 16, 16, 1, nullptr, nullptr);
    EXPECT_EQ(again.data, result);
    deallocateImage(context);
    deallocateImage(context);
}

TEST_F(TiledFloat, RunCounterAndDeviceAreStoredOnlyAfterCompletedRuns) {
    ASSERT_TRUE(context.load("identity_t16_c1.onnx"));
    storeSettings({{"tilessplit", "41"}, {"logging", "0"}});
    char info[1000];
    initializeVelmora(context, "tests", nullptr, info);
    auto input = randomImage(20, 20, 1, 2);

    EXPECT_EQ(predictByTilesFloat(context, input.data(), 20, 20, 1, 8, 16, 1, nullptr, nullptr), nullptr);  // bad args
    context.errors();
    Progress stop;
    stop.stopAt = 0;
    EXPECT_EQ(predictByTilesFloat(context, input.data(), 20, 20, 1, 16, 16, 1, Progress::record, &stop), nullptr);
    EXPECT_EQ(storedSettings().count("Device"), 0u);
    EXPECT_EQ(storedSettings()["tilessplit"], "41");

    ASSERT_NE(predictByTilesFloat(context, input.data(), 20, 20, 1, 16, 16, 1, nullptr, nullptr), nullptr);
    EXPECT_EQ(storedSettings()["tilessplit"], "42");
    EXPECT_EQ(storedSettings()["Device"], "Velmora ONNX");

    // Two contexts loaded from the same count: the last writer wins.
    storeSetting("tilessplit", "5");
    HostContext other;
    ASSERT_TRUE(other.load("identity_t16_c1.onnx"));
    initializeVelmora(context, "a", nullptr, info);
    initializeVelmora(other, "b", nullptr, info);
    ASSERT_NE(predictByTilesFloat(context, input.data(), 20, 20, 1, 16, 16, 1, nullptr, nullptr), nullptr);
    ASSERT_NE(predictByTilesFloat(other, input.data(), 20, 20, 1, 16, 16, 1, nullptr, nullptr), nullptr);
    EXPECT_EQ(storedSettings()["tilessplit"], "6");
}

TEST_F(TiledFloat, OneCallerAtATime) {
#ifdef VELMORA_TEST_MSVC_EXCEPTIONS
    GTEST_SKIP() << "the refusal leaves this DLL in Microsoft's form; msvc_host catches it";
#endif
    ASSERT_TRUE(context.load("identity_t16_c1.onnx"));
    auto input = randomImage(64, 64, 1, 6);
    struct Gate {
        std::atomic<bool> inside{false}, release{false};
    } gate;
    ProgressCallback hold = [](void* g, float) {
        auto* gate = static_cast<Gate*>(g);
        gate->inside = true;
        while (!gate->release) std::this_thread::yield();
        return false;
    };
    ImageFloat first{};
    std::thread runner([&] {
        first = predictByTilesImageFloat(context, ImageFloat{64, 64, 1, input.data()}, 16, 16, 1, hold, &gate);
    });
    while (!gate.inside) std::this_thread::yield();

    HostContext second;
    ASSERT_TRUE(second.load("identity_t16_c1.onnx"));
    std::string refusal;
    try {
        predictByTilesImageFloat(second, ImageFloat{64, 64, 1, input.data()}, 16, 16, 1, nullptr, nullptr);
    } catch (const std::exception& e) {
        refusal = e.what();
    }
    gate.release = true;
    runner.join();
    EXPECT_EQ(refusal, "Velmora exception: No multithreading allowed!!!");
    ASSERT_NE(first.data, nullptr);
    EXPECT_EQ(second.errors(), HostContext().errors());  // the refusal left no message
    EXPECT_NE(predictByTilesImageFloat(second, ImageFloat{64, 64, 1, input.data()}, 16, 16, 1, nullptr, nullptr).data,
              nullptr);
}

TEST_F(TiledFloat, ArgumentsOutsideTheContractAreRefusedInWords) {
    ASSERT_TRUE(context.load("identity_t16_c1.onnx"));
    auto input = randomImage(20, 20, 1, 1);
    struct Case {
        ImageFloat image;
        int tile, step, downscale;
        const char* words;
    };
    const Case cases[] = {
        {{20, 20, 1, nullptr}, 16, 16, 1, "no data"},
        {{0, 20, 1, input.data()}, 16, 16, 1, "width, a height and channels"},
        {{20, -1, 1, input.data()}, 16, 16, 1, "width, a height and channels"},
        {{20, 20, 0, input.data()}, 16, 16, 1, "width, a height and channels"},
        {{20, 20, 1, input.data()}, 0, 16, 1, "1 or more"},
        {{20, 20, 1, input.data()}, 16, 0, 1, "1 or more"},
        {{20, 20, 1, input.data()}, 8, 16, 1, "not be smaller than the step"},
        {{20, 20, 1, input.data()}, 16, 16, 0, "must not be 0"},
        {{20, 20, 1, input.data()}, 16, 16, INT32_MIN, "too large"},
        {{20, 20, 1, input.data()}, 16, 16, 21, "smaller than the downscale"},
        {{2, 2000, 1, input.data()}, 16, 16, -3, "smaller than the downscale"},
        {{INT32_MAX, INT32_MAX, 4, input.data()}, 16, 16, 1, "too large to address"},
        {{20, 20, 1, input.data()}, INT32_MAX, 16, 1, "too large to address"},
        {{20, 20, 1, input.data()}, 16, 16, 1 << 30, "smaller than the downscale"},
    };
    ASSERT_NE(predictByTilesFloat(context, input.data(), 20, 20, 1, 16, 16, 1, nullptr, nullptr), nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.words);
        const ImageFloat out =
            predictByTilesImageFloat(context, c.image, c.tile, c.step, c.downscale, nullptr, nullptr);
        EXPECT_EQ(out.data, nullptr);
        EXPECT_NE(context.errors().find(c.words), std::string::npos);
        EXPECT_EQ(predictByTilesFloat(context, c.image.data, c.image.width, c.image.height, c.image.numChannels, c.tile,
                                      c.step, c.downscale, nullptr, nullptr),
                  nullptr);
        context.errors();
    }
    // The single-caller count was given back every time.
    EXPECT_NE(predictByTilesFloat(context, input.data(), 20, 20, 1, 16, 16, 1, nullptr, nullptr), nullptr);
}

TEST_F(TiledFloat, ModelResultsThatDoNotFitTheTileAreReported) {
    // A 16 x 16 model is refused tiles of any other size before the first
    // tile, larger or smaller.
    ASSERT_TRUE(context.load("identity_t16_c1.onnx"));
    auto input = randomImage(40, 40, 1, 3);
    EXPECT_EQ(predictByTilesImageFloat(context, ImageFloat{40, 40, 1, input.data()}, 32, 32, 1, nullptr, nullptr).data,
              nullptr);
    EXPECT_NE(context.errors().find("the model takes 16 x 16 tiles, not 32 x 32"), std::string::npos);
    EXPECT_EQ(predictByTilesImageFloat(context, ImageFloat{40, 40, 1, input.data()}, 8, 8, 1, nullptr, nullptr).data,
              nullptr);
    const std::string text = context.errors();
    EXPECT_NE(text.find("the model takes 16 x 16 tiles, not 8 x 8"), std::string::npos) << text;

    ASSERT_TRUE(context.load("zero_size_out.onnx"));
    EXPECT_EQ(predictByTilesImageFloat(context, ImageFloat{8, 8, 1, input.data()}, 4, 4, 1, nullptr, nullptr).data,
              nullptr);
    EXPECT_NE(context.errors().find("\nModel returned 0 channels\n"), std::string::npos);
}

TEST_F(TiledFloat, WithoutAModelTheFirstTileFails) {
    auto input = randomImage(20, 20, 1, 1);
    Progress progress;
    EXPECT_EQ(
        predictByTilesImageFloat(context, ImageFloat{20, 20, 1, input.data()}, 16, 16, 1, Progress::record, &progress)
            .data,
        nullptr);
    EXPECT_EQ(progress.seen, std::vector<float>{0.0f});
    EXPECT_NE(context.errors().find("\nModel returned 0 channels\n"), std::string::npos);
}

TEST_F(TiledFloat, NullHandle) {
    std::vector<float> input(4, 1.0f);
    EXPECT_EQ(predictByTilesImageFloat(nullptr, ImageFloat{2, 2, 1, input.data()}, 2, 2, 1, nullptr, nullptr).data,
              nullptr);
    EXPECT_EQ(predictByTilesFloat(nullptr, input.data(), 2, 2, 1, 2, 2, 1, nullptr, nullptr), nullptr);
}
