// The settings store without a registry: each key is one file in the user's
// configuration folder ($XDG_CONFIG_HOME, else ~/.config, then "velmora/").
// An open key holds an exclusive flock on a lock file beside the data file,
// so a read-modify-write by several threads or processes never loses a value;
// the data file is replaced through a synced temporary file and a rename, so
// it is never seen half-written, not even after a crash mid-write. A lock
// that another process keeps (or a stuck one) is waited for only a short
// while; the call then goes on without the store, as for one that cannot be
// read.
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <thread>
#include <vector>

#include "diagnostics/console_sink.h"
#include "diagnostics/settings_file.h"
#include "diagnostics/settings_store_platform.h"

namespace settings_platform {
namespace {

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes now, so that a failed close (a late write error) can be seen.
    bool close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

std::string homeFolder() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') {
        return home;
    }
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr) {
        return found->pw_dir;
    }
    return {};
}

// A relative XDG_CONFIG_HOME is ignored, as the base-directory rules ask.
std::string configFolder() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        return xdg;
    }
    const std::string home = homeFolder();
    return home.empty() ? std::string() : home + "/.config";
}

bool readAll(int fd, std::string& text) {
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            return true;
        }
        text.append(chunk, static_cast<size_t>(n));
    }
}

bool writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

using Clock = std::chrono::steady_clock;

// How long an open waits for a lock held elsewhere while the store does not
// change: a holder that stores nothing for this long is stuck or busy with
// something else, and the call goes on without the store. An initialisation
// reads three values, each on its own, so it waits at most about three times
// this; a completed run writes its two values at once.
constexpr auto kLockPatience = std::chrono::milliseconds(1000);
// While other holders keep storing values the wait goes on, up to this.
constexpr auto kLockLimit = std::chrono::seconds(30);

// What the data file looks like from outside the lock: every store puts a
// new file in its place.
struct DataStamp {
    ino_t inode = 0;
    int64_t seconds = 0, nanoseconds = 0;
    bool operator==(const DataStamp&) const = default;
};

DataStamp stampOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return {};
    return {info.st_ino, info.st_mtim.tv_sec, info.st_mtim.tv_nsec};
}

// Takes the exclusive lock, trying again after short pauses (a holder that
// works in a loop lets go only for moments). False with the error code when
// the lock is not had: EWOULDBLOCK when others kept it for too long.
bool lockWithPatience(int fd, const std::string& dataPath, const std::string& lockPath, int32_t& errorCode) {
    const Clock::time_point start = Clock::now();
    Clock::time_point lastChange = start;
    DataStamp seen = stampOf(dataPath);
    auto pause = std::chrono::microseconds(50);
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK) {
            errorCode = errno;
            return false;
        }
        const Clock::time_point now = Clock::now();
        const DataStamp stamp = stampOf(dataPath);
        if (!(stamp == seen)) {
            seen = stamp;
            lastChange = now;
        }
        if (now - lastChange >= kLockPatience || now - start >= kLockLimit) break;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(500));
    }
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    messageSink("Settings file " + dataPath + " is locked by another process (through " + lockPath +
                "); gave up after " + std::to_string(waited.count()) +
                " ms: the defaults are used and nothing is stored");
    errorCode = EWOULDBLOCK;
    return false;
}

void syncFolder(const std::string& folder) {
    Descriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid()) {
        ::fsync(dir.get());
    }
}

class KeyFile final : public OpenKey {
public:
    KeyFile(Descriptor&& lock, std::string folder, std::string dataPath, SettingsValues values, bool damaged)
        : lock_(lock.release()),
          folder_(std::move(folder)),
          dataPath_(std::move(dataPath)),
          values_(std::move(values)),
          damaged_(damaged) {}

