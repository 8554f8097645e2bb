// The command end to end, run as a user runs it.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "command_runner.h"
#include "image_files.h"
#include "test_images.h"
#include "velmora.h"

namespace {

void save(const Scratch& scratch, const std::string& name, const Raster& image) {
    const auto path = scratch / name;
    writeImage(path, formatForExtension(path), image, {image.type, 100});
}

// The demo model's operation, computed here: per channel 5c minus the four
// neighbours, clipped to [0, 1]. Neighbours past the image border repeat the
// border, as the library's tiles do; the tiles' own zero padding is cut away
// with their margins.
Raster sharpened(const Raster& in) {
    Raster out = makeRaster(in.width, in.height, in.channels, SampleType::Float32);
    auto at = [&](int x, int y, int c) {
        x = std::clamp(x, 0, in.width - 1);
        y = std::clamp(y, 0, in.height - 1);
        return in.pixels[(static_cast<size_t>(y) * in.width + x) * in.channels + c];
    };
    for (int y = 0; y < in.height; ++y)
        for (int x = 0; x < in.width; ++x)
            for (int c = 0; c < in.channels; ++c) {
                const float v = 5 * at(x, y, c) - at(x - 1, y, c) - at(x + 1, y, c) - at(x, y - 1, c) - at(x, y + 1, c);
                out.pixels[(static_cast<size_t>(y) * in.width + x) * in.channels + c] = std::clamp(v, 0.0f, 1.0f);
            }
    return out;
}

void expectSuccess(const CommandResult& r) { ASSERT_EQ(r.exitCode, 0) << r.err; }

}  // namespace

TEST(Command, WithoutArgumentsSharpensTheDemoSampleAndSaysWhere) {
    Scratch scratch;
    const CommandResult r = scratch.run({});
    expectSuccess(r);
    const auto result = scratch / "velmora-demo-sharpened.png";
    ASSERT_TRUE(std::filesystem::exists(result));
    const std::vector<std::string> messages = r.messages();
    ASSERT_FALSE(messages.empty());
    EXPECT_NE(messages.back().find(result.string()), std::string::npos) << messages.back();

    const Raster sample = readImage(std::string(VELMORA_TEST_BIN) + "/velmora-demo/sample.png");
    const Raster out = readImage(result);
    ASSERT_EQ(out.width, sample.width);
    ASSERT_EQ(out.channels, 3);
    EXPECT_LE(maxDifference(out, sharpened(sample)), 0.5f / 255.0f + 1e-6f);
    EXPECT_GT(maxDifference(out, sample), 0.1f);  // it did change the picture
}

