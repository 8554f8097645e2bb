#include <gtest/gtest.h>
#include <malloc.h>

#include "command_runner.h"
#include "image_files.h"
#include "test_files.h"
#include "test_images.h"

namespace {

struct Case {
    const char* file;
    SampleType type;
};

}  // namespace

TEST(Codecs, LosslessFormatsRoundTripEveryDepthAndChannelCount) {
    Scratch scratch;
    const Case cases[] = {{"a.png", SampleType::UInt8},
                          {"a.png", SampleType::UInt16},
                          {"a.tif", SampleType::UInt8},
                          {"a.tiff", SampleType::UInt16},
                          {"a.TIF", SampleType::Float32}};
    for (const Case& c : cases) {
        for (int channels = 1; channels <= 4; ++channels) {
            SCOPED_TRACE(testing::Message() << c.file << " " << sampleTypeName(c.type) << " " << channels);
            const Raster image = randomRaster(37, 23, channels, c.type, channels * 7u);
            const auto path = scratch / c.file;
            writeImage(path, formatForExtension(path), image, {c.type, 95});
            const Raster back = readImage(path);
            EXPECT_EQ(back.width, 37);
            EXPECT_EQ(back.height, 23);
            EXPECT_EQ(back.channels, channels);
            EXPECT_EQ(back.type, c.type);
            EXPECT_EQ(back.pixels, image.pixels);
        }
    }
    EXPECT_EQ(scratch.files(), (std::vector<std::string>{"a.TIF", "a.png", "a.tif", "a.tiff"}));  // no leftovers
}

TEST(Codecs, JpegKeepsGrayAndRgbCloseAndDropsAlpha) {
    Scratch scratch;
    for (int channels : {1, 3, 4}) {
        SCOPED_TRACE(channels);
        const Raster image = smoothRaster(64, 48, channels);
        writeImage(scratch / "a.jpg", FileFormat::Jpeg, image, {SampleType::UInt8, 98});
        const Raster back = readImage(scratch / "a.jpg");
        ASSERT_EQ(back.channels, channels == 4 ? 3 : channels);
        ASSERT_EQ(back.type, SampleType::UInt8);
        float worst = 0;
        for (size_t p = 0; p < pixelCount(image); ++p)
            for (int c = 0; c < back.channels; ++c)
                worst = std::max(worst, std::abs(back.pixels[p * back.channels + c] - image.pixels[p * channels + c]));
        EXPECT_LE(worst, 4.0f / 255.0f);
    }
}

TEST(Codecs, FormatsAndDepths) {
    EXPECT_EQ(formatForExtension("x/y.JPEG"), FileFormat::Jpeg);
    EXPECT_THROW(formatForExtension("y.bmp"), std::runtime_error);
    EXPECT_THROW(formatForExtension("png"), std::runtime_error);
    EXPECT_EQ(storableType(FileFormat::Png, SampleType::Float32), SampleType::UInt16);
    EXPECT_EQ(storableType(FileFormat::Jpeg, SampleType::UInt16), SampleType::UInt8);
    EXPECT_EQ(storableType(FileFormat::Tiff, SampleType::Float32), SampleType::Float32);
    // Out-of-range values are clamped when stored as integers.
    Raster r = makeRaster(3, 1, 1, SampleType::Float32);
    r.pixels = {-0.25f, 0.5f, 7.0f};
    Scratch scratch;
    writeImage(scratch / "c.png", FileFormat::Png, r, {SampleType::UInt8, 95});
    EXPECT_EQ(readImage(scratch / "c.png").pixels, (std::vector<float>{0.0f, 128 / 255.0f, 1.0f}));
}

TEST(Codecs, DamagedAndForeignFilesAreRefusedWithTheirName) {
    Scratch scratch;
    writeText(scratch / "text.png", "just some words");
    writeText(scratch / "cut.png", std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16));
    writeText(scratch / "cut.jpg", "\xff\xd8\xff\xe0 truncated");
    writeText(scratch / "cut.tif", std::string("II*\0\x08\0\0\0", 8));
    for (const char* name : {"text.png", "cut.png", "cut.jpg", "cut.tif", "absent.png"}) {
        SCOPED_TRACE(name);
        try {
            readImage(scratch / name);
            ADD_FAILURE() << "read";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
        }
    }
}

