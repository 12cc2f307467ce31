// The block decoder on raw bytes, block after block as the engine hands them
// over, each with a random count of available bytes in a buffer of exactly that
// size (so the sanitizer sees any read past it). The fast reader must agree
// with the careful bit-by-bit one in every word, byte count and history.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "extract/block_decoder.h"

struct BlockDecoderTestAccess {
    static void DecodeCarefully(CBlockDecoder& d, DecodeBlock& b) { d.DecodeWith<false>(b); }
    static bool SameHistory(const CBlockDecoder& a, const CBlockDecoder& b) {
        return a.m_prev1 == b.m_prev1 && a.m_prev2 == b.m_prev2 && a.m_prev3 == b.m_prev3;
    }
};

namespace {

// Picks the choices the input does not spell out; seeded from the input.
struct Choices {
    uint32_t x;
    uint32_t Next() {
        x = x * 1103515245u + 12345u;
        return x >> 8;
    }
};

[[noreturn]] void Disagree(const char* what, int block) {
    std::fprintf(stderr, "fast and careful decoders disagree on %s in block %d\n", what, block);
    std::abort();
}

}  // namespace

// Input: two bytes seeding the choices, then a stream of blocks (header byte, payload).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    Choices choices{uint32_t(data[0] | data[1] << 8)};
    const uint8_t* stream = data + 2;
    const size_t length = size - 2;

    CBlockDecoder fast, careful;
    uint16_t fastWords[kMaxBlockWords], carefulWords[kMaxBlockWords];
    size_t pos = 0;
    for (int blockIndex = 0; blockIndex < 300 && pos < length; ++blockIndex) {
        const uint8_t header = stream[pos++];
        const size_t left = length - pos;
        // Mostly everything that is left, sometimes a cut that may fall inside the block.
        const uint32_t pick = choices.Next();
        size_t available = left;
        if (pick % 4 == 1) available = left ? pick / 4 % (left + 1) : 0;
        if (pick % 16 == 2) available = 0;
        // Mostly whole blocks; sometimes a shorter last block or an empty filler block.
        const uint32_t wordPick = choices.Next();
        int wordCount = kMaxBlockWords;
        if (wordPick % 4 == 1) wordCount = int(wordPick / 4 % (kMaxBlockWords + 1));
        if (wordPick % 8 == 2) wordCount = 0;

        std::unique_ptr<uint8_t[]> input(new uint8_t[available ? available : 1]);
        if (available) std::memcpy(input.get(), stream + pos, available);

        DecodeBlock a{header, wordCount, fastWords, -1, input.get(), int32_t(available)};
        DecodeBlock b{header, wordCount, carefulWords, -1, input.get(), int32_t(available)};
        fast.Decode(a);
        BlockDecoderTestAccess::DecodeCarefully(careful, b);

        const bool overrun = a.bytesUsed > a.available;
        if (a.bytesUsed < 0) Disagree("a negative byte count", blockIndex);
        if (overrun != (b.bytesUsed > b.available)) Disagree("running past the available bytes", blockIndex);
        if (overrun) break;  // the engine stops here: "Unexpected end of file"
        if (a.bytesUsed != b.bytesUsed) Disagree("the bytes used", blockIndex);
        if (std::memcmp(fastWords, carefulWords, sizeof(uint16_t) * size_t(wordCount)) != 0)
            Disagree("the words", blockIndex);
        if (!BlockDecoderTestAccess::SameHistory(fast, careful)) Disagree("the history", blockIndex);
        pos += size_t(a.bytesUsed);
    }
    return 0;
}
