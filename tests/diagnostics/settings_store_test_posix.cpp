// The settings store on its key file.
#include <gtest/gtest.h>

#include "settings_test_support.h"

TEST_F(SettingsStore, FirstReadsCreateTheKeyWithTheirDefaults) {
    EXPECT_FALSE(std::filesystem::exists(keyFile()));
    EXPECT_EQ(readRegistryInt(settingsFolder, "tilessplit", 0), 0);
    EXPECT_EQ(readRegistryInt(settingsFolder, "logging", 0), 0);
    EXPECT_EQ(keyFile().filename(), "SOFTWARE%5CVelmora.settings");
    EXPECT_EQ(storedValues(), (SettingsValues{{"logging", "0"}, {"tilessplit", "0"}}));
    EXPECT_EQ(readRegistryString(settingsFolder, "Device", "none"), "none");
    EXPECT_EQ(storedValues().at("Device"), "none");
}

TEST_F(SettingsStore, LoggingValuesAndTheirReading) {
    const std::pair<const char*, int32_t> cases[] = {{"1", 1},   {" 2", 2},  {"-1", -1}, {"3", 3},
                                                     {"yes", 0}, {"0x1", 0}, {"", 0},    {"0", 0}};
    for (const auto& [text, expected] : cases) {
        ASSERT_TRUE(writeRegistryString(settingsFolder, "logging", text));
        EXPECT_EQ(readRegistryInt(settingsFolder, "logging", 0), expected) << '"' << text << '"';
        // A text that is no number is left as it was.
        EXPECT_EQ(storedValues().at("logging"), text);
    }
}

TEST_F(SettingsStore, CountOutOfRangeGivesDefaultAndStaysStored) {
    ASSERT_TRUE(writeRegistryString(settingsFolder, "tilessplit", "4294967296"));
    EXPECT_EQ(readRegistryInt(settingsFolder, "tilessplit", 0), 0);
    EXPECT_EQ(readRegistryInt(settingsFolder, "tilessplit", 5), 5);
    EXPECT_EQ(storedValues().at("tilessplit"), "4294967296");
    ASSERT_TRUE(writeRegistryString(settingsFolder, "tilessplit", "41"));
    EXPECT_EQ(readRegistryInt(settingsFolder, "tilessplit", 0), 41);
}

TEST_F(SettingsStore, ValuesLongerThan255BytesAreReplacedByTheDefault) {
    const std::string longest(255, '7');
    ASSERT_TRUE(writeRegistryString(settingsFolder, "name", longest));
    EXPECT_EQ(readRegistryString(settingsFolder, "name", "d"), longest);

    ASSERT_TRUE(writeRegistryString(settingsFolder, "name", std::string(256, '7')));
    EXPECT_EQ(readRegistryString(settingsFolder, "name", "d"), "d");
    EXPECT_EQ(storedValues().at("name"), "d");

    ASSERT_TRUE(writeRegistryString(settingsFolder, "tilessplit", std::string(300, '1')));
    EXPECT_EQ(readRegistryInt(settingsFolder, "tilessplit", 0), 0);
    EXPECT_EQ(storedValues().at("tilessplit"), "0");
}

TEST_F(SettingsStore, AnyBytesSurviveAndAZeroByteEndsTheText) {
    const std::string awkward = "a=b\\c\nd\r\x01\x7f\xc3\xa9 \\x41";
    ASSERT_TRUE(writeRegistryString(settingsFolder, "odd=name\n", awkward));
    EXPECT_EQ(readRegistryString(settingsFolder, "odd=name\n", "d"), awkward);
    ASSERT_TRUE(writeRegistryString(settingsFolder, "zero", std::string("ab\0cd", 5)));
    EXPECT_EQ(readRegistryString(settingsFolder, "zero", "d"), "ab");
}

TEST_F(SettingsStore, WritesChangeOneValueAndTheLastWriterWins) {
    ASSERT_TRUE(writeRegistryString(settingsFolder, "logging", "1"));
    // Two contexts that both loaded a count of 5 each finish one run.
    ASSERT_TRUE(writeRegistryString(settingsFolder, "tilessplit", "6"));
    ASSERT_TRUE(writeRegistryString(settingsFolder, "Device", "Velmora ONNX"));
    ASSERT_TRUE(writeRegistryString(settingsFolder, "tilessplit", "6"));
    ASSERT_TRUE(writeRegistryString(settingsFolder, "Device", "Velmora ONNX"));
    ASSERT_TRUE(writeRegistryString("Other", "tilessplit", "99"));
    EXPECT_EQ(storedValues(), (SettingsValues{{"Device", "Velmora ONNX"}, {"logging", "1"}, {"tilessplit", "6"}}));
    EXPECT_EQ(storedValues("Other"), (SettingsValues{{"tilessplit", "99"}}));
}

