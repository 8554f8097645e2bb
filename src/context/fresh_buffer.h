// Large working images are written once, soon after they are allocated; on
// systems that back memory with small pages on first touch, each touched page
// costs a fault. This asks for large pages where the platform offers them.
#pragma once

#include <cstddef>

#include "image/image_records.h"

// A hint only: nothing changes in the buffer and failures are ignored. Best
// given before the first write.
void preferLargePages(void* data, size_t bytes);

inline void preferLargePages(const ImageFloat& image) {
    if (image.data) preferLargePages(image.data, static_cast<size_t>(elementCount(image)) * sizeof(float));
}
