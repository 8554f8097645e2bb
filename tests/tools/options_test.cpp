// Options as people type them: in any order among the files, lists in one
// argument with or without "=", and a clear line for what is not a list.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "command_runner.h"
#include "image_files.h"
#include "number_list.h"
#include "options.h"
#include "test_images.h"

namespace {

// parseOptions on the words after the command's name; -1 when it would run.
int parse(std::vector<std::string> words, Options& options) {
    words.insert(words.begin(), "velmora");
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    return parseOptions(static_cast<int>(words.size()), argv.data(), options);
}

using Files = std::vector<std::string>;
const std::vector<float> kMean{0.485f, 0.456f, 0.406f}, kStd{0.229f, 0.224f, 0.225f};

}  // namespace

TEST(Options, ListsTakeOneArgumentWhereverTheyStand) {
    const std::vector<std::vector<std::string>> forms{
        {"-m", "M.onnx", "--mean", "0.485,0.456,0.406", "--std", "0.229,0.224,0.225", "page.png", "out.png"},
        {"-m", "M.onnx", "--mean=0.485,0.456,0.406", "--std=0.229,0.224,0.225", "page.png", "out.png"},
        {"page.png", "out.png", "--mean", "0.485,0.456,0.406", "-m", "M.onnx", "--std=0.229,0.224,0.225"},
        {"page.png", "--std", "0.229,0.224,0.225", "out.png", "--mean", "0.485,0.456,0.406", "-m", "M.onnx"},
    };
    for (const auto& words : forms) {
        SCOPED_TRACE(words[2] + " " + words[3]);
        Options o;
        ASSERT_EQ(parse(words, o), -1);
        EXPECT_EQ(o.files, (Files{"page.png", "out.png"}));
        EXPECT_EQ(o.model, "M.onnx");
        EXPECT_EQ(o.mean, kMean);
        EXPECT_EQ(o.deviation, kStd);
    }
    // Batch: every file after the lists is an input.
    Options batch;
    ASSERT_EQ(parse({"-o", "done", "--mean", "0.5", "a.png", "--std=0.25,0.5,2", "b.png", "c.png"}, batch), -1);
    EXPECT_EQ(batch.files, (Files{"a.png", "b.png", "c.png"}));
    EXPECT_EQ(batch.mean, std::vector<float>{0.5f});
    EXPECT_EQ(batch.deviation, (std::vector<float>{0.25f, 0.5f, 2.0f}));
    // A negative first value is a value, not an option.
    Options negative;
    ASSERT_EQ(parse({"--mean", "-0.5,1e-1", "in.png", "out.png"}, negative), -1);
    EXPECT_EQ(negative.mean, (std::vector<float>{-0.5f, 0.1f}));
    Options sized;
    ASSERT_EQ(parse({"--info", "--size", "4000x3000"}, sized), -1);
    EXPECT_EQ(sized.sizeWidth, 4000);
    EXPECT_EQ(sized.sizeHeight, 3000);
}

TEST(Options, WhatIsNotAListOrGoesNowhereIsAUsageError) {
    for (const std::vector<std::string>& words : std::initializer_list<std::vector<std::string>>{
             {"--mean", "0.4,,0.5", "in.png", "out.png"},
             {"--mean", "0.4;0.5", "in.png", "out.png"},
             {"--std=", "in.png", "out.png"},
             {"--std", "0.2,wide", "in.png", "out.png"},
             {"--mean", "1,2,3,4,5,6,7,8,9", "in.png", "out.png"},
             {"--mean", "nan", "in.png", "out.png"},
             {"--mean", "0.485", "0.456", "0.406", "in.png", "out.png"},  // typed with blanks
             {"--cutout", "--mask", "in.png", "out.png"},
             {"--size", "4000", "--info"},
             {"--size", "4000x3000", "in.png", "out.png"}}) {
        SCOPED_TRACE(words[0] + " " + words[1]);
        Options o;
        EXPECT_EQ(parse(words, o), 2);
    }
    EXPECT_EQ(parseNumberList("0.5,-2,1e3", "--mean", 8, "1,2"), (std::vector<float>{0.5f, -2.0f, 1000.0f}));
    try {
        parseNumberList("0.485;0.456", "--mean", 8, "0.485,0.456,0.406");
        ADD_FAILURE() << "parsed";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(),
                     "--mean takes up to 8 numbers separated by commas in one argument, such as --mean "
                     "0.485,0.456,0.406; \"0.485;0.456\" is not a number");
    }
}

TEST(Options, TheCommandRunsWithListsBeforeTheFilesAlsoInABatch) {
    Scratch scratch;
    const Raster image = randomRaster(40, 30, 3, SampleType::UInt8, 7);
    for (const char* name : {"a.png", "b.png"}) writeImage(scratch / name, FileFormat::Png, image, {});
    const std::string identity = modelFile("identity_t16_c3.onnx");
    const CommandResult one =
        scratch.run({"-m", identity, "--mean", "0.5,0.5,0.5", "--std", "1,1,1", "a.png", "o.png"});
    ASSERT_EQ(one.exitCode, 0) << one.err;
    EXPECT_TRUE(std::filesystem::exists(scratch / "o.png"));
    const CommandResult batch =
        scratch.run({"-o", "done", "-m", identity, "--mean=0.5", "--std=1,1,1", "a.png", "b.png"});
    ASSERT_EQ(batch.exitCode, 0) << batch.err;
    EXPECT_TRUE(std::filesystem::exists(scratch / "done" / "a.png"));
    EXPECT_TRUE(std::filesystem::exists(scratch / "done" / "b.png"));
    // The blanks a list was typed with, named as such.
    const CommandResult blanks = scratch.run({"-m", identity, "--mean", "0.5", "0.5", "0.5", "a.png", "o.png"});
    EXPECT_EQ(blanks.exitCode, 2);
    EXPECT_NE(blanks.err.find("velmora: \"0.5\" is not a file; --mean and --std take their values in one argument, "
                              "separated by commas (--mean 0.485,0.456,0.406)"),
              std::string::npos)
        << blanks.err;
}
