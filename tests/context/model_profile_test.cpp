#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "context/model_profile.h"
#include "context/profile_transforms.h"

using testing::HasSubstr;

TEST(ProfileText, ReadsEveryKeyAndCompletesAMeanWithoutStd) {
    const Expected<ModelProfile> p = parseProfileText(R"({"mean": [0.485, 0.456, 0.406], "std": [0.229, 0.224, 0.225],
        "input_range": [0, 255], "colors": "bgr", "output": "mask", "output_range": [-1, 1]})");
    ASSERT_TRUE(p) << p.message();
    EXPECT_EQ(p->mean, (std::vector<float>{0.485f, 0.456f, 0.406f}));
    EXPECT_EQ(p->std, (std::vector<float>{0.229f, 0.224f, 0.225f}));
    EXPECT_EQ(p->inputLow, 0.0f);
    EXPECT_EQ(p->inputHigh, 255.0f);
    EXPECT_TRUE(p->bgr);
    EXPECT_EQ(p->output, OutputRole::Mask);
    EXPECT_EQ(p->outputLow, -1.0f);
    EXPECT_EQ(p->outputHigh, 1.0f);
    EXPECT_EQ(p->source, ProfileSource::Sidecar);
    EXPECT_FALSE(p->identity());

    const Expected<ModelProfile> meanOnly = parseProfileText(R"({"mean": [0.5, 0.25]})");
    ASSERT_TRUE(meanOnly) << meanOnly.message();
    EXPECT_EQ(meanOnly->std, (std::vector<float>{1.0f, 1.0f}));

    const Expected<ModelProfile> empty = parseProfileText("{}");
    ASSERT_TRUE(empty) << empty.message();
    EXPECT_TRUE(empty->identity());
    EXPECT_EQ(empty->source, ProfileSource::Sidecar);
}

TEST(ProfileText, RefusesWhatIsNotAProfileNamingTheKey) {
    const struct {
        const char* text;
        const char* named;
    } cases[] = {
        {R"({"meen": [0.5]})", "\"meen\""},
        {R"({"std": [0.5, 0, 0.5]})", "\"std\" is 0 for channel 1"},
        {R"({"mean": [1, 2, 3, 4, 5, 6, 7, 8, 9]})", "\"mean\" gives 9 values"},
        {R"({"mean": [0.5, 0.5, 0.5], "std": [0.2, 0.2]})", "\"mean\" gives 3 values and \"std\" 2"},
        {R"({"mean": [0.5, "0.5"]})", "\"mean\" holds \"0.5\""},
        {R"({"std": 0.5})", "\"std\" is not a list"},
        {R"({"input_range": [0, 1, 2]})", "\"input_range\" must give two"},
        {R"({"output_range": [1, 1]})", "\"output_range\" has two equal ends"},
        {R"({"input_range": [0, 1e300]})", "\"input_range\" holds a number that is not finite"},
        {R"({"colors": "rgba"})", "\"colors\" is \"rgba\""},
        {R"({"output": 2})", "\"output\" is not a text"},
        {R"({"output": "depth"})", "\"output\" is \"depth\""},
        {R"({"mean": [0.5],})", "not JSON"},
        {R"([0.5])", "not a JSON object"},
    };
    for (const auto& c : cases) {
        const Expected<ModelProfile> p = parseProfileText(c.text);
        ASSERT_FALSE(p) << c.text;
        EXPECT_THAT(p.message(), HasSubstr(c.named)) << c.text;
    }
}

TEST(ProfileMetadata, ReadsVelmoraKeysIgnoresOthersAndRefusesMalformedValues) {
    const Expected<ModelProfile> p = profileFromMetadata({{"velmora.mean", "0.485, 0.456,0.406"},
                                                          {"velmora.std", "0.229,0.224,0.225"},
                                                          {"velmora.input_range", "0,255"},
                                                          {"velmora.colors", "bgr"},
                                                          {"velmora.output", "scores"},
                                                          {"velmora.output_range", "-1,1"},
                                                          {"author", "someone"}});
    ASSERT_TRUE(p) << p.message();
    EXPECT_EQ(p->source, ProfileSource::Metadata);
    EXPECT_EQ(p->mean, (std::vector<float>{0.485f, 0.456f, 0.406f}));
    EXPECT_EQ(p->std, (std::vector<float>{0.229f, 0.224f, 0.225f}));
    EXPECT_EQ(p->inputHigh, 255.0f);
    EXPECT_TRUE(p->bgr);
    EXPECT_EQ(p->output, OutputRole::Scores);
    EXPECT_EQ(p->outputLow, -1.0f);

    const Expected<ModelProfile> none = profileFromMetadata({{"author", "someone"}, {"velmora", "x"}});
    ASSERT_TRUE(none) << none.message();
    EXPECT_EQ(none->source, ProfileSource::None);
    EXPECT_TRUE(none->identity());

    const std::pair<const char*, const char*> malformed[] = {
        {"velmora.mean", "0.5,,0.5"}, {"velmora.std", "0.5,0"},       {"velmora.std", "1e60"},
        {"velmora.input_range", "0"}, {"velmora.colors", "BGR"},      {"velmora.output", "depth"},
        {"velmora.mean", "0.5;0.5"},  {"velmora.output_range", "2,2"}};
    for (const auto& [key, value] : malformed) {
        const Expected<ModelProfile> bad = profileFromMetadata({{key, value}});
        ASSERT_FALSE(bad) << key << " = " << value;
        EXPECT_THAT(bad.message(), HasSubstr(std::string("\"") + key + "\"")) << value;
    }
}

