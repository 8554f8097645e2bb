// The plug-in's hold on a library context with one model loaded, shared by
// the C++ units that call the library.
#pragma once

#include <exception>
#include <string>

#include "failure.h"
#include "velmora.hpp"

struct VgLoadedModel {
    velmora::Context context;
    bool profileChosen = false;  // the sidecar looked for, once per load
    std::string mean, std;       // the user's normalisation in effect ("": the model's)
};

namespace vg {

// Reports what escaped the library as an exception; false.
template <typename Step>
bool guarded(VgFailure* failure, Step step) {
    try {
        return step();
    } catch (const std::exception& e) {
        vgFail(failure, "the library failed: %s", e.what());
    } catch (...) {
        vgFail(failure, "the library failed with an unexpected exception");
    }
    return false;
}

inline bool failed(VgFailure* failure, const velmora::Error& error) {
    return vgFail(failure, "%s", error.words.c_str());
}

}  // namespace vg
