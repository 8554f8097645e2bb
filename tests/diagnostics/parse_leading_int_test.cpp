#include <gtest/gtest.h>

#include <cstdint>

#include "diagnostics/settings_store.h"

TEST(ParseLeadingInt, ReadsLikeStoi) {
    EXPECT_EQ(parseLeadingInt("1"), 1);
    EXPECT_EQ(parseLeadingInt(" 2"), 2);
    EXPECT_EQ(parseLeadingInt("\t\n -1"), -1);
    EXPECT_EQ(parseLeadingInt("+17 apples"), 17);
    EXPECT_EQ(parseLeadingInt("0x1"), 0);
    EXPECT_EQ(parseLeadingInt("007"), 7);
    EXPECT_EQ(parseLeadingInt("2147483647"), 2147483647);
    EXPECT_EQ(parseLeadingInt("-2147483648"), INT32_MIN);
}

TEST(ParseLeadingInt, RejectsMissingOrOversizedNumbers) {
    for (const char* text :
         {"", "yes", " ", "-", "+-1", "- 1", "x1", "2147483648", "-2147483649", "99999999999999999999999999"}) {
        EXPECT_EQ(parseLeadingInt(text), std::nullopt) << '"' << text << '"';
    }
}
