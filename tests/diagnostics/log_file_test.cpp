#include "diagnostics/log_file.h"

#include <gtest/gtest.h>

#include "log_file_fixture.h"

TEST_F(LogFile, StampsLocalTimeWithoutLeadingZerosAndAppends) {
    appendLogLine(logFileName, "*predictByTilesImageFloat start");
    setLogClock(&yearsLastSecond);
    appendLogLine(logFileName, "*** Processing tile 1x0");
    EXPECT_EQ(readText(temp() / "velmora.log"),
              "2027-1-1 9:5:3 *predictByTilesImageFloat start\n"
              "2026-12-31 23:59:59 *** Processing tile 1x0\n");
}

TEST_F(LogFile, KeepsExistingContent) {
    writeFile(temp() / "velmora.log", "earlier line\n");
    appendLogLine(logFileName, "next");
    EXPECT_EQ(readText(temp() / "velmora.log"), "earlier line\n2027-1-1 9:5:3 next\n");
}

TEST_F(LogFile, WithoutTemporaryFolderWritesToCurrentDirectory) {
    unsetVariable("TEMP");
    unsetVariable("TMP");
    unsetVariable("TMPDIR");
    const auto before = std::filesystem::current_path();
    std::filesystem::current_path(root());
    appendLogLine(logFileName, "here");
    std::filesystem::current_path(before);
    EXPECT_EQ(readText(root() / "velmora.log"), "2027-1-1 9:5:3 here\n");
}

TEST_F(LogFile, MissingTemporaryFolderDropsTheLineQuietly) {
    const auto missing = root() / "gone";
    setVariable("TEMP", missing.string());
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    EXPECT_NO_THROW(appendLogLine(logFileName, "lost"));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_FALSE(std::filesystem::exists(missing));
    EXPECT_FALSE(std::filesystem::exists(temp() / "velmora.log"));
}
