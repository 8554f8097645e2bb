// Points the configuration and temporary folders at a fresh scratch folder for
// the length of one test, and puts the environment back afterwards.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

class ScratchEnvironment : public ::testing::Test {
protected:
    static constexpr std::array<const char*, 5> variables = {"XDG_CONFIG_HOME", "TEMP", "TMP",
                                                             "TMPDIR", "HOME"};

    void SetUp() override {
        for (size_t i = 0; i < variables.size(); ++i) {
            const char* value = std::getenv(variables[i]);
            saved_[i] = value ? std::optional<std::string>(value) : std::nullopt;
        }
        std::string pattern = (std::filesystem::temp_directory_path() / "velmora-diag-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        std::filesystem::create_directories(config());
        std::filesystem::create_directories(temp());
        setenv("XDG_CONFIG_HOME", config().c_str(), 1);
        setenv("TEMP", temp().c_str(), 1);
        setenv("TMP", temp().c_str(), 1);
        setenv("TMPDIR", temp().c_str(), 1);
        setenv("HOME", (root_ / "home").c_str(), 1);
    }

    void TearDown() override {
        for (size_t i = 0; i < variables.size(); ++i) {
            if (saved_[i]) {
                setenv(variables[i], saved_[i]->c_str(), 1);
            } else {
                unsetenv(variables[i]);
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

    static void writeFile(const std::filesystem::path& path, const std::string& text) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << text;
    }

private:
    std::filesystem::path root_;
    std::array<std::optional<std::string>, variables.size()> saved_;
};