    bool query(const std::string& name, char* buffer, uint32_t capacity, uint32_t& size) override {
        const auto found = values_.find(name);
        if (found == values_.end() || found->second.size() + 1 > capacity) {
            return false;
        }
        std::memcpy(buffer, found->second.data(), found->second.size());
        buffer[found->second.size()] = '\0';
        size = static_cast<uint32_t>(found->second.size() + 1);
        return true;
    }

    bool set(const std::string& name, const std::string& text, int32_t& errorCode) override {
        const std::vector<std::optional<int32_t>> failures = setAll({{name, text}});
        if (failures[0]) errorCode = *failures[0];
        return !failures[0];
    }

    // One file written and renamed into place for all of them: either all
    // are stored or, the file being left as it was, none.
    std::vector<std::optional<int32_t>> setAll(const std::vector<SettingsEntry>& entries) override {
        SettingsValues before = values_;
        for (const auto& [name, text] : entries) values_[name] = text;
        int32_t errorCode = 0;
        if (save(errorCode)) return std::vector<std::optional<int32_t>>(entries.size());
        values_ = std::move(before);
        return std::vector<std::optional<int32_t>>(entries.size(), errorCode);
    }

    // Writes all values to a temporary file and puts it in place of the data
    // file in one rename.
    bool save(int32_t& errorCode) {
        const std::string tempPath = dataPath_ + ".tmp";
        Descriptor temp(::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
        if (!temp.valid()) {
            errorCode = errno;
            return false;
        }
        if (!writeAll(temp.get(), encodeSettingsFile(values_)) || ::fsync(temp.get()) != 0 || !temp.close()) {
            errorCode = errno;
            ::unlink(tempPath.c_str());
            return false;
        }
        if (damaged_) {
            // Kept for whoever wants to look at what went wrong.
            ::rename(dataPath_.c_str(), (dataPath_ + ".damaged").c_str());
        }
        if (::rename(tempPath.c_str(), dataPath_.c_str()) != 0) {
            errorCode = errno;
            ::unlink(tempPath.c_str());
            return false;
        }
        damaged_ = false;
        syncFolder(folder_);
        return true;
    }

private:
    Descriptor lock_;  // holding it open holds the lock
    std::string folder_;
    std::string dataPath_;
    SettingsValues values_;
    bool damaged_;
};

}  // namespace

std::unique_ptr<OpenKey> openKey(const std::string& keyPath, KeyAccess, int32_t& errorCode) {
    const std::string base = configFolder();
    if (base.empty()) {
        errorCode = ENOENT;
        return nullptr;
    }
    const std::string folder = base + "/velmora";
    std::error_code created;
    std::filesystem::create_directories(folder, created);
    if (created) {
        errorCode = created.value();
        return nullptr;
    }
    const std::string dataPath = folder + "/" + settingsFileName(keyPath);

    const std::string lockPath = dataPath + ".lock";
    Descriptor lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!lock.valid()) {
        errorCode = errno;
        return nullptr;
    }
    if (!lockWithPatience(lock.get(), dataPath, lockPath, errorCode)) return nullptr;

    SettingsValues values;
    bool damaged = false;
    bool exists = true;
    Descriptor data(::open(dataPath.c_str(), O_RDONLY | O_CLOEXEC));
    if (!data.valid()) {
        if (errno != ENOENT) {
            errorCode = errno;
            return nullptr;
        }
        exists = false;
    } else {
        std::string text;
        if (!readAll(data.get(), text)) {
            errorCode = errno;
            return nullptr;
        }
        if (auto decoded = decodeSettingsFile(text)) {
            values = std::move(*decoded);
        } else {
            damaged = true;
            messageSink("Settings file " + dataPath +
                        " is damaged: its values read as their defaults, and it is replaced at the"
                        " next write (the old one is kept as " +
                        dataPath + ".damaged)");
        }
    }
    auto key = std::make_unique<KeyFile>(std::move(lock), folder, dataPath, std::move(values), damaged);
    if (!exists && !key->save(errorCode)) {
        return nullptr;  // a key that cannot be created
    }
    return key;
}

}  // namespace settings_platform