TEST(Command, IdentityModelGivesBackEveryFormat) {
    Scratch scratch;
    struct Case {
        const char* file;
        SampleType type;
        int channels;
        const char* model;
    };
    const Case cases[] = {
        {"in8.png", SampleType::UInt8, 3, "identity_t64_c3.onnx"},
        {"in16.png", SampleType::UInt16, 1, "identity_t32_c1.onnx"},
        {"rgba16.png", SampleType::UInt16, 4, "identity_t32_c4.onnx"},
        {"in8.tif", SampleType::UInt8, 4, "identity_t16_c4.onnx"},
        {"in16.tiff", SampleType::UInt16, 3, "identity_t32_c3.onnx"},
        {"float.tif", SampleType::Float32, 3, "identity_t64_c3.onnx"},
        {"float1.tif", SampleType::Float32, 1, "identity_t16_c1.onnx"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const Raster image = randomRaster(150, 77, c.channels, c.type, 3);
        save(scratch, c.file, image);
        const std::string out = std::string("out-") + c.file;
        expectSuccess(scratch.run({c.file, out, "--model", modelFile(c.model)}));
        const Raster back = readImage(scratch / out);
        EXPECT_EQ(back.type, c.type);
        EXPECT_EQ(back.channels, c.channels);
        EXPECT_EQ(back.pixels, image.pixels);
    }
    // JPEG in, JPEG out: the model changes nothing, the second coding little.
    const Raster smooth = smoothRaster(120, 90, 3);
    save(scratch, "in.jpg", smooth);
    expectSuccess(scratch.run({"in.jpg", "out.jpg", "-m", modelFile("identity_t32_c3.onnx"), "--quality", "100"}));
    EXPECT_LE(maxDifference(readImage(scratch / "out.jpg"), readImage(scratch / "in.jpg")), 3.0f / 255.0f);
    // Depth on request: 8-bit in, 16-bit and float out hold the same values.
    expectSuccess(scratch.run({"in8.png", "wide.png", "-m", modelFile("identity_t64_c3.onnx"), "--bits", "16"}));
    expectSuccess(scratch.run({"in8.png", "float.tiff", "-m", modelFile("identity_t64_c3.onnx"), "-b", "32"}));
    const Raster in8 = readImage(scratch / "in8.png");
    EXPECT_EQ(readImage(scratch / "wide.png").type, SampleType::UInt16);
    EXPECT_LE(maxDifference(readImage(scratch / "wide.png"), in8), 1e-6f);
    EXPECT_EQ(readImage(scratch / "float.tiff").pixels, in8.pixels);
}

TEST(Command, DemoModelMatchesTheSharpeningComputedHere) {
    Scratch scratch;
    const Raster image = randomRaster(301, 170, 3, SampleType::Float32, 11);
    save(scratch, "in.tif", image);
    // Tiles of 128 every 120 pixels: margins of 4, and tiles reaching past every border.
    expectSuccess(scratch.run(
        {"in.tif", "out.tif", "--model", modelFile("demo_sharpen_t128.onnx"), "--tile", "128", "--step", "120"}));
    const Raster out = readImage(scratch / "out.tif");
    ASSERT_EQ(out.type, SampleType::Float32);
    EXPECT_LE(maxDifference(out, sharpened(image)), 1e-5f);

    // A gray image with alpha: the gray is repeated for the RGB model, the
    // alpha kept; the result is gray again (the luminance of equal channels),
    // or RGB with --color.
    Raster ga = randomRaster(90, 60, 2, SampleType::UInt8, 5);
    save(scratch, "ga.png", ga);
    expectSuccess(scratch.run({"ga.png", "ga-out.png", "-m", modelFile("demo_sharpen_t128.onnx")}));
    expectSuccess(scratch.run({"ga.png", "ga-color.png", "-m", modelFile("demo_sharpen_t128.onnx"), "--color"}));
    const Raster gaOut = readImage(scratch / "ga-out.png");
    const Raster gaColor = readImage(scratch / "ga-color.png");
    ASSERT_EQ(gaOut.channels, 2);
    ASSERT_EQ(gaColor.channels, 4);
    Raster gray = makeRaster(90, 60, 1, SampleType::UInt8);
    for (size_t p = 0; p < pixelCount(ga); ++p) {
        gray.pixels[p] = ga.pixels[p * 2];
        EXPECT_EQ(gaOut.pixels[p * 2 + 1], ga.pixels[p * 2 + 1]);
        EXPECT_EQ(gaColor.pixels[p * 4 + 3], ga.pixels[p * 2 + 1]);
    }
    const Raster expected = sharpened(gray);
    float worst = 0;
    for (size_t p = 0; p < pixelCount(ga); ++p) {
        worst = std::max(worst, std::abs(gaOut.pixels[p * 2] - expected.pixels[p]));
        for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(gaColor.pixels[p * 4 + c] - expected.pixels[p]));
    }
    EXPECT_LE(worst, 0.5f / 255.0f + 1e-6f);
}

TEST(Command, DownscaleScalingAndTheEightBitPath) {
    Scratch scratch;
    const Raster image = randomRaster(200, 130, 3, SampleType::Float32, 21);
    save(scratch, "in.tif", image);
    const std::string identity = modelFile("identity_t32_c3.onnx");
    expectSuccess(scratch.run({"in.tif", "detail.tif", "-m", identity, "--downscale", "-2"}));
    expectSuccess(scratch.run({"in.tif", "detail2.tif", "-m", identity, "--downscale", "3", "--detail"}));
    expectSuccess(scratch.run({"in.tif", "smooth.tif", "-m", identity, "--downscale", "2"}));
    EXPECT_LE(maxDifference(readImage(scratch / "detail.tif"), image), 1e-5f);
    EXPECT_LE(maxDifference(readImage(scratch / "detail2.tif"), image), 1e-5f);
    EXPECT_GT(maxDifference(readImage(scratch / "smooth.tif"), image), 0.2f);

    // The model doubles; the output scale halves again.
    expectSuccess(scratch.run({"in.tif", "scaled.tif", "-m", modelFile("scale2_64x3.onnx"), "--output-scale", "0.5"}));
    EXPECT_EQ(readImage(scratch / "scaled.tif").pixels, image.pixels);
    expectSuccess(scratch.run({"in.tif", "scaled4.tif", "-m", modelFile("scale2_64x3.onnx"), "--input-scale", "2"}));
    Raster four = image;
    for (float& v : four.pixels) v *= 4;
    EXPECT_EQ(readImage(scratch / "scaled4.tif").pixels, four.pixels);

    // The 8-bit path: bytes through the identity model unchanged.
    const Raster bytes = randomRaster(99, 45, 3, SampleType::UInt8, 8);
    save(scratch, "in8.png", bytes);
    expectSuccess(scratch.run({"in8.png", "out8.png", "-m", identity, "--8bit"}));
    EXPECT_EQ(readImage(scratch / "out8.png").pixels, bytes.pixels);

    // Segmentation: the model rotates the channels, so class = (argmax of input + 1) mod 3.
    // Channel values differ within each pixel, so that no tie decides.
    Raster distinct = bytes;
    for (size_t p = 0; p < pixelCount(distinct); ++p) {
        float* px = &distinct.pixels[p * 3];
        px[1] = std::fmod(px[0] * 255.0f + 1 + static_cast<float>(p % 100), 256.0f) / 255.0f;
        px[2] = std::fmod(px[0] * 255.0f + 101 + static_cast<float>(p % 150), 256.0f) / 255.0f;
    }
    save(scratch, "in8.png", distinct);
    expectSuccess(scratch.run({"in8.png", "classes.png", "-m", modelFile("argmax_seg_t16.onnx"), "--argmax"}));
    const Raster classes = readImage(scratch / "classes.png");
    ASSERT_EQ(classes.channels, 1);
    for (size_t p = 0; p < pixelCount(distinct); ++p) {
        const float* px = &distinct.pixels[p * 3];
        const int strongest = static_cast<int>(std::max_element(px, px + 3) - px);
        ASSERT_EQ(classes.pixels[p], ((strongest + 1) % 3) / 255.0f) << p;
    }
}

