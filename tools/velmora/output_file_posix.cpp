// Linux writes into an unnamed file (O_TMPFILE), which a killed run cannot
// leave behind, and links it in once complete. Elsewhere, and where the
// file system has no unnamed files, the file is named in the command's own
// fixed-length way from the start, held locked while written, and a later
// run clears what a killed one left.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <set>
#include <stdexcept>

#include "output_file.h"

namespace fs = std::filesystem;

struct OutputFile::State {
    fs::path target;
    fs::path folder;
    int fd = -1;       // open and locked until the end
    fs::path name;     // the file's own name in the folder, while it has one
    fs::path through;  // where the codecs open it
    bool unnamed = false;

    ~State() {
        if (!name.empty()) unlink(name.c_str());
        if (fd >= 0) close(fd);
    }
};

namespace {

constexpr int kTries = 100;
constexpr time_t kStaleSeconds = 60;

[[noreturn]] void fail(const fs::path& target, int error) {
    throw std::runtime_error(target.string() + ": " + std::strerror(error));
}

// Removes, once per run and folder, the partial files a killed run left:
// only files of the command's own naming, older than a minute, of one link,
// and not locked by a run that still writes them.
void sweepStalePartials(const fs::path& folder) {
    static std::mutex lock;
    static std::set<fs::path> swept;
    {
        std::error_code ec;
        const std::lock_guard<std::mutex> guard(lock);
        if (!swept.insert(fs::absolute(folder, ec).lexically_normal()).second) return;
    }
    DIR* dir = opendir(folder.c_str());
    if (!dir) return;
    const int dirFd = dirfd(dir);
    const time_t now = std::time(nullptr);
    while (const dirent* entry = readdir(dir)) {
        if (!isPartialName(entry->d_name)) continue;
        const int fd = openat(dirFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat st {};
        if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 && st.st_mtime < now - kStaleSeconds &&
            flock(fd, LOCK_EX | LOCK_NB) == 0)
            unlinkat(dirFd, entry->d_name, 0);
        close(fd);
    }
    closedir(dir);
}

}  // namespace

OutputFile::OutputFile(const fs::path& target) : state(std::make_unique<State>()) {
    checkRegularTarget(target);
    State& s = *state;
    s.target = target;
    s.folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
    sweepStalePartials(s.folder);
#ifdef O_TMPFILE
    // The tests reach the named files through this, as on a file system
    // without unnamed ones.
    if (!std::getenv("VELMORA_TEST_NO_TMPFILE")) {
        s.fd = open(s.folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
        if (s.fd >= 0) {
            // The codecs open paths; /proc reaches the unnamed file.
            s.through = "/proc/self/fd/" + std::to_string(s.fd);
            s.unnamed = access(s.through.c_str(), W_OK) == 0;
            if (!s.unnamed) {
                close(s.fd);
                s.fd = -1;
            }
        }
    }
#endif
    for (int i = 0; s.fd < 0 && i < kTries; ++i) {
        const fs::path name = s.folder / partialName();
        s.fd = open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (s.fd < 0 && errno != EEXIST) fail(target, errno);
        if (s.fd >= 0) s.name = s.through = name;
    }
    if (s.fd < 0) fail(target, EEXIST);
    flock(s.fd, LOCK_EX);  // a sweep of another run leaves it alone
}

OutputFile::~OutputFile() = default;

const fs::path& OutputFile::writePath() const { return state->through; }

void OutputFile::commit() {
    State& s = *state;
    checkRegularTarget(s.target);
    // A replaced file keeps its permissions.
    struct stat old {};
    if (stat(s.target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) fchmod(s.fd, old.st_mode & 07777);
    if (s.unnamed) {
        // Without an old file the complete file takes the name at once;
        // over one it takes a name of its own first, to be renamed over it.
        if (linkat(AT_FDCWD, s.through.c_str(), AT_FDCWD, s.target.c_str(), AT_SYMLINK_FOLLOW) == 0) return;
        if (errno != EEXIST) fail(s.target, errno);
        for (int i = 0; s.name.empty() && i < kTries; ++i) {
            const fs::path name = s.folder / partialName();
            if (linkat(AT_FDCWD, s.through.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
                s.name = name;
            else if (errno != EEXIST)
                fail(s.target, errno);
        }
        if (s.name.empty()) fail(s.target, EEXIST);
    }
    if (rename(s.name.c_str(), s.target.c_str()) != 0) fail(s.target, errno);
    s.name.clear();
}