namespace {
// The formula the header gives, in double.
float modelValue(const ModelProfile& p, float v, size_t c) {
    return static_cast<float>((p.inputLow + static_cast<double>(v) * (p.inputHigh - p.inputLow) - p.mean[c]) /
                              p.std[c]);
}
}  // namespace

TEST(ProfileTransforms, FollowTheFormulaInTheModelsColourOrder) {
    ModelProfile p;
    p.mean = {0.485f, 0.456f, 0.406f};
    p.std = {0.229f, 0.224f, 0.225f};
    p.inputLow = -1.0f;
    p.inputHigh = 2.0f;
    p.bgr = true;
    // Two pixels, red green blue as the host gives them.
    const std::vector<float> host{0.0f, 0.5f, 1.0f, 0.25f, 0.75f, 0.125f};
    std::vector<float> model(host.size());
    const InputTransform in(p);
    EXPECT_FALSE(in.identity());
    in.applyInput(host.data(), 2, 3, model.data());
    for (int px = 0; px < 2; ++px) {
        const float* h = &host[px * 3];
        EXPECT_NEAR(model[px * 3 + 0], modelValue(p, h[2], 0), 1e-5f) << px;  // blue first
        EXPECT_NEAR(model[px * 3 + 1], modelValue(p, h[1], 1), 1e-5f) << px;
        EXPECT_NEAR(model[px * 3 + 2], modelValue(p, h[0], 2), 1e-5f) << px;
    }
    std::vector<float> inPlace = host;
    in.applyInput(inPlace.data(), 2, 3, inPlace.data());
    EXPECT_EQ(inPlace, model);

    // A single value serves every channel; past a longer list, channels take
    // 0 and 1; one or two channels have no colours to exchange.
    ModelProfile one;
    one.mean = {0.5f};
    one.std = {0.25f};
    one.bgr = true;
    std::vector<float> grey{1.0f, 0.0f};
    InputTransform(one).applyInput(grey.data(), 1, 2, grey.data());
    EXPECT_EQ(grey, (std::vector<float>{2.0f, -2.0f}));
    std::vector<float> rgba{0.5f, 0.5f, 0.5f, 0.75f};
    InputTransform(p).applyInput(rgba.data(), 1, 4, rgba.data());
    EXPECT_FLOAT_EQ(rgba[3], -1.0f + 0.75f * 3.0f);

    // An image output back to the host's range and order; a mask as it is.
    p.outputLow = -1.0f;
    p.outputHigh = 3.0f;
    std::vector<float> result{3.0f, 1.0f, -1.0f, 0.0f};
    OutputTransform(p).applyOutput(result.data(), 1, 4);
    EXPECT_EQ(result, (std::vector<float>{0.0f, 0.5f, 1.0f, 0.25f}));
    p.output = OutputRole::Mask;
    std::vector<float> mask{3.0f, -1.0f, 0.5f};
    OutputTransform(p).applyOutput(mask.data(), 1, 3);
    EXPECT_EQ(mask, (std::vector<float>{3.0f, -1.0f, 0.5f}));
}

TEST(ProfileTransforms, TheIdentityLeavesEveryBitAlone) {
    ModelProfile p;
    p.mean = {0.0f, 0.0f, 0.0f};
    p.std = {1.0f, 1.0f, 1.0f};
    p.output = OutputRole::Scores;
    p.outputLow = 5.0f;  // scores are not rescaled
    ASSERT_TRUE(p.identity());
    const InputTransform in(p);
    const OutputTransform out(p);
    ASSERT_TRUE(in.identity());
    ASSERT_TRUE(out.identity());

    float quietNan;
    const uint32_t payload = 0x7fc12345u;
    std::memcpy(&quietNan, &payload, sizeof payload);
    const std::vector<float> values{-0.0f, quietNan, std::numeric_limits<float>::infinity(), 1e-45f, 0.3f, -7.0f};
    std::vector<float> inPlace = values, copied(values.size()), output = values;
    in.applyInput(inPlace.data(), 2, 3, inPlace.data());
    in.applyInput(values.data(), 2, 3, copied.data());
    out.applyOutput(output.data(), 2, 3);
    for (const auto* seen : {&inPlace, &copied, &output})
        EXPECT_EQ(std::memcmp(seen->data(), values.data(), values.size() * sizeof(float)), 0);

    // Only exchanging colours moves values without touching their bits.
    p.bgr = true;
    EXPECT_FALSE(p.identity());
    std::vector<float> swapped = values;
    InputTransform(p).applyInput(swapped.data(), 2, 3, swapped.data());
    EXPECT_TRUE(std::signbit(swapped[2]) && swapped[2] == 0.0f);
    EXPECT_EQ(std::memcmp(&swapped[1], &values[1], sizeof(float)), 0);
}
