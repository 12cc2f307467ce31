#include "pack/crc_combine.h"

#include <array>

#include "common/crc32.h"

namespace pack {
namespace {

// A linear map of 32-bit registers, as the images of the 32 unit vectors.
using Operator = std::array<uint32_t, 32>;

uint32_t Apply(const Operator& op, uint32_t v) {
    uint32_t out = 0;
    for (int i = 0; v; ++i, v >>= 1)
        if (v & 1) out ^= op[size_t(i)];
    return out;
}

// The register's step over 2^i zero bytes, for every i.
const std::array<Operator, 64>& ZeroPowers() {
    static const std::array<Operator, 64> powers = [] {
        std::array<Operator, 64> p{};
        const uint8_t zero = 0;
        for (int bit = 0; bit < 32; ++bit) p[0][size_t(bit)] = CCrc32::UpdateBytewise(1u << bit, &zero, 1);
        for (size_t i = 1; i < p.size(); ++i)
            for (size_t bit = 0; bit < 32; ++bit) p[i][bit] = Apply(p[i - 1], p[i - 1][bit]);
        return p;
    }();
    return powers;
}

}  // namespace

uint32_t CrcAfterZeros(uint32_t value, uint64_t length) {
    const auto& powers = ZeroPowers();
    for (size_t i = 0; length; ++i, length >>= 1)
        if (length & 1) value = Apply(powers[i], value);
    return value;
}

uint32_t CrcConcat(uint32_t valueA, uint32_t valueB, uint64_t lengthB) {
    // B's own value began at the start value instead of at A's: the
    // difference between the two starts, carried through B, is all that differs.
    CCrc32 start;
    return CrcAfterZeros(valueA ^ start.Value(), lengthB) ^ valueB;
}

uint32_t CrcOfChange(const uint8_t* delta, uint64_t length, uint64_t after) {
    return CrcAfterZeros(CCrc32::UpdateBytewise(0, delta, size_t(length)), after);
}

}  // namespace pack
