// Where the log file goes on POSIX systems: TMPDIR is a temporary folder too.
#include <gtest/gtest.h>

#include "log_file_fixture.h"

TEST_F(LogFile, TemporaryFolderPrecedence) {
    setVariable("TEMP", "/first");
    setVariable("TMP", "/second");
    setVariable("TMPDIR", "/third/");
    EXPECT_EQ(tempFolderPrefix(), "/first/");
    unsetVariable("TEMP");
    EXPECT_EQ(tempFolderPrefix(), "/second/");
    setVariable("TMP", "");  // set but empty counts as not set
    EXPECT_EQ(tempFolderPrefix(), "/third//");
    unsetVariable("TMP");
    unsetVariable("TMPDIR");
    EXPECT_EQ(tempFolderPrefix(), "");
}
