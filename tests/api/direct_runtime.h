// A model run straight through the runtime's C API, as a host would write it
// by hand, loaded from the library's folder: the references the tests
// compare the library with. Every failure throws std::runtime_error.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct OrtApi;
struct OrtEnv;
struct OrtSession;

class DirectRuntime {
public:
    // The model file, with the runtime's default session options.
    explicit DirectRuntime(const std::string& modelFile);
    ~DirectRuntime();
    DirectRuntime(const DirectRuntime&) = delete;
    DirectRuntime& operator=(const DirectRuntime&) = delete;

    struct Tensor {
        std::vector<int64_t> dims;
        std::vector<float> values;
    };
    // Output 0 of a run on one float input of `dims`; the model's ends must
    // be float.
    Tensor run(const std::vector<float>& input, const std::vector<int64_t>& dims);

private:
    void check(void* status) const;
    const OrtApi* api = nullptr;
    OrtEnv* env = nullptr;
    OrtSession* session = nullptr;
    std::vector<char> modelBytes;
};

// The runtime's API table, from the runtime beside the library.
const OrtApi* directRuntimeApi();
