// Points the temporary folder of the whole test process at a fresh scratch
// folder before any test runs, and keeps the user's settings key aside while
// the tests run: they start without one and leave the original in place.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "api/scratch_environment.h"
#include "support/registry_key.h"

namespace {

std::filesystem::path makeScratch() {
    const std::filesystem::path root =
        std::filesystem::temp_directory_path() / ("velmora-api-" + std::to_string(GetCurrentProcessId()));
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root / "config");
    std::filesystem::create_directories(root / "temp");
    // Through the C runtime, so that the library's getenv sees it too.
    _putenv_s("TEMP", (root / "temp").string().c_str());
    return root;
}

const std::filesystem::path& root() {
    static const std::filesystem::path path = makeScratch();
    return path;
}

[[maybe_unused]] const bool prepared = !root().empty();

class ScratchSettings : public testing::Environment {
public:
    void SetUp() override { saved = std::make_unique<SavedRegistryKey>(); }
    void TearDown() override {
        saved.reset();
        std::error_code ec;
        std::filesystem::remove_all(root(), ec);
    }

private:
    std::unique_ptr<SavedRegistryKey> saved;
};
[[maybe_unused]] testing::Environment* const scratch = testing::AddGlobalTestEnvironment(new ScratchSettings);

}  // namespace

std::filesystem::path scratchConfigFolder() { return root() / "config"; }
std::filesystem::path scratchTempFolder() { return root() / "temp"; }
