// The model file as the command hands it to the library, and what the command
// learns from it beforehand: the library loads models from bytes and does not
// tell a host the shapes, so the command reads the graph's inputs and outputs
// itself to choose the tile size and to refuse a model that cannot fit.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

struct TensorDescription {
    std::string name;
    int32_t elementType = 0;    // ONNX code: 1 is 32-bit float
    std::vector<int64_t> dims;  // -1 for a dimension the model leaves open
};

struct ModelDescription {
    std::string producer;
    int64_t irVersion = 0;
    std::vector<TensorDescription> inputs;  // graph inputs that are not initializers
    std::vector<TensorDescription> outputs;
};

// Reads the file whole (the library keeps borrowing the bytes while the model
// is loaded); throws for a missing or unreadable file or one over 4 GiB.
std::vector<char> readModelFile(const std::filesystem::path& path);

// Walks the ONNX protobuf for the graph's inputs and outputs. Throws with a
// short reason when the bytes are not an ONNX model.
ModelDescription describeModel(const std::vector<char>& bytes);

// "1x128x128x3", with "?" for open dimensions.
std::string shapeText(const std::vector<int64_t>& dims);
