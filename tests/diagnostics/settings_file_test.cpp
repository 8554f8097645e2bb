#include "diagnostics/settings_file.h"

#include <gtest/gtest.h>

TEST(SettingsFile, EscapesOnlyWhatWouldBreakALine) {
    const SettingsValues values{{"tilessplit", "42"}, {"a=b", "x\\y\nz\x7f\xc3\xa9"}, {"", "empty name"}};
    const std::string text =
        "velmora settings 1\n"
        "=empty name\n"
        "a\\x3Db=x\\x5Cy\\x0Az\\x7F\xc3\xa9\n"
        "tilessplit=42\n";
    EXPECT_EQ(encodeSettingsFile(values), text);
    EXPECT_EQ(decodeSettingsFile(text), values);
    EXPECT_EQ(decodeSettingsFile("velmora settings 1\n"), SettingsValues{});
}

TEST(SettingsFile, RejectsMalformedText) {
    for (const std::string text :
         {"velmora settings 1", "velmora settings 2\n", "velmora settings 1\nnoequals\n", "velmora settings 1\na=1=2\n",
          "velmora settings 1\na=\\x4\n", "velmora settings 1\na=\\x4g\n", "velmora settings 1\na=\\y41\n",
          "velmora settings 1\na=\t\n", "velmora settings 1\na=1\r\n"}) {
        EXPECT_EQ(decodeSettingsFile(text), std::nullopt) << text;
    }
}

TEST(SettingsFile, NamesAreSafeFileNames) {
    EXPECT_EQ(settingsFileName("SOFTWARE\\Velmora"), "SOFTWARE%5CVelmora.settings");
    EXPECT_EQ(settingsFileName("../x/.y"), "%2E%2E%2Fx%2F%2Ey.settings");
}
