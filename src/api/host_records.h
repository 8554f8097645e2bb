// Records a host allocates for the velmora* exports: each starts with its
// `size`, the host's sizeof of it, so that a record can grow at its end. The
// library reads and writes only what both sides know of, and clears the rest
// of a record it fills.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

// Whether a host's record is there and at least as large as `firstSize`,
// the size of its first version.
template <typename Record>
bool hostRecordFits(const Record* record, size_t firstSize) {
    return record && record->size >= firstSize;
}

inline std::string recordSizeWords(const char* record, uint32_t size) {
    return std::string("the ") + record + " record's size (" + std::to_string(size) +
           ") is smaller than any version of it; set it to sizeof(" + record + ")";
}

// The host's request as this library knows it: what the host gave, zero
// past it.
template <typename Record>
Record takeRecord(const Record& given) {
    Record r{};
    std::memcpy(&r, &given, std::min<size_t>(given.size, sizeof(Record)));
    r.size = sizeof(Record);
    return r;
}

// Writes `filled` into the host's record: the fields both know of, zero past
// them, and the host's size kept.
template <typename Record>
void giveRecord(Record filled, Record* host) {
    const uint32_t hostSize = host->size;
    filled.size = hostSize;
    const size_t known = std::min<size_t>(hostSize, sizeof(Record));
    std::memcpy(host, &filled, known);
    if (hostSize > known) std::memset(reinterpret_cast<char*>(host) + known, 0, hostSize - known);
}

// A text into a fixed field: cut to fit, always zero-terminated.
template <size_t N>
void copyTextField(char (&field)[N], const std::string& text) {
    const size_t n = std::min(text.size(), N - 1);
    std::memcpy(field, text.data(), n);
    std::memset(field + n, 0, N - n);
}
