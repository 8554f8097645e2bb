// Safe with files: an input is never replaced unless asked, and many
// pictures run through one loaded model with each failure reported.
#include <gtest/gtest.h>

#include <algorithm>

#include "command_runner.h"
#include "image_files.h"
#include "test_files.h"
#include "test_images.h"

namespace fs = std::filesystem;

namespace {

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

std::vector<std::string> filesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST(Files, AnOutputThatIsTheInputIsRefusedUnlessOverwriteSaysSo) {
    Scratch scratch;
    const Raster image = randomRaster(60, 40, 3, SampleType::UInt8, 4);
    writeImage(scratch / "a.png", FileFormat::Png, image, {});
    const std::vector<unsigned char> original = readBytes(scratch / "a.png");
    fs::create_symlink("a.png", scratch / "link.png");
    fs::create_hard_link(scratch / "a.png", scratch / "hard.png");
    const std::string demo = modelFile("demo_sharpen_t128.onnx");
    for (const char* output : {"a.png", "link.png", "hard.png", "./a.png"}) {
        SCOPED_TRACE(output);
        const CommandResult r = scratch.run({"a.png", output, "-m", demo});
        EXPECT_EQ(r.exitCode, 1);
        ASSERT_EQ(r.messages().size(), 1u) << r.err;
        EXPECT_NE(r.messages()[0].find("is the input file itself; add --overwrite"), std::string::npos) << r.err;
        EXPECT_EQ(readBytes(scratch / "a.png"), original);
    }
    EXPECT_EQ(scratch.files(), (std::vector<std::string>{"a.png", "hard.png", "link.png"}));

    // Through the link, the file it names is replaced, and the link stays.
    const CommandResult r = scratch.run({"a.png", "link.png", "-m", demo, "--overwrite"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(fs::is_symlink(scratch / "link.png"));
    const Raster result = readImage(scratch / "a.png");
    EXPECT_GT(maxDifference(result, image), 0.1f);                                            // sharpened
    EXPECT_EQ(scratch.files(), (std::vector<std::string>{"a.png", "hard.png", "link.png"}));  // no leftovers

    // A run that fails leaves the input whole even with --overwrite.
    const std::vector<unsigned char> before = readBytes(scratch / "a.png");
    const CommandResult failed =
        scratch.run({"a.png", "a.png", "-m", demo, "--overwrite"}, {{"VELMORA_STOP_AFTER_PROGRESS", "1"}});
    EXPECT_EQ(failed.exitCode, 130);
    EXPECT_EQ(readBytes(scratch / "a.png"), before);
}

TEST(Files, AFolderWithABrokenPictureGivesTheOthersAndReportsIt) {
    Scratch scratch;
    fs::create_directory(scratch / "photos");
    writeImage(scratch / "photos" / "a.png", FileFormat::Png, randomRaster(50, 40, 3, SampleType::UInt8, 1), {});
    writeJpegFile(scratch / "photos" / "b.jpg", smoothRaster(64, 48, 3), {});
    writeJpegFile(scratch / "photos" / "c.jpg", smoothRaster(64, 48, 3), {});
    cutFile(scratch / "photos" / "c.jpg", fs::file_size(scratch / "photos" / "c.jpg") * 2 / 3);
    writeText(scratch / "photos" / "notes.txt", "not a picture, not taken");

    const CommandResult r = scratch.run({"-o", "results", "photos", "-m", modelFile("identity_t16_c3.onnx"), "-v"});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(filesIn(scratch / "results"), (std::vector<std::string>{"a.png", "b.jpg"}));
    std::vector<std::string> failures;
    for (const std::string& m : r.messages())
        if (m.find("c.jpg") != std::string::npos) failures.push_back(m);
    ASSERT_EQ(failures.size(), 1u) << r.err;
    EXPECT_NE(failures[0].find("damaged JPEG"), std::string::npos) << failures[0];
    EXPECT_NE(r.messages().back().find("2 of 3 pictures written to results; 1 failed"), std::string::npos) << r.err;
    // One model load for the three pictures (the library describes each load).
    EXPECT_EQ(count(r.err, "Number of inputs"), 1u) << r.err;

    // Files named one by one, into the same folder, as PNG.
    const CommandResult named = scratch.run(
        {"-o", "results", "--format", "png", "photos/a.png", "photos/b.jpg", "-m", modelFile("identity_t16_c3.onnx")});
    ASSERT_EQ(named.exitCode, 0) << named.err;
    EXPECT_EQ(filesIn(scratch / "results"), (std::vector<std::string>{"a.png", "b.jpg", "b.png"}));
    EXPECT_EQ(readImage(scratch / "results" / "a.png").pixels, readImage(scratch / "photos" / "a.png").pixels);
}

TEST(Files, SeveralInputsNeedAnOutputFolder) {
    Scratch scratch;
    writeImage(scratch / "a.png", FileFormat::Png, randomRaster(20, 20, 3, SampleType::UInt8, 1), {});
    fs::create_directory(scratch / "dir");
    for (const auto& [args, words] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"a.png", "b.png", "c.png"}, "several inputs need -o OUTDIR"},
             {{"dir", "out.png"}, "dir: is a folder; give -o OUTDIR"},
             {{"-o", "out", "dir"}, "dir: holds no .png, .jpg or .tif pictures"},
             {{"a.png", "b.png", "--format", "png"}, "--format goes with -o OUTDIR"}}) {
        SCOPED_TRACE(words);
        const CommandResult r = scratch.run(args);
        EXPECT_EQ(r.exitCode, 1);
        ASSERT_EQ(r.messages().size(), 1u) << r.err;
        EXPECT_NE(r.messages()[0].find(words), std::string::npos) << r.err;
    }
    // Two inputs of one name cannot share a result.
    fs::create_directory(scratch / "other");
    fs::copy_file(scratch / "a.png", scratch / "other" / "a.png");
    const CommandResult clash =
        scratch.run({"-o", "out", "a.png", "other/a.png", "-m", modelFile("identity_t16_c3.onnx")});
    EXPECT_EQ(clash.exitCode, 1);
    EXPECT_NE(clash.err.find("would replace the result of a.png"), std::string::npos) << clash.err;
    EXPECT_EQ(filesIn(scratch / "out"), std::vector<std::string>{"a.png"});
}
