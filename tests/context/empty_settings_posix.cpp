// Elsewhere than Windows the store is a file under XDG_CONFIG_HOME: point it
// at a scratch folder.
#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

#include "context/empty_settings.h"

struct EmptySettings::Saved {
    std::optional<std::string> configHome;
    std::filesystem::path scratch;
};

EmptySettings::EmptySettings() : saved_(std::make_unique<Saved>()) {
    if (const char* value = getenv("XDG_CONFIG_HOME")) saved_->configHome = value;
    std::string pattern = (std::filesystem::temp_directory_path() / "velmora-settings-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a scratch folder");
    saved_->scratch = pattern;
    setenv("XDG_CONFIG_HOME", pattern.c_str(), 1);
}

EmptySettings::~EmptySettings() {
    if (saved_->configHome)
        setenv("XDG_CONFIG_HOME", saved_->configHome->c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
    std::error_code ignored;
    std::filesystem::remove_all(saved_->scratch, ignored);
}