TEST(Command, InfoTellsWhatRunsTheModelItsProfileAndWhatMeasuringFinds) {
    Scratch scratch;
    const std::string model = modelFile("nchw_to_nhwc_t256.onnx");
    const CommandResult r = scratch.run({"--info", "--model", model, "--size", "4000x3000"});
    expectSuccess(r);
    // What the library says runs it.
    std::ifstream in(model, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    VelmoraContext context = createContext(0, "command test");
    VelmoraModelInfo info{};
    info.size = sizeof info;
    ASSERT_TRUE(loadModel(context, bytes.data(), static_cast<uint32_t>(bytes.size()), "", ""));
    ASSERT_TRUE(velmoraDescribeModel(context, &info));
    deleteContext(context);
    const std::string provider = std::string("runs on: ") + info.executionProvider;
    for (const std::string& expected :
         {std::string("Velmora library 1.207"), std::string("Build: Velmora"),
          std::string("Input \"input\": float [1, 3, 256, 256], channels-first"),
          std::string("Output \"output\": float [1, 256, 256, 3], channels-last"), provider,
          std::string("profile: none"), std::string("tiles: 256 x 256, channels-first input with 3 channels"),
          std::string("measured: sides that are multiples of 256; reach 0 pixels; scale 1, 3 channels"),
          std::string("plan for 4000 x 3000: tiles of 256 x 256 every 256 pixels (margins of 0), 16 x 12 = 192 runs"),
          std::string("result 4000 x 3000 with 3 channels; about ")})
        EXPECT_NE(r.out.find(expected), std::string::npos) << expected << "\n" << r.out;
    // Neither the providers the runtime was built with nor the library's
    // old model text, which says nothing true of the model.
    for (const char* absent : {"Execution providers", "CUDA", "TensorRT", "Version: -1", "GPURAM"})
        EXPECT_EQ(r.out.find(absent), std::string::npos) << absent << "\n" << r.out;
    EXPECT_NE(scratch.run({"--info", "-m", model, "-v"}).out.find("library: Version: -1"), std::string::npos);

    // A profile, from the metadata, a sidecar beside the model, and the
    // options laid over it.
    const CommandResult profiled = scratch.run({"--info", "-m", modelFile("profiled_mix_t16.onnx")});
    EXPECT_NE(profiled.out.find("profile: mean 103.53, 116.28, 123.675; std 57.375, 57.12, 58.395; input range 0, "
                                "255; colours bgr; output image; output range 0, 255 (from the model's metadata)"),
              std::string::npos)
        << profiled.out;
    const CommandResult laid =
        scratch.run({"--info", "-m", modelFile("profiled_mix_t16.onnx"), "--mean=0.5", "--output-role", "mask"});
    EXPECT_NE(laid.out.find("profile: mean 0.5, 0.5, 0.5; std 57.375, 57.12, 58.395; input range 0, 255; colours "
                            "bgr; output mask (from --mean, --output-role over the model's metadata)"),
              std::string::npos)
        << laid.out;
    std::filesystem::copy_file(modelFile("identity_t16_c3.onnx"), scratch / "m.onnx");
    writeText(scratch / "m.onnx.json", R"({"std": [0.5], "output": "mask"})");
    const CommandResult sidecar = scratch.run({"--info", "-m", "m.onnx"});
    EXPECT_NE(sidecar.out.find("profile: mean 0; std 0.5; output mask (from the sidecar m.onnx.json)"),
              std::string::npos)
        << sidecar.out;
    writeText(scratch / "m.onnx.json", R"({"stdev": [0.5]})");
    const CommandResult wrong = scratch.run({"--info", "-m", "m.onnx"});
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_NE(wrong.err.find("velmora: m.onnx.json: the profile was refused: velmoraLoadProfile: unknown key"),
              std::string::npos)
        << wrong.err;

    // A layout given by hand that the shape contradicts.
    const CommandResult forced = scratch.run({"--info", "-m", model, "--input-layout", "NHWC"});
    expectSuccess(forced);
    EXPECT_NE(forced.out.find("cannot run in tiles: the model's input \"input\" ([1, 3, 256, 256]) reads "
                              "channels-first; --input-layout nhwc contradicts its shape"),
              std::string::npos)
        << forced.out;
}
