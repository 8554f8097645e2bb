// Helpers for the settings tests: where the key file of a folder lies and what
// it holds.
#pragma once

#include "diagnostics/settings_file.h"
#include "diagnostics/settings_store.h"
#include "scratch_environment.h"

class SettingsStore : public ScratchEnvironment {
protected:
    std::filesystem::path keyFile(const std::string& folder = settingsFolder) const {
        return config() / "velmora" / settingsFileName(settingsKeyPath(folder));
    }

    // The values in the key file; fails the test when it is not well-formed.
    SettingsValues storedValues(const std::string& folder = settingsFolder) const {
        const auto values = decodeSettingsFile(readFile(keyFile(folder)));
        EXPECT_TRUE(values.has_value()) << "malformed " << keyFile(folder);
        return values.value_or(SettingsValues{});
    }
};
