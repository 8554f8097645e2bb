#include "diagnostics/expected.h"

#include <gtest/gtest.h>

#include <string>

namespace {

Expected<int> half(int value) {
    if (value % 2 != 0) return failure(std::to_string(value) + " is odd");
    return value / 2;
}

// A caller that hands a failure on with its own value type.
Expected<std::string> describedHalf(int value) {
    const Expected<int> h = half(value);
    if (!h) return failure("cannot halve: " + h.message());
    return "half is " + std::to_string(*h);
}

}  // namespace

TEST(Expected, CarriesTheValueOrTheMessage) {
    const Expected<int> even = half(8);
    ASSERT_TRUE(even);
    EXPECT_EQ(*even, 4);

    const Expected<int> odd = half(7);
    ASSERT_FALSE(odd);
    EXPECT_EQ(odd.message(), "7 is odd");

    const Expected<std::string> text = describedHalf(10);
    ASSERT_TRUE(text);
    EXPECT_EQ(text->size(), 9u);
    EXPECT_EQ(*text, "half is 5");
    EXPECT_EQ(describedHalf(3).message(), "cannot halve: 3 is odd");
}
