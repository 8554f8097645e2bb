// Numbers as the user types them, and what the dialog says about a run.
#include <gtest/gtest.h>

#include <string>

#include "run_words.h"
#include "value_list.h"

namespace {

std::string parsed(const char* text) {
    float values[VG_MAX_LIST_VALUES];
    int32_t count = 0;
    VgFailure failure{};
    if (!vgParseValueList(text, "mean", values, &count, &failure)) return failure.text;
    char back[256];
    vgFormatValueList(values, count, back, sizeof back);
    return "[" + std::string(back) + "]";
}

}  // namespace

TEST(RunWords, ValueListsReadAsTypedAndRefuseTheRest) {
    EXPECT_EQ(parsed("0.485,0.456, 0.406"), "[0.485, 0.456, 0.406]");
    EXPECT_EQ(parsed(" 103.53 116.28 123.675 "), "[103.53, 116.28, 123.675]");
    EXPECT_EQ(parsed("-1e2"), "[-100]");
    EXPECT_EQ(parsed("2.5e-7"), "[2.5e-07]");
    EXPECT_EQ(parsed("   "), "[]");
    EXPECT_EQ(parsed(",1"), "the mean \",1\" starts with a comma");
    EXPECT_EQ(parsed("1;2"), "the mean \"1;2\" is not a list of numbers separated by commas");
    EXPECT_EQ(parsed("nan"), "the mean \"nan\" is not a list of numbers separated by commas");
    EXPECT_EQ(parsed("1,2,3,4,5,6,7,8,9"), "the mean gives more than 8 values");
}

TEST(RunWords, ThePlanAndTheProfileInWords) {
    VelmoraPlan tiles{};
    tiles.strategy = VELMORA_STRATEGY_TILES;
    tiles.tileSize = 128;
    tiles.step = 112;
    tiles.margin = 8;
    tiles.runs = 6;
    tiles.blend = 1;
    tiles.downscale = -2;
    std::snprintf(tiles.reason, sizeof tiles.reason, "tiles as asked");
    tiles.seconds = 0.04;  // too short to mention
    char text[512];
    vgDescribePlan(&tiles, text, sizeof text);
    EXPECT_STREQ(text,
                 "Tiles of 128 x 128 every 112 pixels (margin 8): 6 runs, overlaps blended, shrunk 2 times.\n"
                 "Tiles as asked.");
    VelmoraPlan whole{};
    whole.strategy = VELMORA_STRATEGY_WHOLE;
    whole.runWidth = whole.runHeight = 256;
    whole.runs = 1;
    whole.seconds = 0.25;
    vgDescribePlan(&whole, text, sizeof text);
    EXPECT_STREQ(text, "The whole layer at once, resized to 256 x 256: 1 run, about 0.2 s.");

    VelmoraProfile p{};
    p.source = VELMORA_PROFILE_METADATA;
    p.channels = 3;
    p.mean[0] = 103.53f, p.mean[1] = 116.28f, p.mean[2] = 123.675f;
    p.std[0] = 57.375f, p.std[1] = 57.12f, p.std[2] = 58.395f;
    p.inputHigh = 255;
    p.colors = VELMORA_COLORS_BGR;
    vgDescribeProfile(&p, 3, text, sizeof text);
    EXPECT_STREQ(text,
                 "From the model's metadata: mean 103.53, 116.28, 123.675; std 57.375, 57.12, 58.395; values 0 to "
                 "255, BGR; gives an image.");
    VelmoraProfile sidecar{};
    sidecar.source = VELMORA_PROFILE_SIDECAR;
    sidecar.inputHigh = 1;
    sidecar.output = VELMORA_OUTPUT_MASK;
    vgDescribeProfile(&sidecar, 3, text, sizeof text);
    EXPECT_STREQ(text, "From the profile beside the model (.onnx.json): no mean or std; values 0 to 1; gives a mask.");
}
