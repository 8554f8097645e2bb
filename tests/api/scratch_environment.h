#pragma once

#include <filesystem>

// Where this process's settings and log file live (set before main).
std::filesystem::path scratchConfigFolder();
std::filesystem::path scratchTempFolder();
