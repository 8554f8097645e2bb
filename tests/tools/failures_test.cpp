// Every failure: one line of the command's own, a non-zero exit, and an
// existing output file left as it was.
#include <gtest/gtest.h>

#include "command_runner.h"
#include "image_files.h"
#include "test_images.h"

namespace {

class Failures : public testing::Test {
protected:
    void SetUp() override {
        writeImage(scratch / "in.png", FileFormat::Png, randomRaster(300, 200, 3, SampleType::UInt8, 1),
                   {SampleType::UInt8, 95});
        writeText(scratch / "out.png", "the previous result");
    }

    // Runs, and checks the exit, the one message and the untouched output.
    void expectFailure(const std::vector<std::string>& args, const std::string& words, int exitCode = 1,
                       const Environment& env = {}) {
        SCOPED_TRACE(words);
        const CommandResult r = scratch.run(args, env);
        EXPECT_EQ(r.exitCode, exitCode) << r.err;
        const auto messages = r.messages();
        ASSERT_EQ(messages.size(), 1u) << r.err;
        EXPECT_NE(messages[0].find(words), std::string::npos) << messages[0];
        EXPECT_EQ(readText(scratch / "out.png"), "the previous result");
        EXPECT_EQ(scratch.files(), (std::vector<std::string>{"in.png", "out.png"}));
    }

    Scratch scratch;
    const std::string demo = modelFile("demo_sharpen_t128.onnx");
};

}  // namespace

TEST_F(Failures, MissingOrUnreadableFiles) {
    expectFailure({"absent.png", "out.png", "-m", demo}, "absent.png: no such file");
    writeText(scratch / "in.png", "not an image at all");
    expectFailure({"in.png", "out.png", "-m", demo}, "in.png: not a PNG, JPEG or TIFF image");
    std::filesystem::remove(scratch / "in.png");
    writeImage(scratch / "in.png", FileFormat::Png, randomRaster(300, 200, 3, SampleType::UInt8, 1),
               {SampleType::UInt8, 95});
    expectFailure({"in.png", "out.png", "-m", "absent.onnx"}, "absent.onnx: no such model file");
    expectFailure({"in.png", "out.bmp", "-m", demo}, "unknown image format");
    expectFailure({"in.png", "out.png", "-m", demo, "--bits", "32"}, "cannot hold 32-bit");
    expectFailure({"in.png", "missing-folder/out.png", "-m", demo}, "does not exist");
    expectFailure({"in.png"}, "give the output file");
    expectFailure({"in.png", "out.png", "--tile", "-3"}, "--tile", 2);
    expectFailure({"in.png", "out.png", "--no-such-option"}, "--no-such-option", 2);
}

TEST_F(Failures, ModelsThatCannotRun) {
    // The runtime's own words about a file that is no model.
    expectFailure({"in.png", "out.png", "-m", modelFile("not_a_model.onnx")}, "the runtime refused the model:");
    expectFailure({"in.png", "out.png", "-m", demo, "--tile", "64"}, "the model takes 128 x 128 tiles");
    expectFailure({"in.png", "out.png", "-m", modelFile("open_dims.onnx"), "--tile", "100000"}, "--tile", 2);
    expectFailure({"in.png", "out.png", "-m", modelFile("up1.5_near_cf_cf_f32_t16.onnx")},
                  "the model returns a 24 x 24 result for a 16 x 16 tile");
    expectFailure({"in.png", "out.png", "-m", modelFile("uint8_out_t16.onnx")},
                  "the model's output \"output\" holds uint8 elements; the library takes float, float16");
    expectFailure({"in.png", "out.png", "-m", modelFile("identity_t16_c1.onnx")},
                  "takes 1 channels per pixel, the image is RGB");
    expectFailure({"in.png", "out.png", "-m", demo, "--step", "200"},
                  "the run cannot be planned: velmoraPlan: the step (200) must not exceed the tile (128)");
    // The library's own error text, passed on as it comes.
    expectFailure({"in.png", "out.png", "-m", demo, "--downscale", "500"},
                  "the model run failed: velmoraPredict: the image is smaller than the downscale factor");
}

TEST_F(Failures, AStopFromTheProgressCallbackWritesNothing) {
    for (const char* after : {"0", "2"}) {
        expectFailure({"in.png", "out.png", "-m", demo}, "interrupted; nothing was written", 130,
                      {{"VELMORA_STOP_AFTER_PROGRESS", after}});
        expectFailure({"in.png", "out.png", "-m", modelFile("identity_t32_c3.onnx"), "--8bit"},
                      "interrupted; nothing was written", 130, {{"VELMORA_STOP_AFTER_PROGRESS", after}});
    }
    std::filesystem::remove(scratch / "out.png");
    const CommandResult r = scratch.run({"in.png", "new.png", "-m", demo}, {{"VELMORA_STOP_AFTER_PROGRESS", "1"}});
    EXPECT_EQ(r.exitCode, 130);
    EXPECT_EQ(scratch.files(), std::vector<std::string>{"in.png"});
}

TEST_F(Failures, CtrlCDuringALongRunStopsCleanly) {
    // Dozens of tiles of a six-layer convolution: seconds of work,
    // interrupted once the plan is shown (-v), as the tiles start.
    writeImage(scratch / "big.png", FileFormat::Png, smoothRaster(1900, 1900, 3), {SampleType::UInt8, 95});
    const CommandResult r = scratch.runAndInterruptAt(
        {"big.png", "out.png", "-m", modelFile("conv6x32_t256.onnx"), "-v"}, "velmora:   why:");
    EXPECT_EQ(r.exitCode, 130) << r.err;
    // Besides the plan that -v shows, one line.
    std::vector<std::string> messages = r.messages();
    std::erase_if(messages, [](const std::string& m) {
        return m.rfind("velmora: plan", 0) == 0 || m.rfind("velmora:   ", 0) == 0;
    });
    ASSERT_EQ(messages.size(), 1u) << r.err;
    EXPECT_NE(messages[0].find("interrupted"), std::string::npos);
    // Far fewer tiles ran than the image has (counted after the plan, past
    // the runs that measured the model).
    size_t runs = 0;
    const size_t plan = r.err.find("velmora:   why:");
    ASSERT_NE(plan, std::string::npos) << r.err;
    for (size_t at = r.err.find("runModel ", plan); at != std::string::npos; at = r.err.find("runModel ", at + 1))
        ++runs;
    EXPECT_LT(runs, 10u);
    EXPECT_EQ(readText(scratch / "out.png"), "the previous result");
    EXPECT_EQ(scratch.files(), (std::vector<std::string>{"big.png", "in.png", "out.png"}));
}
