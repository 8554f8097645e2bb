// Several processes using one key at once.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/file.h>
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

namespace {

// A second process that holds the key's lock until told to let go (or until
// `holdSeconds` have passed, so that a store that waits for the lock cannot
// hang the test).
class LockHolder {
public:
    // `whileHeld` runs in the holder once it has the lock, before it waits.
    LockHolder(const std::filesystem::path& lockFile, int holdSeconds, void (*whileHeld)() = nullptr) {
        int ready[2], release[2];
        if (pipe(ready) != 0 || pipe(release) != 0) return;
        std::fflush(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            close(ready[0]);
            close(release[1]);
            const int fd = open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            const bool locked = fd >= 0 && flock(fd, LOCK_EX) == 0;
            const char byte = locked ? 'L' : 'F';
            (void)!write(ready[1], &byte, 1);
            if (locked && whileHeld) whileHeld();
            pollfd wait{release[0], POLLIN, 0};
            poll(&wait, 1, holdSeconds * 1000);
            _exit(0);  // ending the process lets the lock go
        }
        close(ready[1]);
        close(release[0]);
        release_ = release[1];
        char byte = 0;
        while (read(ready[0], &byte, 1) < 0 && errno == EINTR) {}
        close(ready[0]);
        locked_ = byte == 'L';
    }
    ~LockHolder() { letGo(); }
    bool locked() const { return locked_; }
    void letGo() {
        if (pid_ <= 0) return;
        close(release_);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    int release_ = -1;
    bool locked_ = false;
};

}  // namespace

TEST_F(SettingsStore, ALockHeldElsewhereGivesDefaultsAndAMessageWithoutWaitingForIt) {
    ASSERT_TRUE(writeRegistryString(settingsFolder, "logging", "5"));
    LockHolder holder(keyFile().string() + ".lock", 20);
    ASSERT_TRUE(holder.locked());

    ::testing::internal::CaptureStdout();
    const int32_t logging = readRegistryInt(settingsFolder, "logging", 0);
    const bool written = writeRegistryString(settingsFolder, "Device", "Velmora ONNX");
    const int32_t again = readRegistryInt(settingsFolder, "tilessplit", 3);
    const std::string out = ::testing::internal::GetCapturedStdout();
    // Read while another process still held the lock: the defaults, no store.
    EXPECT_EQ(logging, 0);
    EXPECT_FALSE(written);
    EXPECT_EQ(again, 3);
    EXPECT_NE(out.find("locked by another process"), std::string::npos) << out;
    EXPECT_NE(out.find("Failed to create folder in registry, error " + std::to_string(EWOULDBLOCK)), std::string::npos)
        << out;

    holder.letGo();
    // Nothing was changed behind the holder's back, and once it lets go the
    // store works again at once.
    EXPECT_EQ(storedValues(), (SettingsValues{{"logging", "5"}}));
    EXPECT_EQ(readRegistryInt(settingsFolder, "logging", 0), 5);
    EXPECT_TRUE(writeRegistryString(settingsFolder, "Device", "Velmora ONNX"));
    EXPECT_EQ(storedValues().at("Device"), "Velmora ONNX");
}

namespace {

std::filesystem::path busyKeyFile;

// A holder that keeps storing, as a process writing in a loop does: a new
// data file every 100 ms for two seconds, the last one with logging 9.
void storeRepeatedly() {
    for (int round = 0; round <= 20; ++round) {
        const std::string temp = busyKeyFile.string() + ".busy";
        {
            std::ofstream out(temp, std::ios::binary | std::ios::trunc);
            out << encodeSettingsFile({{"logging", round == 20 ? "9" : std::to_string(round)}});
        }
        std::filesystem::rename(temp, busyKeyFile);
        usleep(100000);
    }
}

}  // namespace

TEST_F(SettingsStore, ALockHeldByAProcessThatKeepsStoringIsWaitedFor) {
    ASSERT_TRUE(writeRegistryString(settingsFolder, "logging", "5"));
    busyKeyFile = keyFile();
    LockHolder holder(keyFile().string() + ".lock", 0, storeRepeatedly);
    ASSERT_TRUE(holder.locked());
    ::testing::internal::CaptureStdout();
    // Longer than a quiet holder is waited for, but the store kept changing.
    EXPECT_EQ(readRegistryInt(settingsFolder, "logging", 0), 9);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}
