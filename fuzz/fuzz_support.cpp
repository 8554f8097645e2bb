#include "fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>

namespace {

std::filesystem::path makeScratch() {
    std::error_code ec;
    const char* given = std::getenv("VELMORA_FUZZ_SCRATCH");
    std::filesystem::path base = given && given[0] ? given
                                 : std::filesystem::is_directory("/dev/shm", ec) && access("/dev/shm", W_OK) == 0
                                     ? std::filesystem::path("/dev/shm")
                                     : std::filesystem::temp_directory_path();
    std::string pattern = (base / "velmora-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::perror("velmora-fuzz: cannot make a scratch folder");
        std::exit(2);
    }
    const std::filesystem::path folder = pattern;
    std::filesystem::create_directories(folder / "config");
    std::filesystem::create_directories(folder / "temp");
    setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);
    // Sessions run on the calling thread alone: pool threads that start and
    // end while libFuzzer looks for leaks after an input make it report
    // glibc's records of them, and they only slow each input down.
    std::filesystem::create_directories(folder / "config" / "velmora");
    std::ofstream(folder / "config" / "velmora" / "SOFTWARE%5CVelmora.settings") << "velmora settings 1\nthreads=1\n";
    setenv("TMPDIR", (folder / "temp").c_str(), 1);
    setenv("TEMP", (folder / "temp").c_str(), 1);
    setenv("TMP", (folder / "temp").c_str(), 1);
    return folder;
}

void removeScratch() {
    std::error_code ignored;
    std::filesystem::remove_all(scratchFolder(), ignored);
}

}  // namespace

const std::filesystem::path& scratchFolder() {
    static const std::filesystem::path folder = makeScratch();
    // Registered once the folder's name is complete, so that the name is
    // destroyed after the removal at exit, not before it.
    static const bool removedAtExit = std::atexit(removeScratch) == 0;
    (void)removedAtExit;
    return folder;
}

void quietStreams() {
    if (std::getenv("VELMORA_FUZZ_VERBOSE")) return;
    std::cout.setstate(std::ios::badbit);
    std::cerr.setstate(std::ios::badbit);
    std::clog.setstate(std::ios::badbit);
}

void finding(const std::string& what) {
    std::fprintf(stderr, "\nvelmora-fuzz finding: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

std::vector<uint8_t> readFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "velmora-fuzz: cannot read %s\n", path.c_str());
        std::exit(2);
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
