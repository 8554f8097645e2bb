#include <gtest/gtest.h>

#include <cstring>

#include "api/host.h"
#include "api/scratch_environment.h"
#include "api/stored_settings.h"

TEST(Initialization, FirstCallCreatesTheSettingsAndDescribesTheBuild) {
    removeStoredSettings();
    HostContext context;
    std::vector<char> buffer(1100, '\x7f');
    initializeVelmora(context, "host", nullptr, buffer.data());
    const auto values = storedSettings();
    EXPECT_EQ(values.at("logging"), "0");
    EXPECT_EQ(values.at("tilessplit"), "0");

    const std::string info(buffer.data());
    ASSERT_LT(info.size(), 1000u);
    EXPECT_NE(info.find("1.207"), std::string::npos) << info;
#ifdef _WIN32
    EXPECT_NE(info.find("Windows x64"), std::string::npos) << info;
#else
    EXPECT_NE(info.find("Linux x86-64"), std::string::npos) << info;
#endif
    EXPECT_NE(info.find("ONNX Runtime: 1.29.0"), std::string::npos) << info;
    EXPECT_NE(info.find("CPUExecutionProvider"), std::string::npos) << info;
    for (size_t i = info.size(); i < 1000; ++i) ASSERT_EQ(buffer[i], 0) << i;
    EXPECT_EQ(buffer[1000], '\x7f');
}

TEST(Initialization, LoggingValues) {
    HostContext context;
    char info[1000];
    struct Case {
        const char* stored;
        bool logs;
    };
    for (const Case& c : {Case{"1", true},
                          {" 2", true},
                          {"-1", true},
                          {"yes", false},
                          {"0x1", false},
                          {"99999999999", false},
                          {"0", false}}) {
        SCOPED_TRACE(c.stored);
        storeSetting("logging", c.stored);
        std::filesystem::remove(scratchTempFolder() / "velmora.log");
        initializeVelmora(context, "host", nullptr, info);
        ASSERT_TRUE(context.load("identity_t16_c1.onnx"));
        std::vector<float> image(4, 0.5f);
        ASSERT_NE(predictByTilesFloat(context, image.data(), 2, 2, 1, 16, 16, 1, nullptr, nullptr), nullptr);
        EXPECT_EQ(std::filesystem::exists(scratchTempFolder() / "velmora.log"), c.logs);
        EXPECT_EQ(storedSettings().at("logging"), c.stored);  // never rewritten
    }
}

TEST(Initialization, LongValuesAreReplacedByTheDefault) {
    HostContext context;
    storeSetting("tilessplit", std::string(300, '7'));
    char info[1000];
    initializeVelmora(context, "host", nullptr, info);
    EXPECT_EQ(storedSettings().at("tilessplit"), "0");
}

TEST(Initialization, VersionEngineAndModelInformation) {
    HostContext context;
    EXPECT_EQ(getVelmoraVersion(context, nullptr, "x", 7), 1.207f);
    EXPECT_EQ(getVelmoraVersion(nullptr, nullptr, nullptr, 0), 1.207f);

    std::vector<char> engine(1001, '\xff');
    getNNEngineInformation(context, "host", engine.data());
    EXPECT_STREQ(engine.data(), "Velmora ONNX");
    for (size_t i = std::strlen("Velmora ONNX"); i < 1000; ++i) ASSERT_EQ(engine[i], 0) << i;
    EXPECT_EQ(engine[1000], '\xff');
    getNNEngineInformation(context, "host", nullptr);
    getNNEngineInformation(nullptr, "host", engine.data());
    EXPECT_STREQ(engine.data(), "Error retrieving device info");

    std::vector<char> model(2048, '\xff');
    getModelInformation(context, nullptr, 0, model.data());
    EXPECT_STREQ(model.data(), "Version: -1   GPURAM: 17592186044415 Mb");
    ASSERT_TRUE(context.load("identity_t16_c1.onnx"));
    getModelInformation(context, nullptr, 0, model.data());
    EXPECT_STREQ(model.data(), "Version: -1   GPURAM: 17592186044415 Mb");
    getModelInformation(nullptr, nullptr, 0, model.data());
    EXPECT_STREQ(model.data(), "Error retrieving model info");
}

TEST(Initialization, NullHandlesAndDevices) {
    char info[1000];
    std::memset(info, 1, sizeof info);
    initializeVelmora(nullptr, "host", nullptr, info);
    EXPECT_STREQ(info, "Error retrieving build info");
    HostContext context;
#ifndef _WIN32
    EXPECT_EQ(getDeviceNameByIndex(context, 0), nullptr);  // no graphics adapters on this platform
#endif
    EXPECT_EQ(getDeviceNameByIndex(context, -1), nullptr);
    EXPECT_EQ(getDeviceNameByIndex(nullptr, 0), nullptr);
}
