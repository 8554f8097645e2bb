#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

#include "context/fresh_buffer.h"

TEST(FreshBuffer, LargePageAdviceKeepsTheContents) {
    // Several huge pages' worth, not aligned to one, already written: the
    // advice must never discard or move what is there.
    std::vector<float> buffer((size_t{9} << 20) / sizeof(float) + 13);
    for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<float>(i % 4099);
    preferLargePages(buffer.data() + 1, (buffer.size() - 1) * sizeof(float));
    preferLargePages(buffer.data(), 3);
    preferLargePages(ImageFloat{0, 0, 0, nullptr});
    for (size_t i = 0; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], static_cast<float>(i % 4099)) << i;
}
