// The settings store on the registry of the current user (under Wine, the
// test prefix's own). Each test starts without the key; the user's key is put
// back afterwards.
#include <gtest/gtest.h>
#include <windows.h>

#include <thread>
#include <vector>

#include "diagnostics/settings_store.h"
#include "support/registry_key.h"

namespace {

class Registry : public testing::Test {
protected:
    SavedRegistryKey saved;
};

}  // namespace

TEST_F(Registry, FirstReadsCreateTheKeyWithZeroTexts) {
    ASSERT_FALSE(registryKeyExists());
    EXPECT_EQ(readRegistryInt(settingsFolder, "tilessplit", 0), 0);
    EXPECT_EQ(readRegistryInt(settingsFolder, "logging", 0), 0);
    ASSERT_TRUE(registryKeyExists());
    // REG_SZ, stored with the terminating zero: "0" takes two bytes.
    EXPECT_EQ(registryValues(), (RegistryValues{{"logging", {REG_SZ, std::string("0\0", 2)}},
                                                {"tilessplit", {REG_SZ, std::string("0\0", 2)}}}));
    EXPECT_EQ(readRegistryString(settingsFolder, "Device", "none"), "none");
    EXPECT_EQ(registryValue("Device"), registryText("none"));
}

TEST_F(Registry, WritesAreTextsWithTheirTerminatingZero) {
    ASSERT_TRUE(writeRegistryString(settingsFolder, "Device", "Velmora ONNX"));
    EXPECT_EQ(registryValue("Device"), (RegistryValue{REG_SZ, std::string("Velmora ONNX\0", 13)}));
    ASSERT_TRUE(writeRegistryString(settingsFolder, "empty", ""));
    EXPECT_EQ(registryValue("empty"), (RegistryValue{REG_SZ, std::string(1, '\0')}));
    EXPECT_EQ(readRegistryString(settingsFolder, "empty", "d"), "");
    EXPECT_EQ(readRegistryInt(settingsFolder, "empty", 9), 9);
}

TEST_F(Registry, SeveralValuesAreStoredUnderOneKey) {
    ASSERT_TRUE(writeRegistryString(settingsFolder, "logging", "1"));
    ASSERT_TRUE(writeRegistryStrings(settingsFolder, {{"tilessplit", "6"}, {"Device", "Velmora ONNX"}}));
    EXPECT_EQ(registryValues(), (RegistryValues{{"Device", registryText("Velmora ONNX")},
                                                {"logging", registryText("1")},
                                                {"tilessplit", registryText("6")}}));
}

TEST_F(Registry, LoggingValuesAndTheirReading) {
    const std::pair<const char*, int32_t> cases[] = {{"1", 1}, {" 2", 2}, {"-1", -1}, {"yes", 0}, {"0x1", 0}, {"0", 0}};
    for (const auto& [text, expected] : cases) {
        ASSERT_TRUE(setRegistryValue("logging", registryText(text)));
        EXPECT_EQ(readRegistryInt(settingsFolder, "logging", 0), expected) << '"' << text << '"';
        EXPECT_EQ(registryValue("logging"), registryText(text)) << "rewritten";
    }
}

TEST_F(Registry, DwordLoggingIsReadAsItsRawBytes) {
    const DWORD one = 1;
    ASSERT_TRUE(setRegistryValue("logging", {REG_DWORD, std::string(reinterpret_cast<const char*>(&one), 4)}));
    // 01 00 00 00 reads as a one-character text that is no number.
    EXPECT_EQ(readRegistryString(settingsFolder, "logging", "0"), "\x01");
    EXPECT_EQ(readRegistryInt(settingsFolder, "logging", 0), 0);
    EXPECT_EQ(registryValue("logging")->type, static_cast<DWORD>(REG_DWORD));  // left as it was
}

TEST_F(Registry, ValuesLongerThan255BytesAreReplacedByTheDefault) {
    const std::string longest(255, '7');
    ASSERT_TRUE(writeRegistryString(settingsFolder, "name", longest));
    EXPECT_EQ(readRegistryString(settingsFolder, "name", "d"), longest);

    ASSERT_TRUE(setRegistryValue("tilessplit", registryText(std::string(300, '1'))));
    EXPECT_EQ(readRegistryInt(settingsFolder, "tilessplit", 0), 0);
    EXPECT_EQ(registryValue("tilessplit"), registryText("0"));
}

TEST_F(Registry, CountOutOfRangeGivesTheDefaultAndStaysStored) {
    ASSERT_TRUE(setRegistryValue("tilessplit", registryText("4294967296")));
    EXPECT_EQ(readRegistryInt(settingsFolder, "tilessplit", 0), 0);
    EXPECT_EQ(registryValue("tilessplit"), registryText("4294967296"));
}

TEST_F(Registry, AKeyThatCannotBeMadeReportsAndFallsBack) {
    // Registry key names are limited to 255 characters.
    const std::string folder(300, 'k');
    testing::internal::CaptureStdout();
    EXPECT_EQ(readRegistryInt(folder, "logging", 7), 7);
    EXPECT_FALSE(writeRegistryString(folder, "Device", "Velmora ONNX"));
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string line = "Failed to create folder in registry, error ";
    ASSERT_EQ(out.rfind(line, 0), 0u) << out;
    EXPECT_NE(out.find("\n\n" + line), std::string::npos) << out;
    EXPECT_FALSE(registryKeyExists(("SOFTWARE\\" + folder).c_str()));
}

TEST_F(Registry, TheLastWriterWins) {
    ASSERT_TRUE(writeRegistryString(settingsFolder, "tilessplit", "5"));
    // Two contexts both start from 5 and each completes one run.
    const int32_t first = readRegistryInt(settingsFolder, "tilessplit", 0);
    const int32_t second = readRegistryInt(settingsFolder, "tilessplit", 0);
    ASSERT_TRUE(writeRegistryString(settingsFolder, "tilessplit", std::to_string(first + 1)));
    ASSERT_TRUE(writeRegistryString(settingsFolder, "tilessplit", std::to_string(second + 1)));
    EXPECT_EQ(registryValue("tilessplit"), registryText("6"));
}

TEST_F(Registry, ConcurrentWritersLoseNoValue) {
    constexpr int writers = 6;
    constexpr int rounds = 100;
    std::vector<std::thread> threads;
    std::vector<int> failures(writers, 0);
    for (int w = 0; w < writers; ++w) {
        threads.emplace_back([w, &failures] {
            const std::string own = "writer" + std::to_string(w);
            for (int round = 0; round < rounds; ++round) {
                // Each value is its own writer's: a read-modify-write that nobody else disturbs.
                const int32_t count = readRegistryInt(settingsFolder, own, 0);
                failures[w] += !writeRegistryString(settingsFolder, own, std::to_string(count + 1));
                failures[w] +=
                    !writeRegistryString(settingsFolder, "shared", std::to_string(w) + ":" + std::to_string(round));
            }
        });
    }
    for (auto& thread : threads) thread.join();
    const RegistryValues values = registryValues();
    EXPECT_EQ(values.size(), writers + 1u);
    for (int w = 0; w < writers; ++w) {
        EXPECT_EQ(failures[w], 0);
        EXPECT_EQ(values.at("writer" + std::to_string(w)), registryText(std::to_string(rounds)));
    }
    const std::string shared = values.at("shared").bytes;
    EXPECT_EQ(shared.substr(shared.find(':')), ":" + std::to_string(rounds - 1) + '\0');
}
