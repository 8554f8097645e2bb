// A loaded model's inputs and outputs as it declares them: the one account of
// the model that the tiled runs plan from and that hosts are given.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TensorDescription {
    std::string name;
    int32_t elementType = 1;        // the runtime's code (1: 32-bit float)
    std::vector<int64_t> declared;  // -1 where the model leaves a dimension open
};

struct ModelDescription {
    // False for a backend that says nothing of its model (or has none): tiles
    // then go to it as interleaved floats and its results are read so.
    bool known = false;
    std::vector<TensorDescription> inputs;
    std::vector<TensorDescription> outputs;
    int32_t inputLayout = 1;  // the codes given at loading
    int32_t outputLayout = 1;
};
