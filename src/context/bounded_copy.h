// Texts handed to hosts are written with a zero-filling bounded copy: the
// text's bytes, then zeros up to the limit; a text of `limit` bytes or more is
// cut at exactly `limit` bytes with no terminating zero.
#pragma once

#include <cstring>
#include <string>

inline void copyTextBounded(char* destination, const std::string& text, size_t limit) {
    const size_t n = text.size() < limit ? text.size() : limit;
    std::memcpy(destination, text.data(), n);
    if (n < limit) std::memset(destination + n, 0, limit - n);
}
