// The byte form of fuzzed arguments, read front to back. Every byte string is
// a valid input (missing bytes read as zero), and small values take few
// bytes, so that the mutator reaches both ordinary and extreme arguments.
// ByteWriter writes what ByteReader reads, for seeds and reproducers.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}

    bool empty() const { return p_ == end_; }

    uint8_t byte() { return p_ == end_ ? 0 : *p_++; }

    bool flag() { return byte() & 1; }

    // A mode byte, then 1, 1, 2 or 4 bytes: 0..255, -128..127, a 16-bit or a
    // 32-bit value, all little-endian and signed where stated.
    int32_t number() {
        switch (byte() & 3) {
            case 0: return byte();
            case 1: return static_cast<int8_t>(byte());
            case 2: return static_cast<int16_t>(raw(2));
            default: return static_cast<int32_t>(raw(4));
        }
    }

    // A mode byte: 0 takes a value from `common`, 1 reads raw float bits.
    float scale(const float* common, size_t count) {
        if ((byte() & 1) == 0) return common[byte() % count];
        const uint32_t bits = raw(4);
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }

    uint32_t raw(int bytes) {
        uint32_t v = 0;
        for (int i = 0; i < bytes; ++i) v |= static_cast<uint32_t>(byte()) << (8 * i);
        return v;
    }

private:
    const uint8_t* p_;
    const uint8_t* end_;
};

class ByteWriter {
public:
    const std::vector<uint8_t>& bytes() const { return out_; }

    void byte(uint8_t b) { out_.push_back(b); }
    void flag(bool b) { byte(b ? 1 : 0); }

    // The shortest form that reads back as `v`.
    void number(int32_t v) {
        if (v >= 0 && v <= 255) {
            byte(0);
            byte(static_cast<uint8_t>(v));
        } else if (v >= -128 && v <= 127) {
            byte(1);
            byte(static_cast<uint8_t>(static_cast<int8_t>(v)));
        } else if (v >= INT16_MIN && v <= INT16_MAX) {
            byte(2);
            raw(static_cast<uint16_t>(v), 2);
        } else {
            byte(3);
            raw(static_cast<uint32_t>(v), 4);
        }
    }

    // From `common` when it holds the value (bit for bit), else raw bits.
    void scale(float f, const float* common, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            if (std::memcmp(&common[i], &f, sizeof f) == 0) {
                byte(0);
                byte(static_cast<uint8_t>(i));
                return;
            }
        }
        byte(1);
        uint32_t bits;
        std::memcpy(&bits, &f, sizeof bits);
        raw(bits, 4);
    }

    void raw(uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) byte(static_cast<uint8_t>(v >> (8 * i)));
    }

private:
    std::vector<uint8_t> out_;
};
