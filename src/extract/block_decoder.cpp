#include "extract/block_decoder.h"

#include <cstdint>

namespace {

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

// Never more words than the output array holds.
inline int WordsToWrite(const DecodeBlock& b) {
    return b.wordCount < 0 ? 0 : (b.wordCount > kMaxBlockWords ? kMaxBlockWords : b.wordCount);
}

}  // namespace

// Unread bits at the top of `bits`, `count` of them, ending where `next` begins;
// the bits below them are zero or the stream's own.
struct CBlockDecoder::BitCache {
    const uint8_t* next;
    uint64_t bits;
    int count;

    // Whole bytes go in below the unread bits, leaving at least 56 of them. Reads next[0..7].
    void Refill() {
        bits |= LoadBigEndian64(next) >> count;
        next += (63 - count) >> 3;
        count |= 56;
    }
    void Skip(int n) {
        bits <<= n;
        count -= n;
    }
    int64_t Position(const uint8_t* start) const { return 8 * (next - start) - count; }
};

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
    const int n = WordsToWrite(b);
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
    const int n = WordsToWrite(b);
    const int k = b.header & 0x0F;
    const uint8_t* const in = b.input;
    const uint8_t* const end = in + Available();
    uint16_t* const out = b.output;
    m_bytePos = 0;
    m_bitPos = 0;
    m_overrun = false;

    uint32_t x1 = uint32_t(m_prev1), x2 = uint32_t(m_prev2), x3 = uint32_t(m_prev3);
    int i = 0;
    auto emit = [&](uint32_t a) {
        const uint32_t w = UnfoldResidual(a) + Predict<kOrder>(x1, x2, x3);
        out[i++] = uint16_t(w);
        x3 = x2;
        x2 = x1;
        x1 = w;
    };
    // The top `length` bits of the cache are v << k | low; minus 1 << k that is (v - 1) << k | low.
    auto take = [k](BitCache& cache, int length) {
        const uint32_t a = uint32_t(cache.bits >> (64 - length)) - (1u << k);
        cache.Skip(length);
        return a;
    };
    // Zero bits before the first 1 of the cache, and the code's whole length; an empty
    // cache gives a length that never fits.
    auto codeLength = [k](const BitCache& cache) {
        return cache.bits ? 2 * __builtin_clzll(cache.bits) + 1 + k : 64;
    };

    while (i < n) {
        BitCache cache;
        if (kFast && StartCache(cache, end)) {
            // While eight bytes can be loaded: a refill leaves at least 56 bits, mostly
            // enough for three codes.
            const uint8_t* const lastLoad = end - 8;
            while (n - i >= 3 && cache.next <= lastLoad) {
                cache.Refill();
                int length = codeLength(cache);
                if (length > cache.count) break;
                emit(take(cache, length));
                length = codeLength(cache);
                if (length > cache.count) continue;
                emit(take(cache, length));
                length = codeLength(cache);
                if (length > cache.count) continue;
                emit(take(cache, length));
            }
            while (i < n && cache.next <= lastLoad) {
                cache.Refill();
                const int length = codeLength(cache);
                if (length > cache.count) break;
                emit(take(cache, length));
            }
            SetBitPosition(cache.Position(in));
            if (i == n) break;
        }
        // Near the end of the available bytes, or an overlong code.
        const uint32_t a = ReadCode(k);
        if (m_overrun) break;
        emit(a);
    }
    b.bytesUsed = m_bytePos + 1;
    m_prev1 = SignExtend16(x1);
    m_prev2 = SignExtend16(x2);
    m_prev3 = SignExtend16(x3);
}

// The careful reader's byte and bit from a count of bits read. The byte advance
// is lazy: a code that ends on a byte's last bit leaves the position on that byte.
void CBlockDecoder::SetBitPosition(int64_t bits) {
    m_bytePos = bits == 0 ? 0 : int32_t((bits - 1) >> 3);
    m_bitPos = int32_t(bits - 8 * int64_t(m_bytePos));
}

// Moves the cache to the careful reader's position, when eight bytes can be loaded there.
bool CBlockDecoder::StartCache(BitCache& cache, const uint8_t* end) const {
    const int64_t bits = 8 * int64_t(m_bytePos) + m_bitPos;
    if (end - m_block->input - (bits >> 3) < 8) return false;
    cache.next = m_block->input + (bits >> 3);
    cache.bits = 0;
    cache.count = 0;
    cache.Refill();
    cache.Skip(int(bits & 7));
    return true;
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
