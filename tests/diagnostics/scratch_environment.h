// Points the configuration and temporary folders at a fresh scratch folder for
// the length of one test, and puts the environment back afterwards.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>

// Changes the process environment as the C runtime's getenv sees it.
inline void setVariable(const char* name, const std::string& value) {
#ifdef _WIN32
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

inline void unsetVariable(const char* name) {
#ifdef _WIN32
    _putenv_s(name, "");  // an empty value removes the variable
#else
    unsetenv(name);
#endif
}

class ScratchEnvironment : public ::testing::Test {
protected:
    static constexpr std::array<const char*, 5> variables = {"XDG_CONFIG_HOME", "TEMP", "TMP", "TMPDIR", "HOME"};

    void SetUp() override {
        for (size_t i = 0; i < variables.size(); ++i) {
            const char* value = std::getenv(variables[i]);
            saved_[i] = value ? std::optional<std::string>(value) : std::nullopt;
        }
        std::random_device random;
        do {
            root_ = std::filesystem::temp_directory_path() / ("velmora-diag-" + std::to_string(random()));
        } while (!std::filesystem::create_directory(root_));
        std::filesystem::create_directories(config());
        std::filesystem::create_directories(temp());
        setVariable("XDG_CONFIG_HOME", config().string());
        setVariable("TEMP", temp().string());
        setVariable("TMP", temp().string());
        setVariable("TMPDIR", temp().string());
        setVariable("HOME", (root_ / "home").string());
    }

    void TearDown() override {
        for (size_t i = 0; i < variables.size(); ++i) {
            if (saved_[i]) {
                setVariable(variables[i], *saved_[i]);
            } else {
                unsetVariable(variables[i]);
            }
        }
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    std::filesystem::path root() const { return root_; }
    std::filesystem::path config() const { return root_ / "config"; }
    std::filesystem::path temp() const { return root_ / "temp"; }

    static std::string readFile(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // Read in text mode: line ends come back as line feeds on every platform.
    static std::string readText(const std::filesystem::path& path) {
        std::ifstream in(path);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    static void writeFile(const std::filesystem::path& path, const std::string& text) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << text;
    }

private:
    std::filesystem::path root_;
    std::array<std::optional<std::string>, variables.size()> saved_;
};
