// Cut-outs: a model's mask as the picture's alpha, the picture's colours,
// depth, colour profile and resolution untouched.
#include <gtest/gtest.h>

#include <filesystem>

#include "command_runner.h"
#include "image_files.h"
#include "result_writer.h"
#include "test_files.h"
#include "test_images.h"

namespace {

void expectSuccess(const CommandResult& r) { ASSERT_EQ(r.exitCode, 0) << r.err; }

// The colours of a picture and the alpha of its cut-out, side by side.
void expectCutOut(const Raster& picture, const Raster& cut, const Raster& mask, float level) {
    ASSERT_EQ(cut.width, picture.width);
    ASSERT_EQ(cut.height, picture.height);
    const int colours = picture.channels == 2 || picture.channels == 4 ? picture.channels - 1 : picture.channels;
    ASSERT_EQ(cut.channels, colours + 1);
    ASSERT_EQ(mask.channels, 1);
    float worstAlpha = 0;
    for (size_t p = 0; p < pixelCount(picture); ++p) {
        for (int c = 0; c < colours; ++c)
            ASSERT_EQ(cut.pixels[p * cut.channels + c], picture.pixels[p * picture.channels + c]) << p;
        worstAlpha = std::max(worstAlpha, std::abs(cut.pixels[p * cut.channels + colours] - mask.pixels[p]));
    }
    EXPECT_LE(worstAlpha, level + 1e-6f);
}

}  // namespace

TEST(Cutout, TheMaskBecomesTheAlphaAtThePicturesDepth) {
    Scratch scratch;
    const std::string matte = modelFile("global_mix_t256.onnx");
    const PictureInfo info{iccProfile("RGB ", 120), {300, 300, Density::Unit::Inch}};
    struct Case {
        const char* in;
        const char* mask;
        const char* cut;
        SampleType type;
        int channels;
    };
    for (const Case& c : {Case{"rgb8.png", "m8.png", "c8.png", SampleType::UInt8, 3},
                          Case{"rgb16.tif", "m16.tif", "c16.tif", SampleType::UInt16, 3},
                          Case{"ga16.png", "mga.png", "cga.png", SampleType::UInt16, 2}}) {
        SCOPED_TRACE(c.in);
        const Raster picture = randomRaster(300, 200, c.channels, c.type, 17);
        writeImage(scratch / c.in, formatForExtension(c.in), picture,
                   {c.type, 95, c.channels == 3 ? info : PictureInfo{}});
        expectSuccess(scratch.run({c.in, c.mask, "-m", matte, "--output-role", "mask", "--mask"}));
        expectSuccess(scratch.run({c.in, c.cut, "-m", matte, "--output-role", "mask", "--cutout"}));
        PictureInfo kept;
        const Raster cut = readImage(scratch / c.cut, &kept);
        EXPECT_EQ(cut.type, c.type);
        const Raster mask = readImage(scratch / c.mask);
        expectCutOut(picture, cut, mask, c.type == SampleType::UInt8 ? 1.0f / 255.0f : 1.0f / 65535.0f);
        if (c.channels == 3) {
            EXPECT_EQ(kept.iccProfile, info.iccProfile);
            EXPECT_NEAR(kept.density.perInch(kept.density.x), 300.0, 0.05);
        }
    }
    // A matte in fact: neither empty nor full.
    const Raster mask = readImage(scratch / "m8.png");
    EXPECT_LT(*std::min_element(mask.pixels.begin(), mask.pixels.end()), 0.5f);
    EXPECT_GT(*std::max_element(mask.pixels.begin(), mask.pixels.end()), 0.0f);

    // The sidecar beside the model says its output is a mask.
    std::filesystem::copy_file(matte, scratch / "matte.onnx");
    writeText(scratch / "matte.onnx.json", R"({"output": "mask"})");
    expectSuccess(scratch.run({"rgb8.png", "side.png", "-m", "matte.onnx", "--cutout"}));
    EXPECT_EQ(readImage(scratch / "side.png").pixels, readImage(scratch / "c8.png").pixels);

    // An image output, and a format without alpha, are refused.
    const CommandResult image = scratch.run({"rgb8.png", "x.png", "-m", matte, "--cutout"});
    EXPECT_EQ(image.exitCode, 1);
    EXPECT_NE(image.err.find("--cutout needs a mask, and by its profile (none) the model gives an image; add "
                             "--output-role mask"),
              std::string::npos)
        << image.err;
    const CommandResult jpeg = scratch.run({"rgb8.png", "x.jpg", "-m", "matte.onnx", "--cutout"});
    EXPECT_EQ(jpeg.exitCode, 1);
    EXPECT_NE(jpeg.err.find("x.jpg: JPEG holds no alpha"), std::string::npos) << jpeg.err;
    EXPECT_FALSE(std::filesystem::exists(scratch / "x.png"));
}

TEST(Cutout, ALargerMaskIsAveragedDownToThePicture) {
    Scratch scratch;
    ModelInputImage input;
    input.width = 3;
    input.height = 2;
    input.colourChannels = 1;
    input.colour = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f};
    // A 6 x 4 mask: each 2 x 2 block averages to its pixel's value.
    std::vector<unsigned char> mask(24);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x)
            mask[y * 6 + x] = static_cast<unsigned char>(40 * (y / 2 * 3 + x / 2) + (x + y) % 2 * 20);
    const RunResult result(velmora::ByteResult{mask.data(), 6, 4, 1});
    ImageHeader head;
    head.channels = 1;
    head.type = SampleType::Float32;
    const Written w =
        writeCutout(scratch / "cut.tif", FileFormat::Tiff, head, input, result, ChannelMap::scaling(1.0f), Options{});
    EXPECT_EQ(w.channels, 2);
    const Raster cut = readImage(scratch / "cut.tif");
    ASSERT_EQ(cut.width, 3);
    for (int p = 0; p < 6; ++p) {
        EXPECT_EQ(cut.pixels[p * 2], input.colour[p]);
        EXPECT_NEAR(cut.pixels[p * 2 + 1], (40.0f * p + 10.0f) / 255.0f, 1e-6f) << p;
    }
}