TEST_F(SettingsStore, SeveralValuesAreStoredTogetherOrNotAtAll) {
    ASSERT_TRUE(writeRegistryString(settingsFolder, "logging", "1"));
    ASSERT_TRUE(writeRegistryStrings(settingsFolder, {{"tilessplit", "6"}, {"Device", "Velmora ONNX"}}));
    EXPECT_EQ(readRegistryInt(settingsFolder, "tilessplit", 0), 6);
    EXPECT_EQ(readRegistryString(settingsFolder, "Device", "none"), "Velmora ONNX");
    EXPECT_EQ(storedValues(), (SettingsValues{{"Device", "Velmora ONNX"}, {"logging", "1"}, {"tilessplit", "6"}}));

    // A folder where the temporary file would go: the file cannot be
    // replaced, and each value says so as it would alone.
    std::filesystem::create_directories(keyFile().string() + ".tmp");
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(writeRegistryStrings(settingsFolder, {{"tilessplit", "7"}, {"Device", "other"}}));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "Failed to write value \"tilessplit\" in registry, error " + std::to_string(EISDIR) +
                  "\n\nFailed to write value \"Device\" in registry, error " + std::to_string(EISDIR) + "\n\n");
    EXPECT_EQ(storedValues(), (SettingsValues{{"Device", "Velmora ONNX"}, {"logging", "1"}, {"tilessplit", "6"}}));
}

TEST_F(SettingsStore, DamagedFileGivesDefaultsAndAMessage) {
    std::filesystem::create_directories(keyFile().parent_path());
    const std::string damaged[] = {
        "",                                            // empty
        "garbage\x01\x02",                             // no header
        "velmora settings 1\nlogging=1\ntilessp",      // cut off mid-line
        "velmora settings 1\nlogging=1\nlogging=2\n",  // duplicate
        "velmora settings 1\nlogging=\\q1\n",          // bad escape
        std::string("velmora settings 1\nlogging=1\0\n", 31),
    };
    for (const std::string& text : damaged) {
        writeFile(keyFile(), text);
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(readRegistryInt(settingsFolder, "logging", 0), 0);
        const std::string out = ::testing::internal::GetCapturedStdout();
        EXPECT_NE(out.find("is damaged"), std::string::npos) << out;
        // The default took the damaged file's place; the old one is kept.
        EXPECT_EQ(storedValues(), (SettingsValues{{"logging", "0"}}));
        EXPECT_EQ(readFile(keyFile().string() + ".damaged"), text);
    }
}

TEST_F(SettingsStore, KeyThatCannotBeCreatedReportsAndFallsBack) {
    // A file where the configuration folder should be.
    writeFile(root() / "blocked", "");
    setenv("XDG_CONFIG_HOME", (root() / "blocked").c_str(), 1);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(readRegistryInt(settingsFolder, "logging", 7), 7);
    EXPECT_EQ(readRegistryString(settingsFolder, "Device", "x"), "x");
    EXPECT_FALSE(writeRegistryString(settingsFolder, "Device", "Velmora ONNX"));
    // Once for each value, as when they are written one by one.
    EXPECT_FALSE(writeRegistryStrings(settingsFolder, {{"tilessplit", "1"}, {"Device", "Velmora ONNX"}}));
    const std::string line = "Failed to create folder in registry, error " + std::to_string(ENOTDIR) + "\n\n";
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), line + line + line + line + line);
}

TEST_F(SettingsStore, UnreadableKeyFileReportsAndFallsBack) {
    std::filesystem::create_directories(keyFile());  // a folder cannot be read as a file
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(readRegistryInt(settingsFolder, "logging", 0), 0);
    EXPECT_FALSE(writeRegistryString(settingsFolder, "logging", "1"));
    const std::string line = "Failed to create folder in registry, error " + std::to_string(EISDIR) + "\n\n";
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), line + line);
}

TEST_F(SettingsStore, FallsBackToConfigFolderInHome) {
    unsetenv("XDG_CONFIG_HOME");
    ASSERT_TRUE(writeRegistryString(settingsFolder, "logging", "1"));
    EXPECT_TRUE(std::filesystem::exists(root() / "home" / ".config" / "velmora" / keyFile().filename()));
    setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
    EXPECT_EQ(readRegistryInt(settingsFolder, "logging", 0), 1);
}
