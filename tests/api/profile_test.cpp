#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "api/host.h"

using testing::HasSubstr;
using testing::Not;

namespace {
VelmoraProfile emptyRecord() {
    VelmoraProfile p{};
    p.size = sizeof(VelmoraProfile);
    return p;
}

VelmoraProfile profileOf(const HostContext& context) {
    VelmoraProfile p = emptyRecord();
    EXPECT_TRUE(velmoraGetProfile(context, &p)) << context.errors();
    return p;
}
}  // namespace

TEST(Profile, TheModelsMetadataIsReadAtLoadAndOverriddenBySidecarThenHost) {
    HostContext context;
    ASSERT_TRUE(context.load("profiled_mix_t16.onnx", 0, 0)) << context.errors();
    VelmoraProfile p = profileOf(context);
    EXPECT_EQ(p.source, VELMORA_PROFILE_METADATA);
    ASSERT_EQ(p.channels, 3);
    EXPECT_FLOAT_EQ(p.mean[0], 103.53f);  // the model's order: blue first
    EXPECT_FLOAT_EQ(p.std[2], 58.395f);
    EXPECT_EQ(p.mean[3], 0.0f);  // past the channels given: cleared
    EXPECT_EQ(p.inputHigh, 255.0f);
    EXPECT_EQ(p.colors, VELMORA_COLORS_BGR);
    EXPECT_EQ(p.output, VELMORA_OUTPUT_IMAGE);
    EXPECT_EQ(p.outputHigh, 255.0f);

    ASSERT_TRUE(velmoraLoadProfile(context, R"({"mean": [0.5], "std": [0.25], "output": "mask"})")) << context.errors();
    p = profileOf(context);
    EXPECT_EQ(p.source, VELMORA_PROFILE_SIDECAR);
    EXPECT_EQ(p.channels, 1);
    EXPECT_EQ(p.std[0], 0.25f);
    EXPECT_EQ(p.inputHigh, 1.0f);
    EXPECT_EQ(p.output, VELMORA_OUTPUT_MASK);

    VelmoraProfile mine = profileOf(context);
    mine.colors = VELMORA_COLORS_BGR;
    ASSERT_TRUE(velmoraSetProfile(context, &mine)) << context.errors();
    p = profileOf(context);
    EXPECT_EQ(p.source, VELMORA_PROFILE_HOST);
    EXPECT_EQ(p.colors, VELMORA_COLORS_BGR);

    ASSERT_TRUE(velmoraSetProfile(context, nullptr));
    EXPECT_EQ(profileOf(context).source, VELMORA_PROFILE_SIDECAR);
    ASSERT_TRUE(velmoraSetProfile(context, &mine));

    // A new load forgets the host's and the sidecar's.
    ASSERT_TRUE(context.load("profiled_mix_t16.onnx", 0, 0));
    EXPECT_EQ(profileOf(context).source, VELMORA_PROFILE_METADATA);
    ASSERT_TRUE(velmoraLoadProfile(context, "{}"));
    ASSERT_TRUE(context.load("identity_t16_c3.onnx"));
    p = profileOf(context);
    EXPECT_EQ(p.source, VELMORA_PROFILE_NONE);
    EXPECT_EQ(p.channels, 0);
    EXPECT_EQ(p.inputLow, 0.0f);
    EXPECT_EQ(p.inputHigh, 1.0f);
    EXPECT_EQ(p.outputHigh, 1.0f);
    EXPECT_THAT(context.errors(), Not(HasSubstr("Profile")));
}

TEST(Profile, MalformedMetadataLeavesTheModelLoadedWithoutAProfile) {
    HostContext context;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(context.load("profile_malformed_t16.onnx"));
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_THAT(printed, HasSubstr("\"velmora.std\""));
    // A successful load leaves no words behind.
    EXPECT_THAT(context.errors(), Not(HasSubstr("velmora.std")));
    EXPECT_EQ(profileOf(context).source, VELMORA_PROFILE_NONE);
}

TEST(Profile, RefusalsComeWithWordsAndChangeNothing) {
    HostContext context;
    VelmoraProfile p = emptyRecord();
    EXPECT_FALSE(velmoraGetProfile(context, &p));
    EXPECT_THAT(context.errors(), HasSubstr("velmoraGetProfile: no model is loaded"));
    EXPECT_FALSE(velmoraLoadProfile(context, "{}"));
    EXPECT_THAT(context.errors(), HasSubstr("velmoraLoadProfile: no model is loaded"));
    EXPECT_FALSE(velmoraGetProfile(nullptr, &p));

    ASSERT_TRUE(context.load("profiled_mix_t16.onnx", 0, 0)) << context.errors();
    p.size = sizeof(VelmoraProfile) - 4;
    EXPECT_FALSE(velmoraGetProfile(context, &p));
    EXPECT_THAT(context.errors(), HasSubstr("sizeof(VelmoraProfile)"));

    EXPECT_FALSE(velmoraLoadProfile(context, R"({"mean": [0.5], "stdev": [0.2]})"));
    EXPECT_THAT(context.errors(), HasSubstr("velmoraLoadProfile: unknown key \"stdev\""));
    EXPECT_FALSE(velmoraLoadProfile(context, nullptr));
    EXPECT_THAT(context.errors(), HasSubstr("velmoraLoadProfile: "));

    VelmoraProfile bad = profileOf(context);
    bad.std[1] = 0.0f;
    EXPECT_FALSE(velmoraSetProfile(context, &bad));
    EXPECT_THAT(context.errors(), HasSubstr("velmoraSetProfile: \"std\" is 0 for channel 1"));
    bad = profileOf(context);
    bad.output = 7;
    EXPECT_FALSE(velmoraSetProfile(context, &bad));
    EXPECT_THAT(context.errors(), HasSubstr("output is 7"));
    bad = profileOf(context);
    bad.channels = VELMORA_PROFILE_CHANNELS + 1;
    EXPECT_FALSE(velmoraSetProfile(context, &bad));
    EXPECT_THAT(context.errors(), HasSubstr("channels is 9"));
    EXPECT_EQ(profileOf(context).source, VELMORA_PROFILE_METADATA);
}
