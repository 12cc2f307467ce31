#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace pack {

constexpr size_t kBitWriterSlack = 8;

// Writes bits most significant first into a caller's buffer, without a branch
// per code: pending bits sit at the top of a 64-bit word, and every flush
// stores the whole word and moves on by the bytes it completed. The buffer
// must have room for every byte written plus kBitWriterSlack.
class BitWriter {
public:
    explicit BitWriter(uint8_t* out) : m_out(out) {}

    // Appends the low `bits` bits of value. Pending and new bits together may
    // not pass 64; a flush brings the pending ones below 8 again.
    void Put(uint64_t value, int bits) {
        m_acc |= value << (64 - m_count - bits);
        m_count += bits;
    }

    void Flush() {
        const uint64_t bigEndian = __builtin_bswap64(m_acc);
        std::memcpy(m_out, &bigEndian, sizeof bigEndian);
        const int bytes = m_count >> 3;
        m_out += bytes;
        m_acc <<= 8 * bytes;
        m_count &= 7;
    }

    // Writes what is pending, the last byte padded with zeros; returns the end.
    uint8_t* Finish() {
        Flush();
        return m_out + (m_count > 0 ? 1 : 0);
    }

private:
    uint8_t* m_out;
    uint64_t m_acc = 0;
    int m_count = 0;
};

}  // namespace pack
