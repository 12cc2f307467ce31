#include "extract/block_decoder.h"

#include <cstdint>

namespace {

// Codes longer than this are left to the careful reader: a window loaded at any
// bit offset holds at least 57 unread bits.
constexpr int kFastCodeBits = 57;

// Eight payload bytes as one value, first byte on top, so that the value's bit
// order is the stream's (most significant first). Compilers fuse this into a
// single load.
inline uint64_t LoadBigEndian64(const uint8_t* p) {
    return uint64_t(p[0]) << 56 | uint64_t(p[1]) << 48 | uint64_t(p[2]) << 40 | uint64_t(p[3]) << 32 |
           uint64_t(p[4]) << 24 | uint64_t(p[5]) << 16 | uint64_t(p[6]) << 8 | uint64_t(p[7]);
}

// Even codes are a/2, odd codes -(a-1)/2, so 1 is a second code for zero.
inline uint32_t UnfoldResidual(uint32_t a) {
    const uint32_t half = a >> 1;
    const uint32_t negate = 0u - (a & 1u);
    return (half ^ negate) - negate;
}

// Predictions modulo 2^32 from raw words; only the low 16 bits of the sum are kept,
// which depend on the low 16 bits of the history alone.
template <int kOrder>
inline uint32_t Predict(uint32_t x1, uint32_t x2, uint32_t x3) {
    if (kOrder == 0) return 0;
    if (kOrder == 1) return x1;
    if (kOrder == 2) return 2 * x1 - x2;
    return 3 * x1 - 3 * x2 + x3;
}

inline int32_t SignExtend16(uint32_t word) { return int16_t(uint16_t(word)); }

}  // namespace

void CBlockDecoder::Reset() {
    m_prev1 = m_prev2 = m_prev3 = 0;
}

void CBlockDecoder::Decode(DecodeBlock& block) { DecodeWith<true>(block); }

template <bool kFast>
void CBlockDecoder::DecodeWith(DecodeBlock& block) {
    m_block = &block;
    const int order = (block.header >> 4) & 3;
    if (block.header & 0x40) {
        DecodeZeroResidual(order);
        return;
    }
    switch (order) {
        case 0: DecodeResiduals<0, kFast>(); break;
        case 1: DecodeResiduals<1, kFast>(); break;
        case 2: DecodeResiduals<2, kFast>(); break;
        default: DecodeResiduals<3, kFast>(); break;
    }
}

// Every word is its prediction; no payload and the bit position stays as it is.
void CBlockDecoder::DecodeZeroResidual(int order) {
    DecodeBlock& b = *m_block;
    const int n = b.wordCount < 0 ? 0 : (b.wordCount > kMaxBlockWords ? kMaxBlockWords : b.wordCount);
    b.bytesUsed = 0;
    if (order == 0 || order == 1) {
        // Constant blocks leave a constant history, however short they are.
        const uint32_t value = order == 0 ? 0u : uint32_t(m_prev1);
        for (int i = 0; i < n; ++i) b.output[i] = uint16_t(value);
        m_prev1 = m_prev2 = m_prev3 = SignExtend16(value);
        return;
    }
    uint32_t x1 = uint32_t(m_prev1), x2 = uint32_t(m_prev2), x3 = uint32_t(m_prev3);
    for (int i = 0; i < n; ++i) {
        const uint32_t w = order == 2 ? Predict<2>(x1, x2, x3) : Predict<3>(x1, x2, x3);
        b.output[i] = uint16_t(w);
        x3 = x2;
        x2 = x1;
        x1 = w;
    }
    m_prev1 = SignExtend16(x1);
    m_prev2 = SignExtend16(x2);
    m_prev3 = SignExtend16(x3);
}

