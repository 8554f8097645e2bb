// Points the per-user settings and the temporary folder of the whole test
// process at a fresh scratch folder, before any test runs, so that the
// tests never read or change the user's own settings or log.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "api/scratch_environment.h"

namespace {

std::filesystem::path makeScratch() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmora-api-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    const std::filesystem::path root(pattern);
    std::filesystem::create_directories(root / "config");
    std::filesystem::create_directories(root / "temp");
    setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
    setenv("TEMP", (root / "temp").c_str(), 1);
    return root;
}

const std::filesystem::path& root() {
    static const std::filesystem::path path = makeScratch();
    return path;
}

[[maybe_unused]] const bool prepared = !root().empty();

class RemoveScratch : public testing::Environment {
public:
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(root(), ec);
    }
};
[[maybe_unused]] testing::Environment* const removal = testing::AddGlobalTestEnvironment(new RemoveScratch);

}  // namespace

std::filesystem::path scratchConfigFolder() { return root() / "config"; }
std::filesystem::path scratchTempFolder() { return root() / "temp"; }
