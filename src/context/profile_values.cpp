// The profile in effect as the pipelines apply it to values.
#include "context/VelmoraClass.h"
#include "context/profile_transforms.h"

ValueTransform VelmoraClass::profileInput(int32_t) const {
    const InputTransform in(profile());
    if (in.identity()) return {};
    return {[in](float* pixels, int64_t count, int32_t channels) { in.applyInput(pixels, count, channels, pixels); }};
}

ValueTransform VelmoraClass::profileOutput(int32_t) const {
    const OutputTransform out(profile());
    if (out.identity()) return {};
    return {[out](float* pixels, int64_t count, int32_t channels) { out.applyOutput(pixels, count, channels); }};
}