TEST(Codecs, AFailedWriteLeavesTheOldFileAndNoTemporary) {
    Scratch scratch;
    writeText(scratch / "keep.jpg", "old contents");
    // JPEG cannot hold two colour channels plus two more; the writer refuses.
    Raster odd = makeRaster(4, 4, 5, SampleType::UInt8);
    EXPECT_THROW(writeImage(scratch / "keep.jpg", FileFormat::Jpeg, odd, {SampleType::UInt8, 90}), std::runtime_error);
    EXPECT_THROW(writeImage(scratch / "keep.jpg", FileFormat::Jpeg, odd, {SampleType::UInt16, 90}), std::runtime_error);
    EXPECT_EQ(readText(scratch / "keep.jpg"), "old contents");
    EXPECT_EQ(scratch.files(), std::vector<std::string>{"keep.jpg"});
    EXPECT_THROW(writeImage(scratch / "no-such-folder" / "a.png", FileFormat::Png,
                            randomRaster(2, 2, 1, SampleType::UInt8, 1), {SampleType::UInt8, 95}),
                 std::runtime_error);
}

TEST(Codecs, PlanarTiffsAndTurnedTiffsAreReadUpright) {
    Scratch scratch;
    // 37 rows in strips of 8: every plane ends with a short strip.
    const Raster image = randomRaster(29, 37, 3, SampleType::UInt8, 12);
    writeTiffFile(scratch / "planar.tif", image, {true, 8, 1});
    EXPECT_EQ(readImage(scratch / "planar.tif").pixels, image.pixels);
    // Orientation 6: the stored rows are the upright picture's columns, right to left.
    writeTiffFile(scratch / "turned.tif", image, {false, 8, 6});
    const Raster upright = readImage(scratch / "turned.tif");
    ASSERT_EQ(upright.width, 37);
    ASSERT_EQ(upright.height, 29);
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(upright.pixels[(static_cast<size_t>(x) * 37 + (36 - y)) * 3 + c],
                          image.pixels[(static_cast<size_t>(y) * 29 + x) * 3 + c]);
}

TEST(Codecs, OrientationsPlaceEveryStoredPixelOnce) {
    // A 3 x 2 stored picture; where its top-left and top-right pixels land.
    struct Case {
        Orientation o;
        int64_t topLeft, topRight;  // upright pixel indices
    };
    // Upright widths: 3 for 1 to 4, 2 for 5 to 8.
    const Case cases[] = {{Orientation::Upright, 0, 2},    {Orientation::MirrorX, 2, 0},
                          {Orientation::Rotate180, 5, 3},  {Orientation::MirrorY, 3, 5},
                          {Orientation::Transpose, 0, 4},  {Orientation::Rotate90, 1, 5},
                          {Orientation::Transverse, 5, 1}, {Orientation::Rotate270, 4, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.o));
        const Placement p = placement(c.o, 3, 2);
        EXPECT_EQ(p.at(0, 0), c.topLeft);
        EXPECT_EQ(p.at(2, 0), c.topRight);
        std::vector<int> hits(6, 0);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x) ++hits.at(static_cast<size_t>(p.at(x, y)));
        EXPECT_EQ(hits, std::vector<int>(6, 1));
    }
    EXPECT_EQ(orientationFromValue(9), Orientation::Upright);
    const unsigned char notExif[] = "Exif\0\0garbage that is no TIFF structure";
    EXPECT_EQ(orientationFromExif(notExif, sizeof notExif), Orientation::Upright);
}

TEST(Codecs, RefusedPicturesLeaveNoMemoryBehind) {
    Scratch scratch;
    const Raster picture = smoothRaster(32, 24, 3);
    writeJpegFile(scratch / "cut.jpg", picture, JpegOptions{});
    cutFile(scratch / "cut.jpg", 120);  // inside the headers
    writeJpegFile(scratch / "huge.jpg", picture, JpegOptions{});
    setJpegSize(scratch / "huge.jpg", 60000, 60000);  // more than its bytes can hold
    writeImage(scratch / "cut.png", FileFormat::Png, picture, {SampleType::UInt8, 95});
    cutFile(scratch / "cut.png", 40);
    writeTiffFile(scratch / "cut.tif", picture, TiffOptions{});
    cutFile(scratch / "cut.tif", 300);
    for (const char* name : {"cut.jpg", "huge.jpg", "cut.png", "cut.tif"}) {
        SCOPED_TRACE(name);
        auto refuse = [&] {
            try {
                openImage(scratch / name)->readRows([](int32_t, const float*) {});
                ADD_FAILURE() << "read";
            } catch (const std::runtime_error&) {}
        };
        refuse();  // the codec's one-time set-up
        const size_t before = mallinfo2().uordblks;
        for (int i = 0; i < 200; ++i) refuse();
        // A decoder left behind per refusal would be some kilobytes each.
        EXPECT_LT(mallinfo2().uordblks, before + (64u << 10));
    }
}
