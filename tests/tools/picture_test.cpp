// What the command keeps of the picture: orientation, colour profile,
// resolution, gray and depth.
#include <gtest/gtest.h>

#include "command_runner.h"
#include "image_files.h"
#include "test_files.h"
#include "test_images.h"

namespace {

void expectSuccess(const CommandResult& r) { ASSERT_EQ(r.exitCode, 0) << r.err; }

// Quadrants of clearly different colours, so that any turn shows.
Raster quadrants(int width, int height) {
    Raster r = makeRaster(width, height, 3, SampleType::UInt8);
    const float colours[4][3] = {{0.9f, 0.1f, 0.1f}, {0.1f, 0.9f, 0.1f}, {0.1f, 0.1f, 0.9f}, {0.9f, 0.9f, 0.1f}};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                r.pixels[(static_cast<size_t>(y) * width + x) * 3 + c] =
                    colours[(x * 2 / width) + 2 * (y * 2 / height)][c];
    return r;
}

// The stored picture turned a quarter clockwise.
Raster turnedClockwise(const Raster& in) {
    Raster out = makeRaster(in.height, in.width, in.channels, in.type);
    for (int y = 0; y < in.height; ++y)
        for (int x = 0; x < in.width; ++x)
            for (int c = 0; c < in.channels; ++c)
                out.pixels[(static_cast<size_t>(x) * out.width + (in.height - 1 - y)) * in.channels + c] =
                    in.pixels[(static_cast<size_t>(y) * in.width + x) * in.channels + c];
    return out;
}

}  // namespace

TEST(Picture, AnOrientationSixPhotoComesOutUpright) {
    Scratch scratch;
    const Raster stored = quadrants(64, 40);
    writeJpegFile(scratch / "plain.jpg", stored, {});
    writeJpegFile(scratch / "phone.jpg", stored, {6, false, 100});
    writeJpegFile(scratch / "phone-progressive.jpg", stored, {6, true, 100});
    // The same stored pixels, decoded without the tag and turned here.
    const Raster expected = turnedClockwise(readImage(scratch / "plain.jpg"));
    const std::string identity = modelFile("identity_t16_c3.onnx");
    for (const char* name : {"phone.jpg", "phone-progressive.jpg"}) {
        SCOPED_TRACE(name);
        expectSuccess(scratch.run({name, "upright.png", "-m", identity}));
        const Raster out = readImage(scratch / "upright.png");
        ASSERT_EQ(out.width, 40);
        ASSERT_EQ(out.height, 64);
        EXPECT_EQ(out.pixels, expected.pixels);
    }
    // Turned once, and written with no orientation of its own: read again it stays upright.
    expectSuccess(scratch.run({"phone.jpg", "upright.jpg", "-m", identity}));
    const Raster again = readImage(scratch / "upright.jpg");
    EXPECT_EQ(again.width, 40);
    EXPECT_LE(maxDifference(again, expected), 6.0f / 255.0f);
}

TEST(Picture, ProfileAndResolutionSurviveEveryFormatThatHoldsThem) {
    Scratch scratch;
    const std::vector<unsigned char> profile = iccProfile("RGB ", 300);
    const Raster image = smoothRaster(48, 32, 3);
    struct Source {
        const char* name;
        Density density;
    };
    const Source sources[] = {
        {"in.png", {118.11, 59.06, Density::Unit::Centimetre}},  // 300 x 150 dpi, per metre in PNG
        {"in.jpg", {300, 150, Density::Unit::Inch}},
        {"in.tif", {300, 150, Density::Unit::Inch}}};
    for (const Source& s : sources) {
        const PictureInfo info{profile, s.density};
        writeImage(scratch / s.name, formatForExtension(s.name), image, {SampleType::UInt8, 98, info});
        for (const char* out : {"out.png", "out.jpg", "out.tif"}) {
            SCOPED_TRACE(std::string(s.name) + " -> " + out);
            std::filesystem::remove(scratch / out);
            expectSuccess(scratch.run({s.name, out, "-m", modelFile("identity_t16_c3.onnx")}));
            PictureInfo kept;
            readImage(scratch / out, &kept);
            EXPECT_EQ(kept.iccProfile, profile);
            ASSERT_TRUE(kept.density.known());
            EXPECT_NEAR(kept.density.perInch(kept.density.x), 300.0, 0.05);
            EXPECT_NEAR(kept.density.perInch(kept.density.y), 150.0, 0.05);
        }
    }
}

TEST(Picture, GrayStaysGrayAndSixteenBitsStaySixteen) {
    Scratch scratch;
    const std::string demo = modelFile("demo_sharpen_t128.onnx");
    const std::vector<unsigned char> grayProfile = iccProfile("GRAY");
    struct Case {
        const char* in;
        const char* out;
        SampleType type;
    };
    for (const Case& c :
         {Case{"g8.png", "g8-out.png", SampleType::UInt8}, Case{"g16.png", "g16-out.png", SampleType::UInt16},
          Case{"g16.tif", "g16-out.tif", SampleType::UInt16}}) {
        SCOPED_TRACE(c.in);
        const Raster gray = randomRaster(70, 50, 1, c.type, 9);
        writeImage(scratch / c.in, formatForExtension(c.in), gray, {c.type, 95, {grayProfile, {}}});
        expectSuccess(scratch.run({c.in, c.out, "-m", demo}));
        PictureInfo info;
        const Raster out = readImage(scratch / c.out, &info);
        EXPECT_EQ(out.channels, 1);
        EXPECT_EQ(out.type, c.type);
        EXPECT_EQ(info.iccProfile, grayProfile);
        // --color keeps the three equal channels (and leaves out the gray profile, which cannot describe them).
        expectSuccess(scratch.run({c.in, std::string("color-") + c.out, "-m", demo, "--color"}));
        PictureInfo colorInfo;
        const Raster color = readImage(scratch / (std::string("color-") + c.out), &colorInfo);
        ASSERT_EQ(color.channels, 3);
        EXPECT_EQ(color.type, c.type);
        EXPECT_TRUE(colorInfo.iccProfile.empty());
        // The gray result is the luminance of the colour one (equal channels: the same value).
        const float step = c.type == SampleType::UInt8 ? 1.0f / 255.0f : 1.0f / 65535.0f;
        float worst = 0;
        for (size_t p = 0; p < pixelCount(out); ++p)
            worst = std::max(worst, std::abs(out.pixels[p] - color.pixels[p * 3 + 1]));
        EXPECT_LE(worst, step + 1e-6f);
    }
}
