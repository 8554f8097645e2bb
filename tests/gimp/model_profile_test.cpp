// The normalisation the plug-in gives the library: the model's sidecar or
// metadata, and the user's mean and std in place of theirs.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "model_profile.h"
#include "support/model_files.h"

namespace fs = std::filesystem;

namespace {

struct Unload {
    void operator()(VgLoadedModel* model) const { vgUnloadModel(model); }
};
using LoadedModel = std::unique_ptr<VgLoadedModel, Unload>;

// A copy of a generated model in the scratch folder, with `sidecar` beside
// it as MODEL.onnx.json unless empty.
std::string modelWithSidecar(const std::string& name, const std::string& sidecar) {
    const fs::path folder = fs::path(VELMORA_TEST_SCRATCH) / "profiles";
    fs::create_directories(folder);
    const fs::path copy = folder / name;
    fs::copy_file(modelPath(name), copy, fs::copy_options::overwrite_existing);
    fs::remove(copy.string() + ".json");
    if (!sidecar.empty()) std::ofstream(copy.string() + ".json") << sidecar;
    return copy.string();
}

struct Used {
    LoadedModel model;
    std::string failure;
    VelmoraProfile profile{};
};

Used use(const std::string& path, const char* mean = "", const char* std = "") {
    const std::vector<char> bytes = readModel(fs::path(path).filename().string());
    Used used;
    VgFailure failure{};
    used.model.reset(vgLoadModel(bytes.data(), bytes.size(), &failure));
    if (!used.model || !vgUseProfile(used.model.get(), path.c_str(), mean, std, &failure) ||
        !vgProfileInEffect(used.model.get(), &used.profile, &failure))
        used.failure = failure.text;
    return used;
}

}  // namespace

TEST(ModelProfile, ASidecarBesideTheModelComesBeforeItsMetadata) {
    const Used metadata = use(modelWithSidecar("profiled_mix_t16.onnx", ""));
    ASSERT_EQ(metadata.failure, "");
    EXPECT_EQ(metadata.profile.source, VELMORA_PROFILE_METADATA);
    EXPECT_EQ(metadata.profile.mean[0], 103.53f);

    const Used sidecar = use(modelWithSidecar("profiled_mix_t16.onnx", R"({"mean": [0.5], "output": "mask"})"));
    ASSERT_EQ(sidecar.failure, "");
    EXPECT_EQ(sidecar.profile.source, VELMORA_PROFILE_SIDECAR);
    EXPECT_EQ(sidecar.profile.mean[0], 0.5f);
    EXPECT_EQ(sidecar.profile.output, VELMORA_OUTPUT_MASK);

    // A sidecar the library refuses stops the run, naming the file.
    const Used refused = use(modelWithSidecar("identity_t16_c3.onnx", R"({"stdev": [1]})"));
    EXPECT_NE(refused.failure.find("identity_t16_c3.onnx.json"), std::string::npos) << refused.failure;
    EXPECT_NE(refused.failure.find("unknown key \"stdev\""), std::string::npos) << refused.failure;
}

TEST(ModelProfile, AGivenMeanOrStdReplacesOnlyThatPartOfTheModelsProfile) {
    const std::string path = modelWithSidecar("profiled_mix_t16.onnx", "");
    const Used given = use(path, "1, 2, 3", "");
    ASSERT_EQ(given.failure, "");
    EXPECT_EQ(given.profile.source, VELMORA_PROFILE_HOST);
    EXPECT_EQ(given.profile.mean[2], 3.0f);
    EXPECT_EQ(given.profile.std[1], 57.12f);  // the metadata's
    EXPECT_EQ(given.profile.inputHigh, 255.0f);
    EXPECT_EQ(given.profile.colors, VELMORA_COLORS_BGR);

    const Used one = use(path, "", "2");
    ASSERT_EQ(one.failure, "");
    for (int c = 0; c < 3; ++c) EXPECT_EQ(one.profile.std[c], 2.0f);
    EXPECT_EQ(one.profile.mean[1], 116.28f);

    // Back to the model's own when the values are taken away again.
    VgFailure failure{};
    ASSERT_TRUE(vgUseProfile(one.model.get(), path.c_str(), "", "", &failure)) << failure.text;
    VelmoraProfile after{};
    ASSERT_TRUE(vgProfileInEffect(one.model.get(), &after, &failure));
    EXPECT_EQ(after.source, VELMORA_PROFILE_METADATA);

    EXPECT_NE(use(path, "1, x").failure.find("the mean \"1, x\" is not a list of numbers"), std::string::npos);
    EXPECT_NE(use(path, "", "0").failure.find("std"), std::string::npos);  // the library refuses a std of 0
}
