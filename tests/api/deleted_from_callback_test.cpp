// A host that deletes the context from inside its own progress callback, with
// or without also asking the run to stop, on each tiled path. The run must
// stop, give nothing of the gone context back, and leave the library working.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "api/host.h"
#include "api/scratch_environment.h"
#include "api/stored_settings.h"

namespace {

enum class Path { imageFloat, rawFloat, bytes };

const char* pathName(Path path) {
    switch (path) {
        case Path::imageFloat: return "predictByTilesImageFloat";
        case Path::rawFloat: return "predictByTilesFloat";
        case Path::bytes: return "predictByTiles";
    }
    return "";
}

// Every path runs a 40 x 40 image in 16 x 16 tiles: 3 x 3 tiles, so ten
// progress calls, the last one with 100.
constexpr int kSide = 40, kTile = 16, kProgressCalls = 10;

// A context with logging on and a model loaded, for the callback to end. The
// model's bytes outlive it.
struct Doomed {
    VelmoraContext handle = nullptr;
    std::vector<char> model;

    explicit Doomed(Path path) : handle(createContext(0, "tests")) {
        char info[1000];
        initializeVelmora(handle, "tests", nullptr, info);
        model = readModel(path == Path::bytes ? "identity_t16_c3.onnx" : "identity_t16_c1.onnx");
        loaded = loadModelEx(handle, model.data(), static_cast<uint32_t>(model.size()), "input", "output", 1, 1);
    }
    bool loaded = false;
};

// Deletes `context` at progress call `at` (counted from 0) and answers
// `alsoStop` there; every other call answers false.
struct DeleteAt {
    VelmoraContext context;
    int at;
    bool alsoStop;
    int calls = 0;

    static bool progress(void* self, float) {
        auto* d = static_cast<DeleteAt*>(self);
        if (d->calls++ != d->at) return false;
        deleteContext(d->context);
        return d->alsoStop;
    }
};

// Runs the path; true when it returned its result, false for its failure
// result (null, or the empty record).
bool runReturnedAResult(Path path, VelmoraContext context, ProgressCallback callback, void* userData) {
    static std::vector<float> gray(kSide * kSide, 0.25f);
    static std::vector<unsigned char> rgb(kSide * kSide * 3, 40);
    switch (path) {
        case Path::imageFloat: {
            const ImageFloat out = predictByTilesImageFloat(context, ImageFloat{kSide, kSide, 1, gray.data()}, kTile,
                                                            kTile, 1, callback, userData);
            EXPECT_TRUE(out.data != nullptr ||
                        (out.width == 0 && out.height == 0 && out.numChannels == 0));  // the empty record
            return out.data != nullptr;
        }
        case Path::rawFloat:
            return predictByTilesFloat(context, gray.data(), kSide, kSide, 1, kTile, kTile, 1, callback, userData) !=
                   nullptr;
        case Path::bytes:
            return predictByTiles(context, rgb.data(), kSide, kSide, 3, kTile, kTile, false, 1.0f / 255, 255.0f, 1,
                                  callback, userData) != nullptr;
    }
    return false;
}

std::vector<std::string> logLines() {
    std::ifstream in(scratchTempFolder() / "velmora.log");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool anyLineHas(const std::vector<std::string>& lines, const std::string& words) {
    for (const std::string& line : lines)
        if (line.find(words) != std::string::npos) return true;
    return false;
}

// The process is fit for work: a tiled float run on a new context is admitted
// (the single-caller count was given back) and gives its input back.
void aNewContextRunsNormally() {
    HostContext fresh;
    ASSERT_TRUE(fresh.load("identity_t16_c1.onnx"));
    std::vector<float> input(kSide * kSide);
    for (size_t i = 0; i < input.size(); ++i) input[i] = static_cast<float>(i);
    const ImageFloat out =
        predictByTilesImageFloat(fresh, ImageFloat{kSide, kSide, 1, input.data()}, kTile, kTile, 1, nullptr, nullptr);
    ASSERT_NE(out.data, nullptr) << fresh.errors();
    EXPECT_EQ(std::vector<float>(out.data, out.data + input.size()), input);
}

class DeletedFromCallback : public testing::Test {
protected:
    void SetUp() override {
        removeStoredSettings();
        storeSetting("logging", "1");
        std::filesystem::remove(scratchTempFolder() / "velmora.log");
    }
    void TearDown() override { removeStoredSettings(); }
};

// The path; the progress call that deletes (the first, one between tiles, and
// the last, whose answer a finished run does not otherwise look at); whether
// that call also asks to stop.
class DeletedAt : public DeletedFromCallback, public testing::WithParamInterface<std::tuple<Path, int, bool>> {};

std::string caseName(const testing::TestParamInfo<DeletedAt::ParamType>& info) {
    const auto [path, at, alsoStop] = info.param;
    return std::string(pathName(path)) + "_call" + std::to_string(at) + (alsoStop ? "_alsoStop" : "");
}

}  // namespace

TEST_P(DeletedAt, TheRunStopsAndTheContextGoesWithTheCall) {
    const auto [path, at, alsoStop] = GetParam();
    Doomed doomed(path);
    ASSERT_TRUE(doomed.loaded);
    DeleteAt deleter{doomed.handle, at, alsoStop};
    EXPECT_FALSE(runReturnedAResult(path, doomed.handle, &DeleteAt::progress, &deleter));
    EXPECT_EQ(deleter.calls, at + 1);  // nothing more after the deletion

    if (path != Path::bytes) {
        // Nothing was counted or logged for the run after the deletion: only
        // the tiles before it.
        auto settings = storedSettings();
        EXPECT_EQ(settings["tilessplit"], "0");
        EXPECT_EQ(settings.count("Device"), 0u);
        const std::vector<std::string> lines = logLines();
        int tiles = 0;
        for (const std::string& line : lines) tiles += line.find("Processing tile") != std::string::npos;
        EXPECT_EQ(tiles, at);
        EXPECT_FALSE(anyLineHas(lines, "Done"));
    }
    aNewContextRunsNormally();
}

INSTANTIATE_TEST_SUITE_P(EveryTiledPath, DeletedAt,
                         testing::Combine(testing::Values(Path::imageFloat, Path::rawFloat, Path::bytes),
                                          testing::Values(0, 4, kProgressCalls - 1), testing::Bool()),
                         caseName);

TEST_F(DeletedFromCallback, DeletingAnotherContextLeavesTheRunAlone) {
    for (Path path : {Path::imageFloat, Path::rawFloat, Path::bytes}) {
        SCOPED_TRACE(pathName(path));
        Doomed other(path);
        HostContext context;
        ASSERT_TRUE(context.load(path == Path::bytes ? "identity_t16_c3.onnx" : "identity_t16_c1.onnx"));
        DeleteAt deleter{other.handle, 2, false};
        EXPECT_TRUE(runReturnedAResult(path, context, &DeleteAt::progress, &deleter)) << context.errors();
        EXPECT_EQ(deleter.calls, kProgressCalls);
    }
}
