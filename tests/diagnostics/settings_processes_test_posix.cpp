// Several processes writing one key at once.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

#include "settings_test_support.h"

TEST_F(SettingsStore, ConcurrentProcessesLoseNoValue) {
    constexpr int processes = 6;
    constexpr int rounds = 200;
    ASSERT_TRUE(writeRegistryString(settingsFolder, "logging", "1"));

    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    std::fflush(nullptr);
    std::vector<pid_t> children;
    for (int p = 0; p < processes; ++p) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            // Wait until every writer exists, then all start together.
            close(gate[1]);
            char byte;
            while (read(gate[0], &byte, 1) < 0 && errno == EINTR) {}
            bool ok = true;
            const std::string own = "writer" + std::to_string(p);
            for (int round = 0; round < rounds; ++round) {
                // A read-modify-write of its own counter, among the others' writes.
                const int32_t count = readRegistryInt(settingsFolder, own, 0);
                ok = writeRegistryString(settingsFolder, own, std::to_string(count + 1)) && ok;
                ok = writeRegistryString(settingsFolder, "shared", std::to_string(p) + ":" + std::to_string(round)) &&
                     ok;
            }
            _exit(ok ? 0 : 1);
        }
        children.push_back(pid);
    }
    close(gate[0]);
    close(gate[1]);
    for (const pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "writer failed: " << status;
    }

    const SettingsValues values = storedValues();
    EXPECT_EQ(values.size(), processes + 2u);
    EXPECT_EQ(values.at("logging"), "1");
    for (int p = 0; p < processes; ++p) {
        EXPECT_EQ(values.at("writer" + std::to_string(p)), std::to_string(rounds));
    }
    const std::string shared = values.at("shared");
    EXPECT_EQ(shared.substr(shared.find(':')), ":" + std::to_string(rounds - 1)) << shared;
    // Nothing but the data and lock files is left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(keyFile().parent_path()),
                            std::filesystem::directory_iterator()),
              2);
}
