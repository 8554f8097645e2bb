// Before a pixel is read: runs that cannot fit in memory or take absurdly
// many tiles are refused, and files that declare more than they hold are
// refused before anything is allocated for them.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "command_runner.h"
#include "image_files.h"
#include "run_plan.h"
#include "test_files.h"
#include "test_images.h"

namespace fs = std::filesystem;

namespace {

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Runs, and checks the exit, the one message and that nothing was written.
void expectRefusal(const Scratch& scratch, const std::vector<std::string>& args, const std::string& words,
                   uint64_t addressSpaceLimit = 0) {
    SCOPED_TRACE(words);
    const auto before = scratch.files();
    const auto started = std::chrono::steady_clock::now();
    const CommandResult r = scratch.run(args, {}, addressSpaceLimit);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    ASSERT_GE(r.messages().size(), 1u) << r.err;
    EXPECT_TRUE(contains(r.messages()[0], words)) << r.messages()[0];
    EXPECT_EQ(scratch.files(), before);
    // Refused up front, not after reading or running the picture.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
}

}  // namespace

TEST(Limits, TileCountsBeyondSenseAreNamed) {
    EXPECT_EQ(tileCountProblem(6, 64, 48), "");
    EXPECT_EQ(tileCountProblem(100000, 128, 16), "");  // an eighth of the tile is still sensible
    EXPECT_TRUE(contains(tileCountProblem(24, 128, 15), "24 tiles (a step of 15 is below an eighth"));
    EXPECT_TRUE(contains(tileCountProblem(100001, 128, 112), "100,001 tiles (more than 100,000)"));
}

TEST(Limits, AbsurdTileCountsAskForForce) {
    Scratch scratch;
    writeImage(scratch / "in.png", FileFormat::Png, randomRaster(384, 256, 3, SampleType::UInt8, 3), {});
    expectRefusal(scratch, {"in.png", "out.png", "-s", "1"},
                  "this run needs 98,304 tiles (a step of 1 is below an eighth");
    // The plan: 375 x 375 tiles of 16, which need no overlap for a model
    // that sees one pixel.
    writeFlatTiff(scratch / "wide.tif", 6000, 6000);
    expectRefusal(
        scratch, {"wide.tif", "out.tif", "-m", modelFile("identity_t16_c3.onnx")},
        "this run needs 140,625 tiles (more than 100,000); give a larger --step or --downscale, or add --force");
    // --force runs it.
    const CommandResult forced = scratch.run({"in.png", "out.png", "-s", "15", "--force", "--quiet"});
    EXPECT_EQ(forced.exitCode, 0) << forced.err;
}

