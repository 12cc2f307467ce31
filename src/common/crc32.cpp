#include "common/crc32.h"

#include <array>

namespace {

using Tables = std::array<std::array<uint32_t, 256>, 8>;

constexpr Tables MakeTables() {
    Tables t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[0][i] = c;
    }
    for (int s = 1; s < 8; ++s)
        for (uint32_t i = 0; i < 256; ++i) t[s][i] = t[0][t[s - 1][i] & 0xFF] ^ (t[s - 1][i] >> 8);
    return t;
}

constexpr Tables kTables = MakeTables();

inline uint32_t Load32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

uint32_t CCrc32::UpdateBytewise(uint32_t value, const void* data, size_t length) {
    const auto* p = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < length; ++i) value = kTables[0][(value ^ p[i]) & 0xFF] ^ (value >> 8);
    return value;
}

uint32_t CCrc32::Update(const void* data, size_t length) {
    const auto* p = static_cast<const unsigned char*>(data);
    uint32_t v = m_value;
    for (; length >= 8; length -= 8, p += 8) {
        const uint32_t lo = Load32(p) ^ v;
        const uint32_t hi = Load32(p + 4);
        v = kTables[7][lo & 0xFF] ^ kTables[6][(lo >> 8) & 0xFF] ^ kTables[5][(lo >> 16) & 0xFF] ^
            kTables[4][lo >> 24] ^ kTables[3][hi & 0xFF] ^ kTables[2][(hi >> 8) & 0xFF] ^
            kTables[1][(hi >> 16) & 0xFF] ^ kTables[0][hi >> 24];
    }
    m_value = UpdateBytewise(v, p, length);
    return m_value;
}
