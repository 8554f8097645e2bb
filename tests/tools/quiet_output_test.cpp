// What the user sees: in a terminal the command's own lines and nothing of
// what the library and the runtime print, unless -v or a failure asks.
#include <gtest/gtest.h>

#include <algorithm>

#include "command_runner.h"
#include "image_files.h"
#include "library_messages.h"
#include "progress.h"
#include "test_images.h"
#include "velmora.h"

namespace {

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string trimmed(std::string line) {
    line.erase(line.find_last_not_of(' ') + 1);
    return line;
}

}  // namespace

TEST(QuietOutput, TheDemoShowsAtMostThreeLinesAndEndsWithTheResult) {
    Scratch scratch;
    const CommandResult shown = scratch.runInTerminal({});
    ASSERT_EQ(shown.exitCode, 0) << shown.out;
    const std::vector<std::string> lines = terminalLines(shown.out);
    EXPECT_GE(lines.size(), 1u);
    EXPECT_LE(lines.size(), 3u) << shown.out;
    EXPECT_TRUE(contains(lines.back(), "velmora: wrote ") && contains(lines.back(), "velmora-demo-sharpened.png"))
        << lines.back();
    for (const char* hidden : {"runModel", "onnxruntime", "Dealloc", "Input Name"})
        EXPECT_FALSE(contains(shown.out, hidden)) << hidden;
    // What the command does shows at once, each line replacing the last.
    for (const char* step : {"\rloading demo_sharpen_t128.onnx ...", "\rreading sample.png ...",
                             "\rmeasuring the model on sample.png ..."})
        EXPECT_TRUE(contains(shown.out, step)) << step << "\n" << shown.out;
    // The bar was drawn and redrawn in place: tiles and time, never a new line.
    EXPECT_TRUE(contains(shown.out, "tiles")) << shown.out;
    EXPECT_TRUE(contains(shown.out, "spent")) << shown.out;
    EXPECT_TRUE(contains(shown.out, "\r[")) << shown.out;

    const CommandResult quiet = scratch.runInTerminal({"--quiet"});
    ASSERT_EQ(quiet.exitCode, 0) << quiet.out;
    EXPECT_EQ(terminalLines(quiet.out).size(), 0u) << quiet.out;
    EXPECT_TRUE(std::filesystem::exists(scratch / "velmora-demo-sharpened.png"));

    // Everything passes with -v, and the closing line still comes last.
    const CommandResult verbose = scratch.runInTerminal({"-v"});
    ASSERT_EQ(verbose.exitCode, 0) << verbose.out;
    const std::vector<std::string> all = terminalLines(verbose.out);
    EXPECT_GT(all.size(), 20u);
    for (const char* passed : {"runModel", "[I:onnxruntime", "Dealloc ModelLogicONNX", "Input Name"})
        EXPECT_TRUE(contains(verbose.out, passed)) << passed;
    EXPECT_TRUE(contains(all.back(), "velmora: wrote ")) << all.back();
}

TEST(QuietOutput, AFailureShowsTheRuntimeLinesThatExplainIt) {
    Scratch scratch;
    writeImage(scratch / "in.png", FileFormat::Png, randomRaster(40, 30, 3, SampleType::UInt8, 2), {});
    // The model loads, then fails inside the runtime on the first tile (the
    // tiles given, so that no measuring runs it first).
    const CommandResult r =
        scratch.run({"in.png", "out.png", "-m", modelFile("lookup_fails_t16.onnx"), "-t", "16", "-s", "16"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");  // nothing of the library's reaches standard output
    const std::vector<std::string> lines = terminalLines(r.err);
    ASSERT_GE(lines.size(), 2u) << r.err;
    EXPECT_TRUE(contains(lines[0], "velmora: the model run failed:")) << lines[0];
    EXPECT_EQ(r.messages().size(), 1u) << r.err;
    // The runtime's own error line follows, without its colour codes, and
    // nothing of its informative log.
    EXPECT_TRUE(std::any_of(lines.begin() + 1, lines.end(), [](const std::string& l) {
        return contains(l, "[E:onnxruntime") && contains(l, "indices element out of data bounds");
    })) << r.err;
    EXPECT_FALSE(contains(r.err, "\x1b[")) << r.err;
    EXPECT_FALSE(contains(r.err, "[I:onnxruntime")) << r.err;
    EXPECT_FALSE(std::filesystem::exists(scratch / "out.png"));
}

TEST(QuietOutput, KeptLinesAreWhatExplainsAFailure) {
    KeptLines kept;
    kept.keep(VELMORA_SEVERITY_INFO, VELMORA_FROM_RUNTIME, "Session Options { ... }");
    kept.keep(VELMORA_SEVERITY_INFO, VELMORA_FROM_LIBRARY, "runModel 16 16 3");
    kept.keep(VELMORA_SEVERITY_ERROR, VELMORA_FROM_RUNTIME, "Non-zero status code");
    kept.keep(VELMORA_SEVERITY_WARNING, VELMORA_FROM_RUNTIME, "Error merging shape info");
    kept.keep(VELMORA_SEVERITY_INFO, VELMORA_FROM_LIBRARY, "Velmora error: failed to allocate RAM buffer for argmax");
    kept.keep(VELMORA_SEVERITY_WARNING, VELMORA_FROM_LIBRARY, "Failed to create folder in registry, error 13");
    kept.keep(VELMORA_SEVERITY_INFO, VELMORA_FROM_LIBRARY, "Dealloc ModelLogicONNX");
    EXPECT_EQ(kept.take(), (std::vector<std::string>{"[E:onnxruntime] Non-zero status code",
                                                     "[W:onnxruntime] Error merging shape info",
                                                     "Velmora error: failed to allocate RAM buffer for argmax",
                                                     "Failed to create folder in registry, error 13"}));
    EXPECT_TRUE(kept.take().empty());  // taken once
    // Only the last ones when there are many.
    for (int i = 0; i < 30; ++i) kept.keep(VELMORA_SEVERITY_ERROR, VELMORA_FROM_LIBRARY, "error " + std::to_string(i));
    const std::vector<std::string> last = kept.take(5);
    ASSERT_EQ(last.size(), 5u);
    EXPECT_EQ(last.front(), "error 25");
    EXPECT_EQ(last.back(), "error 29");
}

TEST(QuietOutput, TheProgressLineCountsTilesAndTime) {
    EXPECT_EQ(clockText(7.4), "0:07");
    EXPECT_EQ(clockText(750), "12:30");
    EXPECT_EQ(clockText(3723), "1:02:03");
    // 3 of 12 tiles after 4 s: 12 s to go.
    EXPECT_EQ(progressLine(25.0, 12, 4.0, 8), "[##......]  25%  3/12 tiles  0:04 spent  0:12 left");
    EXPECT_EQ(progressLine(0.0, 12, 0.0, 4), "[....]   0%  0/12 tiles  0:00 spent");
    EXPECT_EQ(progressLine(100.0, 12, 9.0, 4), "[####] 100%  12/12 tiles  0:09 spent");
    EXPECT_EQ(progressLine(0.0, 1, 0.0, 4, "runs"), "[....]   0%  0/1 runs  0:00 spent");
    EXPECT_EQ(trimmed(terminalLines("\r[##] a   \r[###] b\n").front()), "[###] b");
}
