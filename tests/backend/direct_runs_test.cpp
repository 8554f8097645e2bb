// Whole inputs through one backend: input values are kept from run to run,
// so a run whose buffer, size or contents changed must still see exactly its
// own input.
#include <gtest/gtest.h>

#include <numeric>

#include "backend/ModelLogicONNX.h"
#include "support/model_files.h"

namespace {

struct Loaded {
    std::vector<char> bytes;
    ModelLogicONNX backend;
    explicit Loaded(const std::string& name, int32_t layout = 1) : bytes(readModel(name)) {
        testing::internal::CaptureStdout();
        EXPECT_TRUE(
            backend.loadModelEx(bytes.data(), static_cast<uint32_t>(bytes.size()), "input", "output", layout, layout));
        testing::internal::GetCapturedStdout();
    }
};

// The call's result, with what the backend prints meanwhile kept off the console.
template <typename Call>
auto quietly(Call&& call) {
    testing::internal::CaptureStdout();
    auto result = call();
    testing::internal::GetCapturedStdout();
    return result;
}

std::vector<float> counting(size_t n, float from) {
    std::vector<float> v(n);
    std::iota(v.begin(), v.end(), from);
    return v;
}

}  // namespace

TEST(DirectRuns, RunsOfChangingSizesAndContentsEachSeeTheirOwnInput) {
    Loaded open("open_dims.onnx");  // [1, h, w, 3], the identity
    std::vector<float> buffer = counting(30 * 20 * 3, 0.0f);
    for (auto [w, h] : {std::pair{30, 20}, {5, 4}, {30, 20}, {20, 30}}) {
        SCOPED_TRACE(testing::Message() << w << " x " << h);
        for (float& v : buffer) v += 1.0f;  // the same buffer, new contents
        const ImageFloat out = quietly([&] { return open.backend.runModel(buffer.data(), w, h, 3); });
        ASSERT_NE(out.data, nullptr);
        ASSERT_EQ(elementCount(out), int64_t{w} * h * 3);
        EXPECT_EQ(std::vector<float>(out.data, out.data + elementCount(out)),
                  std::vector<float>(buffer.begin(), buffer.begin() + elementCount(out)));
    }
}
