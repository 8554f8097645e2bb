// Thin helpers over the runtime's C API table: failures become Ort::Exception,
// and new handles go straight into their owners (backend/ort_owners.h).
#pragma once

#include <onnxruntime_cxx_api.h>

#include "backend/ort_owners.h"
#include "backend/runtime_loader.h"

inline void throwOnError(OrtStatus* status) {
    if (!status) return;
    std::string message = ortApi->GetErrorMessage(status);
    const OrtErrorCode code = ortApi->GetErrorCode(status);
    ortApi->ReleaseStatus(status);
    throw Ort::Exception(std::move(message), code);
}

// For calls whose failure changes nothing for the caller.
inline void ignoreError(OrtStatus* status) {
    if (status) ortApi->ReleaseStatus(status);
}

// Lets a runtime call write a new handle straight into an owner, as
// std::out_ptr does: throwOnError(ortApi->CreateX(..., out(owner))). The owner
// takes the handle at the end of the full expression, releasing what it held;
// a call that made nothing leaves the owner as it was.
template <typename Owner>
class OutParameter {
public:
    explicit OutParameter(Owner& owner) : owner_(owner) {}
    ~OutParameter() {
        if (raw_) owner_.reset(raw_);
    }
    OutParameter(const OutParameter&) = delete;
    OutParameter& operator=(const OutParameter&) = delete;
    operator typename Owner::pointer *() { return &raw_; }

private:
    Owner& owner_;
    typename Owner::pointer raw_ = nullptr;
};

template <typename Owner>
OutParameter<Owner> out(Owner& owner) {
    return OutParameter<Owner>(owner);
}
