// The log file on Windows: TEMP, then TMP, a backslash, CR LF line ends, and
// a file that other programs may hold open.
#include <gtest/gtest.h>
#include <windows.h>

#include "log_file_fixture.h"

TEST_F(LogFile, TemporaryFolderIsTempThenTmpWithABackslash) {
    setVariable("TEMP", "C:\\Temp");
    setVariable("TMP", "D:\\T");
    setVariable("TMPDIR", "E:\\ignored");
    EXPECT_EQ(tempFolderPrefix(), "C:\\Temp\\");
    setVariable("TEMP", "C:\\Temp\\");
    EXPECT_EQ(tempFolderPrefix(), "C:\\Temp\\\\");  // a doubled separator names the same file
    unsetVariable("TEMP");
    EXPECT_EQ(tempFolderPrefix(), "D:\\T\\");
    unsetVariable("TMP");
    EXPECT_EQ(tempFolderPrefix(), "");  // TMPDIR means nothing here
}

TEST_F(LogFile, LinesEndInCarriageReturnAndLineFeed) {
    appendLogLine(logFileName, "*predictByTilesImageFloat start");
    appendLogLine(logFileName, "*** Processing tile 0x0");
    EXPECT_EQ(readFile(temp() / "velmora.log"),
              "2027-1-1 9:5:3 *predictByTilesImageFloat start\r\n"
              "2027-1-1 9:5:3 *** Processing tile 0x0\r\n");
}

TEST_F(LogFile, AFinalBackslashInTempStillFindsTheFolder) {
    setVariable("TEMP", temp().string() + "\\");
    appendLogLine(logFileName, "doubled");
    EXPECT_EQ(readFile(temp() / "velmora.log"), "2027-1-1 9:5:3 doubled\r\n");
}

TEST_F(LogFile, OthersMayKeepTheFileOpenButNotLockIt) {
    const std::string path = (temp() / "velmora.log").string();
    {
        // A viewer that reads and writes while allowing the same to others.
        HANDLE shared = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(shared, INVALID_HANDLE_VALUE);
        appendLogLine(logFileName, "while shared");
        CloseHandle(shared);
    }
    EXPECT_EQ(readFile(temp() / "velmora.log"), "2027-1-1 9:5:3 while shared\r\n");
    {
        // A program holding it exclusively: the line is dropped without a word.
        HANDLE exclusive =
            CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        appendLogLine(logFileName, "while locked");
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        CloseHandle(exclusive);
    }
    EXPECT_EQ(readFile(temp() / "velmora.log"), "2027-1-1 9:5:3 while shared\r\n");
}
