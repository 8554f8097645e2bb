#include <gtest/gtest.h>

#include <cstring>
#include <regex>

#include "api/host.h"

namespace {

std::vector<unsigned char> rawFetch(VelmoraContext context, int32_t length, size_t bufferSize) {
    std::vector<unsigned char> buffer(bufferSize, 0xAB);
    getErrorText(context, reinterpret_cast<char*>(buffer.data()), length);
    return buffer;
}

// Leaves a known runtime message in the process-wide backend text.
void failOneLoad(HostContext& context) {
    static const char kNotAModel[] = "this is not a model";
    ASSERT_FALSE(loadModel(context, kNotAModel, sizeof kNotAModel, "input", "output"));
}

}  // namespace

TEST(ErrorText, NullHandleWritesOneZeroByte) {
    auto buffer = rawFetch(nullptr, 16, 16);
    EXPECT_EQ(buffer[0], 0);
    for (size_t i = 1; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], 0xAB) << i;
}

TEST(ErrorText, SpecialLengths) {
    HostContext context;
    // -256 leaves the buffer untouched.
    auto untouched = rawFetch(context, -256, 300);
    for (unsigned char b : untouched) ASSERT_EQ(b, 0xAB);

    // -11: an empty text written as 12 zero bytes.
    auto empty = rawFetch(context, -11, 20);
    for (size_t i = 0; i < 12; ++i) EXPECT_EQ(empty[i], 0) << i;
    for (size_t i = 12; i < 20; ++i) EXPECT_EQ(empty[i], 0xAB) << i;

    // -12: the build date, "Mmm dd yyyy", then zeros up to 13 bytes.
    auto date = rawFetch(context, -12, 20);
    const std::string text(reinterpret_cast<const char*>(date.data()), 11);
    EXPECT_TRUE(std::regex_match(text, std::regex("[A-Z][a-z]{2} [ 123][0-9] [0-9]{4}"))) << text;
    EXPECT_EQ(date[11], 0);
    EXPECT_EQ(date[12], 0);
    EXPECT_EQ(date[13], 0xAB);
}

TEST(ErrorText, SpecialLengthsLeavePendingMessagesInPlace) {
    HostContext context;
    failOneLoad(context);
    const std::string before = context.errors(-12);
    EXPECT_EQ(before.size(), 11u);
    rawFetch(context, -11, 12);
    rawFetch(context, -256, 12);
    EXPECT_NE(context.errors().find("protobuf parsing failed"), std::string::npos);
}

TEST(ErrorText, LongTextIsCutWithoutTerminator) {
    HostContext context;
    failOneLoad(context);  // the backend text is now longer than 15 bytes
    const std::string full = context.errors();
    ASSERT_GT(full.size(), 15u);

    auto cut = rawFetch(context, 16, 20);
    EXPECT_EQ(std::memcmp(cut.data(), full.data(), 15), 0);
    EXPECT_NE(cut[15 - 1], 0);
    for (size_t i = 15; i < 20; ++i) EXPECT_EQ(cut[i], 0xAB) << "byte " << i << " written";
}

TEST(ErrorText, BackendTextIsCumulativeAndSharedByContexts) {
    HostContext first;
    HostContext second;
    const std::string before = second.errors();
    failOneLoad(first);
    failOneLoad(first);
    const std::string after = second.errors();
    ASSERT_EQ(after.compare(0, before.size(), before), 0);
    const std::string added = after.substr(before.size());
    // Two failures, in order, nothing between them but their own text.
    const size_t half = added.size() / 2;
    EXPECT_EQ(added.substr(0, half), added.substr(half));
    EXPECT_NE(added.find("protobuf parsing failed"), std::string::npos);
    // Fetching never clears the backend's text.
    EXPECT_EQ(second.errors(), after);
}

TEST(ErrorText, ContextsAreIndependent) {
    auto* first = new HostContext;
    HostContext second;
    ASSERT_NE(static_cast<VelmoraContext>(*first), static_cast<VelmoraContext>(second));
    ASSERT_TRUE(second.load("identity_t16_c1.onnx"));
    delete first;
    std::vector<float> tile(16 * 16, 0.5f);
    float* out = predictFloat(second, tile.data(), 16, 16, 1, false);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out[255], 0.5f);
}
