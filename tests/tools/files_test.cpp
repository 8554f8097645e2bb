// Safe with files: an input is never replaced unless asked, and many
// pictures run through one loaded model with each failure reported.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <csignal>

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

TEST(Files, AnUnreadableEntryOfAFolderFailsAloneWhereverItComes) {
    Scratch scratch;
    fs::create_directory(scratch / "in");
    // Two dangling links, one last in the folder's order, where it once
    // stopped the whole batch, and one before. The order is the file
    // system's (a hash of the name on ext4, newest first on tmpfs), so
    // names are tried until it comes out so.
    std::vector<std::string> links;
    const auto addLink = [&](int n) {
        links.push_back("link" + std::to_string(n) + ".png");
        fs::create_symlink("gone-" + links.back(), scratch / "in" / links.back());
    };
    const auto lastIsALink = [&] {
        fs::path last;
        for (const auto& e : fs::directory_iterator(scratch / "in")) last = e.path();
        return fs::is_symlink(last);
    };
    addLink(0);
    for (const char* name : {"b.png", "m.png"})
        writeImage(scratch / "in" / name, FileFormat::Png, randomRaster(20, 16, 3, SampleType::UInt8, 2), {});
    for (int n = 1; links.size() < 2 || !lastIsALink(); ++n) {
        ASSERT_LT(n, 2000);
        if (links.size() == 2) {
            fs::remove(scratch / "in" / links.back());
            links.pop_back();
        }
        addLink(n);
    }
    const CommandResult r = scratch.run({"-o", "out", "in", "-m", modelFile("identity_t16_c3.onnx")});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(filesIn(scratch / "out"), (std::vector<std::string>{"b.png", "m.png"}));
    for (const std::string& link : links)
        EXPECT_EQ(count(r.err, "in/" + link + ": is a symbolic link to gone-" + link + ", which does not exist"), 1u)
            << r.err;
    const std::string total = std::to_string(links.size() + 2);
    EXPECT_NE(r.err.find("2 of " + total + " pictures written to out; " + std::to_string(links.size()) + " failed"),
              std::string::npos)
        << r.err;
}

TEST(Files, OutputNamesAsLongAsTheSystemAllowsAreWritten) {
    Scratch scratch;
    writeImage(scratch / "in.png", FileFormat::Png, randomRaster(20, 16, 3, SampleType::UInt8, 3), {});
    for (const size_t length : {241u, 255u}) {
        const std::string name = std::string(length - 4, 'n') + ".png";
        const CommandResult r = scratch.run({"in.png", name, "-m", modelFile("identity_t16_c3.onnx")});
        EXPECT_EQ(r.exitCode, 0) << length << ": " << r.err;
        EXPECT_EQ(scratch.files(), (std::vector<std::string>{"in.png", name}));
        fs::remove(scratch / name);
    }
}

TEST(Files, AnOutputThatIsNoRegularFileIsRefused) {
    Scratch scratch;
    writeImage(scratch / "in.png", FileFormat::Png, randomRaster(20, 16, 3, SampleType::UInt8, 4), {});
    ASSERT_EQ(mkfifo((scratch / "pipe.png").c_str(), 0644), 0);
    fs::create_symlink("pipe.png", scratch / "link.png");
    for (const auto& [output, words] : std::vector<std::pair<std::string, std::string>>{
             {"pipe.png", "pipe.png: is a named pipe (FIFO), not a regular file"},
             {"link.png", "link.png: is a symbolic link to pipe.png, a named pipe (FIFO), not a regular file"}}) {
        const CommandResult r = scratch.run({"in.png", output, "-m", modelFile("identity_t16_c3.onnx")});
        EXPECT_EQ(r.exitCode, 1) << r.err;
        ASSERT_EQ(r.messages().size(), 1u) << r.err;
        EXPECT_NE(r.messages()[0].find(words), std::string::npos) << r.err;
    }
    EXPECT_TRUE(fs::is_fifo(fs::symlink_status(scratch / "pipe.png")));
    EXPECT_TRUE(fs::is_symlink(scratch / "link.png"));
}

TEST(Files, AKilledRunLeavesTheOldOutputAndNothingElse) {
    Scratch scratch;
    // Noise makes the PNG slow to write, so that the kill lands in it.
    writeImage(scratch / "in.png", FileFormat::Png, randomRaster(2000, 2000, 3, SampleType::UInt8, 5), {});
    writeText(scratch / "out.png", "the previous result");
    const std::vector<std::string> args{"in.png", "out.png", "-m", modelFile("identity_t512_c3.onnx")};
    const CommandResult killed = scratch.runAndKillWhileWriting(args);
    EXPECT_EQ(killed.exitCode, 128 + SIGKILL) << killed.err;
    EXPECT_EQ(readText(scratch / "out.png"), "the previous result");
    EXPECT_EQ(scratch.files(), (std::vector<std::string>{"in.png", "out.png"}));

    // Without unnamed files a kill leaves a partial file of the command's
    // own naming, which the next run in the folder clears once it is a
    // minute old and no run holds it.
    const CommandResult named = scratch.runAndKillWhileWriting(args, {{"VELMORA_TEST_NO_TMPFILE", "1"}});
    EXPECT_EQ(named.exitCode, 128 + SIGKILL) << named.err;
    EXPECT_EQ(readText(scratch / "out.png"), "the previous result");
    std::vector<std::string> left = scratch.files();
    std::erase_if(left, [](const std::string& n) { return n == "in.png" || n == "out.png"; });
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].size(), 23u);
    EXPECT_EQ(left[0].rfind(".velmora-partial-", 0), 0u) << left[0];
    const auto old = fs::file_time_type::clock::now() - std::chrono::minutes(2);
    for (const char* other : {".velmora-partial-Young1", ".velmora-partial-Held01", ".velmora-partial-abc"})
        writeText(scratch / other, "another's");
    for (const std::string& name :
         {left[0], std::string(".velmora-partial-Held01"), std::string(".velmora-partial-abc")})
        fs::last_write_time(scratch / name, old);
    const HeldFile held(scratch / ".velmora-partial-Held01");
    const CommandResult again = scratch.run(args);
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(scratch.files(), (std::vector<std::string>{".velmora-partial-Held01", ".velmora-partial-Young1",
                                                         ".velmora-partial-abc", "in.png", "out.png"}));
}