TEST(Limits, MemoryEstimateIsTheCommandsShareAndTheLibrarysPlan) {
    CommandShare share;
    share.width = share.height = 20000;
    share.modelChannels = 3;
    const uint64_t image = 20000ull * 20000 * 3 * 4;
    VelmoraPlan plan{};
    plan.width = plan.height = 20000;
    plan.scale = 2;
    plan.resultChannels = 3;
    plan.peakBytes = 4 * image + (100ull << 20);  // the result, four times the picture, and a run's memory
    const MemoryEstimate e = estimateMemory(share, libraryBytes(plan, false));
    EXPECT_EQ(e.command, image);
    EXPECT_EQ(e.library, plan.peakBytes);
    EXPECT_EQ(e.peak, image + plan.peakBytes);
    // The alpha set aside, the colours kept for a cut-out, and a decoder
    // that holds more than the run does.
    share.alphaAside = true;
    share.keptColourChannels = 3;
    EXPECT_EQ(estimateMemory(share, 0).command, image + image / 3 + image);
    share.decoderBytes = 50 * image;
    EXPECT_EQ(estimateMemory(share, plan.peakBytes).peak, 2 * image + image / 3 + 50 * image);
    // The 8-bit path holds bytes: its picture and the library's result are a quarter.
    CommandShare bytes;
    bytes.width = bytes.height = 20000;
    bytes.modelChannels = 3;
    bytes.eightBit = true;
    EXPECT_EQ(libraryBytes(plan, true), image + (100ull << 20));
    const MemoryEstimate small = estimateMemory(bytes, libraryBytes(plan, true));
    EXPECT_EQ(small.peak, image / 4 + image + (100ull << 20));

    // The refusal says what would fit.
    const std::string problem = memoryProblem(e, small, small.peak + 1, "this machine has");
    EXPECT_TRUE(contains(problem, "needs about " + sizeText(e.peak) + " of memory; this machine has")) << problem;
    EXPECT_TRUE(contains(problem, "try --8bit (--force runs it anyway)")) << problem;
    EXPECT_TRUE(contains(memoryProblem(e, small, small.peak - 1, "this machine has"), "try a smaller picture"));
    EXPECT_EQ(memoryProblem(e, small, e.peak, "this machine has"), "");
    // Sizes past counting are not counted small.
    EXPECT_EQ(resultBytes(1000000, 1000000, 16, 1 << 16, false), UINT64_MAX);
    share.width = share.height = INT64_MAX / 2;
    EXPECT_EQ(estimateMemory(share, UINT64_MAX / 2).peak, UINT64_MAX);
    EXPECT_EQ(sizeText(19'200'000'000ull), "19 GB");
    EXPECT_EQ(sizeText(3'240'000'000ull), "3.2 GB");
    EXPECT_EQ(sizeText(850'000'000ull), "850 MB");
    EXPECT_EQ(sizeText(360'000ull), "0.4 MB");
}

TEST(Limits, APictureThatCannotFitIsRefusedBeforeItIsRead) {
    Scratch scratch;
    // 11000 x 11000 gray for a three-channel float model: gigabytes of floats
    // from a file of a few hundred kilobytes.
    writeFlatTiff(scratch / "big.tif", 11000, 11000);
    const uint64_t limit = 3ull << 30;
    const std::vector<std::string> whole{"big.tif", "out.tif", "--no-stream"};
    expectRefusal(scratch, whole, "of memory; the process's address-space limit leaves", limit);
    const CommandResult r = scratch.run(whole, {}, limit);
    EXPECT_TRUE(contains(r.err, "; try --8bit (--force runs it anyway)")) << r.err;
    // Unless told not to, it streams within the same limit.
    const CommandResult streamed = scratch.run({"big.tif", "out.tif"}, {}, limit);
    EXPECT_EQ(streamed.exitCode, 0) << streamed.err;
    EXPECT_EQ(scratch.files(), (std::vector<std::string>{"big.tif", "out.tif"}));
}

TEST(Limits, TheLibrarysOwnOutOfMemoryTextIsShownAsItIs) {
    Scratch scratch;
    writeFlatTiff(scratch / "big.tif", 6000, 6000);
    const std::vector<std::string> args{"big.tif", "out.tif", "-m", modelFile("identity_t256_c3.onnx"), "--no-stream"};
    // Below the float picture and its result alone (432 MB each).
    const uint64_t limit = 850ull << 20;
    expectRefusal(scratch, args, "of memory; the process's address-space limit leaves", limit);
    // Forced past the estimate, the library runs out and says so in its words.
    // The runtime's threads, which the machine's cores would otherwise number,
    // reserve address space of their own: one thread makes the run's need the
    // same on every machine.
    Scratch settingsHome;
    fs::create_directories(settingsHome / "velmora");
    std::ofstream(settingsHome / "velmora" / "SOFTWARE%5CVelmora.settings") << "velmora settings 1\nthreads=1\n";
    std::vector<std::string> forced = args;
    forced.push_back("--force");
    const CommandResult r = scratch.run(forced, {{"XDG_CONFIG_HOME", settingsHome.path().string()}}, limit);
    EXPECT_EQ(r.exitCode, 1);
    ASSERT_GE(r.messages().size(), 1u) << r.err;
    EXPECT_TRUE(contains(r.messages()[0], "velmora: the model run failed: Not enough RAM")) << r.err;
    EXPECT_EQ(scratch.files(), std::vector<std::string>{"big.tif"});
}

TEST(Hardening, TheEightBitPathGoesByTheChannelsTheModelGives) {
    // The model declares four output channels and gives three.
    Scratch scratch;
    const Raster image = randomRaster(45, 30, 3, SampleType::UInt8, 6);
    writeImage(scratch / "in.png", FileFormat::Png, image, {});
    const CommandResult r = scratch.run({"in.png", "out.png", "-m", modelFile("claims_c4_t16.onnx"), "--8bit"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const Raster out = readImage(scratch / "out.png");
    EXPECT_EQ(out.channels, 3);
    EXPECT_EQ(out.pixels, image.pixels);
}

TEST(Hardening, CutShortPicturesAreErrorsNotFilledIn) {
    Scratch scratch;
    const Raster image = smoothRaster(96, 80, 3);
    writeJpegFile(scratch / "baseline.jpg", image, {0, false, 95});
    writeJpegFile(scratch / "progressive.jpg", image, {0, true, 95});
    writePaletteTiff(scratch / "palette.tif", 96, 80);
    // Each file is whole first, then loses its last part.
    for (const char* name : {"baseline.jpg", "progressive.jpg", "palette.tif"}) {
        SCOPED_TRACE(name);
        const CommandResult whole = scratch.run(
            {name, std::string("whole-") + name + ".png", "-m", modelFile("identity_t16_c3.onnx"), "--quiet"});
        EXPECT_EQ(whole.exitCode, 0) << whole.err;
        const size_t size = fs::file_size(scratch / name);
        cutFile(scratch / name, size * 2 / 3);
        expectRefusal(scratch, {name, "cut.png", "-m", modelFile("identity_t16_c3.onnx")}, name);
        const CommandResult cut = scratch.run({name, "cut.png", "-m", modelFile("identity_t16_c3.onnx")});
        EXPECT_TRUE(contains(cut.err, "damaged") || contains(cut.err, "cut short")) << cut.err;
    }
}

TEST(Hardening, DeclaredSizesAreCheckedAgainstTheFile) {
    Scratch scratch;
    // A small TIFF whose header declares 1281 x 65524 pixels.
    writePaletteTiff(scratch / "liar.tif", 16, 16);
    setTiffSize(scratch / "liar.tif", 1281, 65524);
    expectRefusal(scratch, {"liar.tif", "out.png"}, "liar.tif:");

    // A deflated TIFF of one strip (RowsPerStrip 2^32 - 1) declaring 4160 x
    // 38622 pixels in 32 bytes of data: the last-strip rule once let it pass.
    for (const int channels : {1, 3}) {
        writeFlatTiff(scratch / "onestrip.tif", 16, 16, channels, 0xFFFFFFFFu);
        setTiffSize(scratch / "onestrip.tif", 4160, 38622);
        try {
            openImage(scratch / "onestrip.tif");
            ADD_FAILURE() << "read";
        } catch (const std::runtime_error& e) {
            EXPECT_TRUE(contains(e.what(), "strip 0 declares") && contains(e.what(), "cut short or damaged"))
                << e.what();
        }
    }

    // Fax coding of 8-bit palette indices: its bound of a bit per row let a
    // small file declare a million pixels a row.
    writePaletteTiff(scratch / "fax.tif", 16, 8);
    setTiffTag(scratch / "fax.tif", 259, 3);
    setTiffSize(scratch / "fax.tif", 1000000, 8);
    try {
        openImage(scratch / "fax.tif");
        ADD_FAILURE() << "read";
    } catch (const std::runtime_error& e) {
        EXPECT_TRUE(contains(e.what(), "fax.tif: fax coding of 1 samples of 8 bits per pixel")) << e.what();
    }

    // A JPEG of a few hundred bytes declaring 65000 x 42000 (2.7 gigapixels).
    for (const bool progressive : {false, true}) {
        SCOPED_TRACE(progressive);
        writeJpegFile(scratch / "liar.jpg", smoothRaster(16, 16, 1), {0, progressive, 50});
        setJpegSize(scratch / "liar.jpg", 65000, 42000);
        expectRefusal(scratch, {"liar.jpg", "out.png"},
                      "liar.jpg: the file declares 65000 x 42000 pixels, more than its");
    }

    // A PNG declaring 900000 x 900000, and one beyond what the command reads at all.
    writeImage(scratch / "liar.png", FileFormat::Png, randomRaster(8, 8, 1, SampleType::UInt8, 1), {});
    setPngSize(scratch / "liar.png", 900000, 900000);
    expectRefusal(scratch, {"liar.png", "out.png"}, "liar.png: the file declares 900000 x 900000 pixels");
    setPngSize(scratch / "liar.png", 2000000, 8);
    expectRefusal(scratch, {"liar.png", "out.png"}, "liar.png: not a readable PNG image");
}
