// Windows has no unnamed files: the file is named in the command's own
// fixed-length way, held open without leave to delete it while written, and
// a later run clears what a killed one left.
#include <windows.h>

#include <mutex>
#include <set>
#include <stdexcept>
#include <system_error>

#include "output_file.h"

namespace fs = std::filesystem;

struct OutputFile::State {
    fs::path target;
    fs::path name;  // while the file has a name of its own
    HANDLE handle = INVALID_HANDLE_VALUE;

    ~State() {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
        if (!name.empty()) DeleteFileW(name.c_str());
    }
};

namespace {

constexpr int kTries = 100;
constexpr ULONGLONG kStaleTicks = 60ull * 10000000ull;  // a minute in 100 ns

[[noreturn]] void fail(const fs::path& target, DWORD error) {
    throw std::runtime_error(target.string() + ": " + std::system_category().message(static_cast<int>(error)));
}

ULONGLONG ticks(const FILETIME& t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

// Removes, once per run and folder, the partial files a killed run left:
// only files of the command's own naming, older than a minute; a file still
// being written is open without leave to delete it, and stays.
void sweepStalePartials(const fs::path& folder) {
    static std::mutex lock;
    static std::set<fs::path> swept;
    {
        std::error_code ec;
        const std::lock_guard<std::mutex> guard(lock);
        if (!swept.insert(fs::absolute(folder, ec).lexically_normal()).second) return;
    }
    const fs::path pattern = folder / (std::string(kPartialPrefix) + "*");
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    do {
        const fs::path name = found.cFileName;
        const DWORD skip = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
        if ((found.dwFileAttributes & skip) == 0 && isPartialName(name.string()) &&
            ticks(found.ftLastWriteTime) + kStaleTicks < ticks(now))
            DeleteFileW((folder / name).c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

}  // namespace

OutputFile::OutputFile(const fs::path& target) : state(std::make_unique<State>()) {
    checkRegularTarget(target);
    State& s = *state;
    s.target = target;
    const fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
    sweepStalePartials(folder);
    for (int i = 0; s.handle == INVALID_HANDLE_VALUE && i < kTries; ++i) {
        const fs::path name = folder / partialName();
        // The codecs open it again to write: reading and writing are shared,
        // deleting is not.
        s.handle = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (s.handle != INVALID_HANDLE_VALUE)
            s.name = name;
        else if (GetLastError() != ERROR_FILE_EXISTS)
            fail(target, GetLastError());
    }
    if (s.handle == INVALID_HANDLE_VALUE) fail(target, ERROR_FILE_EXISTS);
}

OutputFile::~OutputFile() = default;

const fs::path& OutputFile::writePath() const { return state->name; }

void OutputFile::commit() {
    State& s = *state;
    checkRegularTarget(s.target);
    std::error_code ec;
    const fs::file_status old = fs::status(s.target, ec);
    if (!ec && fs::is_regular_file(old)) fs::permissions(s.name, old.permissions(), ec);
    CloseHandle(s.handle);  // renaming needs the leave to delete it kept from others
    s.handle = INVALID_HANDLE_VALUE;
    if (!MoveFileExW(s.name.c_str(), s.target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        fail(s.target, GetLastError());
    s.name.clear();
}