template <int kOrder, bool kFast>
void CBlockDecoder::DecodeResiduals() {
    DecodeBlock& b = *m_block;
    const int n = b.wordCount < 0 ? 0 : (b.wordCount > kMaxBlockWords ? kMaxBlockWords : b.wordCount);
    const int k = b.header & 0x0F;
    const uint8_t* const in = b.input;
    const int64_t available = Available();
    uint16_t* const out = b.output;
    m_bytePos = 0;
    m_bitPos = 0;
    m_overrun = false;

    uint32_t x1 = uint32_t(m_prev1), x2 = uint32_t(m_prev2), x3 = uint32_t(m_prev3);
    int64_t pos = 0;  // bits read so far; the careful reader's position is derived from it
    for (int i = 0; i < n; ++i) {
        uint32_t a;
        uint64_t window = 0;
        int length = kFastCodeBits + 1;
        if (kFast && (pos >> 3) + 8 <= available) {
            window = LoadBigEndian64(in + (pos >> 3)) << (pos & 7);
            length = 2 * __builtin_clzll(window | 1) + 1 + k;
        }
        if (length <= kFastCodeBits) {
            // The top `length` bits are v << k | low; subtracting 1 << k gives (v - 1) << k | low.
            a = uint32_t(window >> (64 - length)) - (1u << k);
            pos += length;
        } else {
            // Near the end of the available bytes, or an overlong code.
            m_bytePos = pos == 0 ? 0 : int32_t((pos - 1) >> 3);
            m_bitPos = int32_t(pos - 8 * int64_t(m_bytePos));
            a = ReadCode(k);
            if (m_overrun) break;
            pos = 8 * int64_t(m_bytePos) + m_bitPos;
        }
        const uint32_t w = UnfoldResidual(a) + Predict<kOrder>(x1, x2, x3);
        out[i] = uint16_t(w);
        x3 = x2;
        x2 = x1;
        x1 = w;
    }
    if (!m_overrun) {
        // The byte advance is lazy: a code ending on a byte's last bit leaves the position on that byte.
        m_bytePos = pos == 0 ? 0 : int32_t((pos - 1) >> 3);
        m_bitPos = int32_t(pos - 8 * int64_t(m_bytePos));
    }
    b.bytesUsed = m_bytePos + 1;
    m_prev1 = SignExtend16(x1);
    m_prev2 = SignExtend16(x2);
    m_prev3 = SignExtend16(x3);
}

int32_t CBlockDecoder::Available() const {
    if (!m_block || m_block->available < 0) return 0;
    // One below the largest count, so that bytesUsed = available + 1 still fits.
    return m_block->available < INT32_MAX ? m_block->available : INT32_MAX - 1;
}

// The block needs a byte it was not given: report one more byte than there is.
void CBlockDecoder::MarkOverrun() {
    m_overrun = true;
    m_bytePos = Available();
    m_bitPos = 8;
}

uint32_t CBlockDecoder::ReadBits(int n) {
    uint32_t result = 0;
    while (n > 0 && !m_overrun) {
        if (m_bitPos >= 8) {
            ++m_bytePos;
            m_bitPos = 0;
        }
        if (m_bytePos >= Available()) {
            MarkOverrun();
            return 0;
        }
        const int unread = 8 - m_bitPos;
        const int take = n < unread ? n : unread;
        const uint32_t byte = m_block->input[m_bytePos];
        // Bits beyond 32 fall off the top: the words only depend on the low bits.
        result = (result << take) | ((byte >> (unread - take)) & ((1u << take) - 1));
        m_bitPos += take;
        n -= take;
    }
    return result;
}

uint32_t CBlockDecoder::ReadCode(int k) {
    int64_t zeros = 0;
    for (;;) {
        const uint32_t bit = ReadBits(1);
        if (m_overrun) return 0;
        if (bit) break;
        ++zeros;
    }
    // v = 2^zeros | the next `zeros` bits, kept modulo 2^32; read in pieces since
    // a damaged stream may hold a run far longer than any shift.
    uint32_t v = 1;
    for (int64_t left = zeros; left > 0 && !m_overrun;) {
        const int piece = left > 16 ? 16 : int(left);
        v = (v << piece) | ReadBits(piece);
        left -= piece;
    }
    uint32_t a = v - 1;
    if (k > 0) a = (a << k) | ReadBits(k);
    return m_overrun ? 0 : a;
}

int32_t CBlockDecoder::ReadResidual(int k) { return int32_t(UnfoldResidual(ReadCode(k))); }

template void CBlockDecoder::DecodeWith<false>(DecodeBlock&);
