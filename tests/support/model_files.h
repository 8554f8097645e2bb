// Locating and reading the generated models.
#pragma once

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

inline std::string modelPath(const std::string& name) { return std::string(VELMORA_TEST_MODELS) + "/" + name; }

inline std::vector<char> readModel(const std::string& name) {
    std::ifstream in(modelPath(name), std::ios::binary);
    if (!in) throw std::runtime_error("missing model " + modelPath(name));
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
