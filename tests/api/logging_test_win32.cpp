// A tiled prediction on Windows from end to end: the registry switches the log
// on, the log lands in TEMP with CR LF line ends, and the run is counted in
// the registry as REG_SZ texts.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "api/host.h"
#include "api/scratch_environment.h"
#include "api/stored_settings.h"
#include "support/registry_key.h"

namespace {
std::string rawBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}
}  // namespace

TEST(WindowsLogging, RegistrySwitchesOnALogWithCrLfLinesInTemp) {
    const auto log = scratchTempFolder() / "velmora.log";
    removeStoredSettings();
    storeSetting("logging", "1");
    storeSetting("tilessplit", "41");
    std::filesystem::remove(log);

    HostContext context;
    char info[1000];
    initializeVelmora(context, "host", nullptr, info);
    ASSERT_TRUE(context.load("identity_t16_c1.onnx"));
    std::vector<float> image(20 * 20, 0.25f);
    ASSERT_NE(predictByTilesImageFloat(context, ImageFloat{20, 20, 1, image.data()}, 16, 12, 1, nullptr, nullptr).data,
              nullptr);

    const std::string text = rawBytes(log);
    std::vector<std::string> messages;
    for (size_t start = 0; start < text.size();) {
        const size_t end = text.find("\r\n", start);
        ASSERT_NE(end, std::string::npos) << "unterminated line: " << text.substr(start);
        const std::string line = text.substr(start, end - start);
        ASSERT_EQ(line.find('\n'), std::string::npos) << "bare line feed in " << line;
        messages.push_back(line.substr(line.find(' ', line.find(' ') + 1) + 1));  // after the time stamp
        start = end + 2;
    }
    ASSERT_EQ(messages.size(), 6u) << text;
    EXPECT_EQ(messages[0], "*predictByTilesImageFloat start");
    EXPECT_EQ(messages[1], "*** Processing tile 0x0");
    EXPECT_EQ(messages[4], "*** Processing tile 1x1");
    EXPECT_EQ(messages[5], "PredictByTilesImageFloat Done, returning 0.250000");

    EXPECT_EQ(registryValue("tilessplit"), registryText("42"));
    EXPECT_EQ(registryValue("Device"), registryText("Velmora ONNX"));
    EXPECT_EQ(registryValue("logging"), registryText("1"));
}
