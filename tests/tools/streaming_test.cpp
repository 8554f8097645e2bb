// A run past the memory budget streams a band of rows at a time: its file
// is the one the picture held whole gives, byte for byte, and a streamed run
// that fails leaves an existing output as it was.
#include <gtest/gtest.h>

#include <algorithm>

#include "command_runner.h"
#include "image_files.h"
#include "test_files.h"
#include "test_images.h"

namespace {

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The megabytes of "about N MB of memory" in a plan's lines.
double memoryMegabytes(const std::string& text) {
    const size_t at = text.find(" MB of memory");
    const size_t from = text.rfind("about ", at);
    return at == std::string::npos || from == std::string::npos ? -1 : std::stod(text.substr(from + 6, at - from - 6));
}

struct Case {
    const char* input;
    const char* model;
    std::vector<std::string> extra;
};

}  // namespace

TEST(Streaming, AStreamedRunWritesTheFileTheHeldRunWrites) {
    Scratch scratch;
    // RGBA, so that the alpha set aside streams beside the run (and is
    // enlarged with an upscaler's result); a TIFF stored upside down, which
    // streams from its last row.
    writeImage(scratch / "in.png", FileFormat::Png, randomRaster(203, 187, 4, SampleType::UInt16, 7),
               {SampleType::UInt16, 95});
    writeTiffFile(scratch / "turned.tif", randomRaster(150, 141, 3, SampleType::UInt8, 8), {false, 8, 3});
    const std::vector<std::string> tiles{"-t", "48", "-s", "32"}, shrunk{"-t", "48", "-s", "32", "-d", "2"};
    const std::vector<std::string> blended{"-t", "48", "-s", "40", "--blend"},
        blendedShrunk{"-t", "48", "-s", "40", "--blend", "-d", "2"};
    for (const Case& c : {Case{"in.png", "conv5_open.onnx", tiles}, Case{"in.png", "conv5_open.onnx", shrunk},
                          Case{"in.png", "up2_conv_open.onnx", tiles}, Case{"turned.tif", "conv5_open.onnx", shrunk},
                          Case{"in.png", "up2_conv_open.onnx", shrunk}, Case{"in.png", "conv5_open.onnx", blended},
                          Case{"in.png", "conv5_open.onnx", blendedShrunk}}) {
        std::string trace = std::string(c.input) + " " + c.model;
        for (const std::string& e : c.extra) trace += " " + e;
        SCOPED_TRACE(trace);
        std::vector<std::string> args{"-m", modelFile(c.model), "-b", "32", "--plan"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        auto with = [&](std::vector<std::string> front, const std::vector<std::string>& more) {
            front.insert(front.end(), args.begin(), args.end());
            front.insert(front.end(), more.begin(), more.end());
            return front;
        };
        const CommandResult held = scratch.run(with({c.input, "held.tif"}, {"--no-stream", "--memory-budget", "1"}));
        ASSERT_EQ(held.exitCode, 0) << held.err;
        EXPECT_FALSE(contains(held.err, "streamed in")) << held.err;
        const bool blends = std::find(c.extra.begin(), c.extra.end(), "--blend") != c.extra.end();
        EXPECT_EQ(contains(held.out + held.err, "overlaps blended"), blends) << held.out << held.err;
        const CommandResult streamed = scratch.run(with({c.input, "streamed.tif"}, {"--memory-budget", "1"}));
        ASSERT_EQ(streamed.exitCode, 0) << streamed.err;
        EXPECT_TRUE(contains(streamed.err, "streamed in")) << streamed.err;
        EXPECT_EQ(readBytes(scratch / "held.tif"), readBytes(scratch / "streamed.tif"));
        // A budget the run fits in holds it whole, as before.
        const CommandResult roomy = scratch.run(with({c.input, "roomy.tif"}, {"--memory-budget", "4G"}));
        EXPECT_FALSE(contains(roomy.err, "streamed in")) << roomy.err;
    }
}

TEST(Streaming, AStreamedRunThatFailsLeavesTheOutputAsItWas) {
    Scratch scratch;
    writeImage(scratch / "in.png", FileFormat::Png, randomRaster(300, 260, 3, SampleType::UInt8, 3),
               {SampleType::UInt8, 95});
    const std::vector<unsigned char> whole = readBytes(scratch / "in.png");
    writeText(scratch / "out.png", "the previous result");
    const std::vector<std::string> args{
        "in.png", "out.png", "-m", modelFile("conv5_open.onnx"), "-t", "48", "-s", "32", "--memory-budget", "1"};
    auto expectUntouched = [&](const CommandResult& r, int exitCode, const std::string& words) {
        EXPECT_EQ(r.exitCode, exitCode) << r.err;
        EXPECT_TRUE(contains(r.err, words)) << r.err;
        EXPECT_EQ(readText(scratch / "out.png"), "the previous result");
        EXPECT_EQ(scratch.files(), (std::vector<std::string>{"in.png", "out.png"}));
    };
    // Stopped after a few bands are written.
    expectUntouched(scratch.run(args, {{"VELMORA_STOP_AFTER_PROGRESS", "30"}}), 130, "interrupted");
    // A file whose rows end halfway: found once half the result is written.
    cutFile(scratch / "in.png", whole.size() / 2);
    expectUntouched(scratch.run(args), 1, "in.png");
    // A picture turned a quarter cannot stream: past a given budget it is
    // refused before anything is written.
    writeJpegFile(scratch / "in.jpg", randomRaster(120, 90, 3, SampleType::UInt8, 4), {6});
    std::filesystem::remove(scratch / "in.png");
    std::vector<std::string> turned = args;
    turned[0] = "in.jpg";
    const CommandResult r = scratch.run(turned);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(contains(r.err, "cannot stream: it is stored turned a quarter (orientation 6)")) << r.err;
    EXPECT_EQ(readText(scratch / "out.png"), "the previous result");
}

TEST(Streaming, AnUpscalerOfOpenSizesStreamsForTheSizeOfItsResult) {
    // The x2 model's result is four times the picture, which a model of open
    // sizes tells only when it runs: a budget that the same run would fit
    // at the picture's size must still stream it.
    Scratch scratch;
    writeImage(scratch / "in.png", FileFormat::Png, randomRaster(600, 500, 3, SampleType::UInt8, 9),
               {SampleType::UInt8, 95});
    auto run = [&](const char* model, const std::string& budget) {
        std::vector<std::string> args{"in.png", "out.tif", "-m", modelFile(model), "-t", "128", "-s", "112", "--plan"};
        if (budget.empty())
            args.push_back("--no-stream");
        else
            args.insert(args.end(), {"--memory-budget", budget});
        return scratch.run(args);
    };
    const CommandResult same = run("conv5_open.onnx", "");
    ASSERT_EQ(same.exitCode, 0) << same.err;
    const double sameSize = memoryMegabytes(same.err);
    ASSERT_GT(sameSize, 0) << same.err;
    const std::string budget = std::to_string(static_cast<int64_t>((sameSize + 5) * 1e6));
    EXPECT_FALSE(contains(run("conv5_open.onnx", budget).err, "streamed in"));
    const CommandResult larger = run("up2_conv_open.onnx", budget);
    ASSERT_EQ(larger.exitCode, 0) << larger.err;
    EXPECT_TRUE(contains(larger.err, "streamed in")) << larger.err;
}
