#include "diagnostics/log_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include "scratch_environment.h"

namespace {

// 9:05:03 local time on 1 January 2027, whatever the machine's time zone.
std::time_t newYearMorning() {
    std::tm local{};
    local.tm_year = 2027 - 1900;
    local.tm_mon = 0;
    local.tm_mday = 1;
    local.tm_hour = 9;
    local.tm_min = 5;
    local.tm_sec = 3;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

std::time_t yearsLastSecond() {
    std::tm local{};
    local.tm_year = 2026 - 1900;
    local.tm_mon = 11;
    local.tm_mday = 31;
    local.tm_hour = 23;
    local.tm_min = 59;
    local.tm_sec = 59;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

class LogFile : public ScratchEnvironment {
protected:
    void SetUp() override {
        ScratchEnvironment::SetUp();
        previous_ = setLogClock(&newYearMorning);
    }
    void TearDown() override {
        setLogClock(previous_);
        ScratchEnvironment::TearDown();
    }

private:
    LogClock previous_ = nullptr;
};

}  // namespace

TEST_F(LogFile, StampsLocalTimeWithoutLeadingZerosAndAppends) {
    appendLogLine(logFileName, "*predictByTilesImageFloat start");
    setLogClock(&yearsLastSecond);
    appendLogLine(logFileName, "*** Processing tile 1x0");
    EXPECT_EQ(readFile(temp() / "velmora.log"),
              "2027-1-1 9:5:3 *predictByTilesImageFloat start\n"
              "2026-12-31 23:59:59 *** Processing tile 1x0\n");
}

TEST_F(LogFile, KeepsExistingContent) {
    writeFile(temp() / "velmora.log", "earlier line\n");
    appendLogLine(logFileName, "next");
    EXPECT_EQ(readFile(temp() / "velmora.log"), "earlier line\n2027-1-1 9:5:3 next\n");
}

TEST_F(LogFile, TemporaryFolderPrecedence) {
    setenv("TEMP", "/first", 1);
    setenv("TMP", "/second", 1);
    setenv("TMPDIR", "/third/", 1);
    EXPECT_EQ(tempFolderPrefix(), "/first/");
    unsetenv("TEMP");
    EXPECT_EQ(tempFolderPrefix(), "/second/");
    setenv("TMP", "", 1);  // set but empty counts as not set
    EXPECT_EQ(tempFolderPrefix(), "/third//");
    unsetenv("TMP");
    unsetenv("TMPDIR");
    EXPECT_EQ(tempFolderPrefix(), "");
}

TEST_F(LogFile, WithoutTemporaryFolderWritesToCurrentDirectory) {
    unsetenv("TEMP");
    unsetenv("TMP");
    unsetenv("TMPDIR");
    const auto before = std::filesystem::current_path();
    std::filesystem::current_path(root());
    appendLogLine(logFileName, "here");
    std::filesystem::current_path(before);
    EXPECT_EQ(readFile(root() / "velmora.log"), "2027-1-1 9:5:3 here\n");
}

TEST_F(LogFile, MissingTemporaryFolderDropsTheLineQuietly) {
    const auto missing = root() / "gone";
    setenv("TEMP", missing.c_str(), 1);
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    EXPECT_NO_THROW(appendLogLine(logFileName, "lost"));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_FALSE(std::filesystem::exists(missing));
    EXPECT_FALSE(std::filesystem::exists(temp() / "velmora.log"));
}
