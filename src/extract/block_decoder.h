#pragma once
#include <cstdint>

constexpr int kMaxBlockWords = 768;

// One coded block, filled by the engine and reused from block to block.
struct DecodeBlock {
    uint8_t header;        // k in bits 0-3, order in 4-5, zero-residual flag in 6
    int32_t wordCount;     // words the block produces, 0..768
    uint16_t* output;      // room for kMaxBlockWords words
    int32_t bytesUsed;     // set by Decode: payload bytes the block took
    const uint8_t* input;  // first payload byte, just after the header byte
    int32_t available;     // payload bytes that may be read from input; never read past
};

// Decodes the predictive blocks of one entry; the predictor history runs on
// from block to block until Reset.
class CBlockDecoder {
public:
    CBlockDecoder() { Reset(); }
    virtual ~CBlockDecoder() = default;

    void Reset();
    // Fills block.output and block.bytesUsed. A block whose codes run past
    // block.available reports bytesUsed > available.
    void Decode(DecodeBlock& block);

    // The careful bit-by-bit reader: the reference that the fast path must match.
    int32_t ReadResidual(int k);
    uint32_t ReadBits(int n);

private:
    // Tests compare the fast reader with the careful one through this door.
    friend struct BlockDecoderTestAccess;

    template <bool kFast> void DecodeWith(DecodeBlock& block);
    void DecodeZeroResidual(int order);
    template <int kOrder, bool kFast> void DecodeResiduals();
    struct BitCache;
    void SetBitPosition(int64_t bits);
    bool StartCache(BitCache& cache, const uint8_t* end) const;
    // One gamma code and its low bits, before the sign fold (modulo 2^32).
    uint32_t ReadCode(int k);
    int32_t Available() const;
    void MarkOverrun();

    DecodeBlock* m_block = nullptr;
    int32_t m_prev1, m_prev2, m_prev3;
    int32_t m_bytePos = 0;
    int32_t m_bitPos = 0;
    bool m_overrun = false;  // the current block wanted a byte at or past `available`
};
