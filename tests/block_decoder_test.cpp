#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "extract/block_decoder.h"
#include "pack/encoder.h"

using History = std::array<int32_t, 3>;  // prev1, prev2, prev3

// Reaches the decoder's careful path and its state.
struct BlockDecoderTestAccess {
    static void DecodeCarefully(CBlockDecoder& d, DecodeBlock& b) { d.DecodeWith<false>(b); }
    static History GetHistory(const CBlockDecoder& d) { return {d.m_prev1, d.m_prev2, d.m_prev3}; }
    static void SetHistory(CBlockDecoder& d, const History& h) {
        d.m_prev1 = h[0];
        d.m_prev2 = h[1];
        d.m_prev3 = h[2];
    }
    static std::pair<int32_t, int32_t> BitPosition(const CBlockDecoder& d) { return {d.m_bytePos, d.m_bitPos}; }
};
using Access = BlockDecoderTestAccess;

namespace {

constexpr uint16_t kUntouched = 0xA5A5;

// "1 011 00100" -> bytes, most significant bit first, the last byte padded with zeros.
std::vector<uint8_t> FromBits(const std::string& bits) {
    std::vector<uint8_t> out;
    int count = 0;
    for (char c : bits) {
        if (c != '0' && c != '1') continue;
        if (count % 8 == 0) out.push_back(0);
        if (c == '1') out.back() |= uint8_t(0x80 >> (count % 8));
        ++count;
    }
    return out;
}

// A block whose payload and output live in heap buffers of exactly their length,
// so that the sanitizer build catches any access beyond them.
class HeapBlock {
public:
    HeapBlock(uint8_t header, int wordCount, const std::vector<uint8_t>& payload)
        : m_payload(new uint8_t[payload.size()]), m_words(new uint16_t[size_t(wordCount)]), m_count(wordCount) {
        std::copy(payload.begin(), payload.end(), m_payload.get());
        std::fill(m_words.get(), m_words.get() + wordCount, kUntouched);
        block.header = header;
        block.wordCount = wordCount;
        block.output = m_words.get();
        block.bytesUsed = -1;
        block.input = m_payload.get();
        block.available = int32_t(payload.size());
    }
    std::vector<uint16_t> Words() const { return {m_words.get(), m_words.get() + m_count}; }

    DecodeBlock block{};

private:
    std::unique_ptr<uint8_t[]> m_payload;
    std::unique_ptr<uint16_t[]> m_words;
    int m_count;
};

struct Outcome {
    std::vector<uint16_t> words;
    int32_t bytesUsed;
    History history;
    std::pair<int32_t, int32_t> bitPosition;
};

Outcome DecodeOne(const History& before, uint8_t header, int wordCount, const std::vector<uint8_t>& payload,
            bool careful) {
    CBlockDecoder decoder;
    Access::SetHistory(decoder, before);
    HeapBlock hb(header, wordCount, payload);
    if (careful) {
        Access::DecodeCarefully(decoder, hb.block);
    } else {
        decoder.Decode(hb.block);
    }
    return {hb.Words(), hb.block.bytesUsed, Access::GetHistory(decoder), Access::BitPosition(decoder)};
}

std::vector<uint16_t> Repeat(uint16_t word, int n) { return std::vector<uint16_t>(size_t(n), word); }

TEST(BlockDecoder, BitExactVectors) {
    struct Case {
        const char* name;
        History before;
        uint8_t header;
        int wordCount;
        std::vector<uint8_t> payload;
        std::vector<uint16_t> words;
        int32_t bytesUsed;
        History after;
    };
    const Case cases[] = {
        {"three codes over two bytes", {0, 0, 0}, 0x00, 3, {0xB2, 0x00}, {0x0000, 0x0001, 0xFFFF}, 2, {-1, 1, 0}},
        {"bit 7 is ignored", {0, 0, 0}, 0x80, 3, {0xB2, 0x00}, {0x0000, 0x0001, 0xFFFF}, 2, {-1, 1, 0}},
        {"k = 2 gives residual 5", {0, 0, 0}, 0x02, 1, FromBits("01110"), {0x0005}, 1, {5, 0, 0}},
        {"code ends on a byte's last bit; the next byte is not counted", {0, 0, 0}, 0x00, 2,
         {0x3B, 0xFF}, {0x0003, 0x0001}, 1, {1, 3, 0}},
        {"the read after a full byte moves on to the next byte", {0, 0, 0}, 0x00, 3, {0x3B, 0x80},
         {0x0003, 0x0001, 0x0000}, 2, {0, 1, 3}},
        {"gamma tail across two byte boundaries", {0, 0, 0}, 0x00, 2, FromBits("1 000000000 1 000000001"),
         {0x0000, 0x0100}, 3, {256, 0, 0}},
        {"low bits across two byte boundaries", {0, 0, 0}, 0x0F, 2,
         FromBits("01 1 000000000000001  1 111111111111110"), {0x8000, 0x3FFF}, 5, {0x3FFF, -32768, 0}},
        {"zero-residual block of 768 words", {5, 6, 7}, 0x40, 768, {}, Repeat(0, 768), 0, {0, 0, 0}},
        {"zero-residual bits 0-3 ignored", {5, 6, 7}, 0x4F, 4, {}, Repeat(0, 4), 0, {0, 0, 0}},
        {"zero-residual order 1 repeats the last word", {0x1234, 9, 8}, 0x50, 768, {}, Repeat(0x1234, 768), 0,
         {0x1234, 0x1234, 0x1234}},
        {"zero-residual order 0 of no words clears the history", {5, 6, 7}, 0x40, 0, {}, {}, 0, {0, 0, 0}},
        {"zero-residual order 1 of no words repeats x1", {-2, 6, 7}, 0x50, 0, {}, {}, 0, {-2, -2, -2}},
        {"order 2 wraps at 0x7FFF / 0x8000", {0x7FFF, -32768, 0}, 0x20, 1, FromBits("1"), {0x7FFE}, 1,
         {0x7FFE, 0x7FFF, -32768}},
        {"zero-residual order 2 wraps likewise", {0x7FFF, -32768, 0}, 0x60, 1, {}, {0x7FFE}, 0,
         {0x7FFE, 0x7FFF, -32768}},
        {"zero-residual order 3 extrapolates", {10, 7, 3}, 0x70, 3, {}, {12, 13, 13}, 0, {13, 13, 12}},
        {"residual block of no words takes one byte", {5, 6, 7}, 0x00, 0, {0xFF}, {}, 1, {5, 6, 7}},
        {"k = 0 and all codes '1': words are the predictions", {10, 7, 3}, 0x30, 4, {0xF0}, {12, 13, 13, 12},
         1, {12, 13, 13}},
        {"order 1 sums modulo 2^16", {-1, 0, 0}, 0x10, 2, FromBits("011 011"), {0x0000, 0x0001}, 1,
         {1, 0, -1}},
    };
    for (const Case& c : cases) {
        for (bool careful : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (careful ? " (careful reader)" : " (fast reader)"));
            const Outcome o = DecodeOne(c.before, c.header, c.wordCount, c.payload, careful);
            EXPECT_EQ(o.words, c.words);
            EXPECT_EQ(o.bytesUsed, c.bytesUsed);
            EXPECT_EQ(o.history, c.after);
        }
    }
}

TEST(BlockDecoder, CarefulReaderReadsMostSignificantBitFirstWithLazyAdvance) {
    CBlockDecoder decoder;
    HeapBlock hb(0x00, 0, {0xAB, 0xCD, 0x74});
    decoder.Decode(hb.block);  // sets the block and the position, reads nothing
    EXPECT_EQ(decoder.ReadBits(4), 0xAu);
    EXPECT_EQ(decoder.ReadBits(4), 0xBu);
    EXPECT_EQ(Access::BitPosition(decoder), std::make_pair(0, 8));  // the byte is used up, not left
    EXPECT_EQ(decoder.ReadBits(12), 0xCD7u);
    EXPECT_EQ(Access::BitPosition(decoder), std::make_pair(2, 4));
    EXPECT_EQ(decoder.ReadResidual(1), 1);  // "010" then low bit "0": a = 1 << 1 = 2, r = 1
    EXPECT_EQ(Access::BitPosition(decoder), std::make_pair(2, 8));
}

TEST(BlockDecoder, ZeroResidualBlockLeavesTheBitPosition) {
    CBlockDecoder decoder;
    HeapBlock coded(0x00, 3, {0xB2, 0x00});
    decoder.Decode(coded.block);
    const auto position = Access::BitPosition(decoder);
    HeapBlock zero(0x60, 5, {});
    decoder.Decode(zero.block);
    EXPECT_EQ(Access::BitPosition(decoder), position);
}

TEST(BlockDecoder, HistoryRunsAcrossBlocksUntilReset) {
    CBlockDecoder decoder;
    HeapBlock first(0x10, 2, FromBits("00101 00101"));  // order 1: +2, +2
    decoder.Decode(first.block);
    HeapBlock second(0x50, 2, {});
    decoder.Decode(second.block);
    EXPECT_EQ(second.Words(), (std::vector<uint16_t>{4, 4}));
    decoder.Reset();
    HeapBlock third(0x50, 2, {});
    decoder.Decode(third.block);
    EXPECT_EQ(third.Words(), (std::vector<uint16_t>{0, 0}));
}

// Blocks of one and two words slide the history on from the block before; the
// output array has exactly their length, so nothing beyond it is read.
TEST(BlockDecoder, ShortBlocksKeepToTheirOutput) {
    struct Case { uint8_t header; int wordCount; std::vector<uint8_t> payload; History after; };
    const Case cases[] = {
        {0x00, 1, FromBits("011"), {1, 10, 20}},
        {0x10, 2, FromBits("011 1"), {11, 11, 10}},
        {0x60, 1, {}, {0, 10, 20}},     // 2*10 - 20
        {0x70, 2, {}, {-10, 0, 10}},    // 30 - 60 + 30, then 0 - 30 + 20
    };
    for (const Case& c : cases) {
        for (bool careful : {false, true}) {
            SCOPED_TRACE(testing::Message() << "header " << int(c.header) << (careful ? " careful" : " fast"));
            const Outcome o = DecodeOne({10, 20, 30}, c.header, c.wordCount, c.payload, careful);
            EXPECT_EQ(o.history, c.after);
        }
    }
}

// Every count short of what the codes need reports more bytes than were given;
// the payload buffer ends at the count, so an over-read would trip the sanitizer.
TEST(BlockDecoder, TruncatedPayloadReportsMoreThanAvailable) {
    std::mt19937 rng(3);
    for (int order = 0; order < 4; ++order) {
        std::vector<uint16_t> words(768);
        uint16_t w = 0;
        for (auto& x : words) x = w += uint16_t(int(rng() % 201) - 100);
        pack::BlockHistory history;
        pack::Bytes coded;
        pack::EncodeOptions options;
        options.order = order;
        pack::EncodeBlock(words.data(), int(words.size()), history, options, coded);
        const uint8_t header = coded[0];
        const std::vector<uint8_t> payload(coded.begin() + 1, coded.end());
        for (size_t available = 0; available <= payload.size(); ++available) {
            SCOPED_TRACE(testing::Message() << "order " << order << " available " << available);
            const std::vector<uint8_t> cut(payload.begin(), payload.begin() + std::ptrdiff_t(available));
            for (bool careful : {false, true}) {
                const Outcome o = DecodeOne({0, 0, 0}, header, 768, cut, careful);
                if (available < payload.size()) {
                    ASSERT_EQ(o.bytesUsed, int32_t(available) + 1);
                } else {
                    ASSERT_EQ(o.bytesUsed, int32_t(payload.size()));
                    ASSERT_EQ(o.words, words);
                }
            }
        }
    }
}

// A run of zero bits never ends inside the payload: the decoder stops at its end.
TEST(BlockDecoder, EndlessZeroRunStopsAtTheAvailableBytes) {
    for (size_t length : {0, 1, 7, 8, 9, 64, 200}) {
        for (uint8_t header : {0x00, 0x0F, 0x35}) {
            for (bool careful : {false, true}) {
                SCOPED_TRACE(testing::Message() << "length " << length << " header " << int(header));
                const Outcome o = DecodeOne({0, 0, 0}, header, 768, std::vector<uint8_t>(length, 0), careful);
                EXPECT_EQ(o.bytesUsed, int32_t(length) + 1);
            }
        }
    }
}

// A run so long that it overflows any shift, with its 1 and tail inside the payload.
TEST(BlockDecoder, OverlongCodesAgreeBetweenReaders) {
    for (int zeros : {31, 32, 33, 40, 64, 100, 300}) {
        std::string bits(size_t(zeros), '0');
        bits += '1';
        for (int i = 0; i < zeros + 15; ++i) bits += (i % 3 == 0) ? '1' : '0';
        bits += "1 1 011";  // three ordinary codes after it
        std::vector<uint8_t> payload = FromBits(bits);
        payload.resize(payload.size() + 10, 0x55);
        for (uint8_t header : {0x00, 0x1F}) {
            SCOPED_TRACE(testing::Message() << "zeros " << zeros << " header " << int(header));
            const Outcome fast = DecodeOne({1, 2, 3}, header, 4, payload, false);
            const Outcome careful = DecodeOne({1, 2, 3}, header, 4, payload, true);
            EXPECT_EQ(fast.words, careful.words);
            EXPECT_EQ(fast.bytesUsed, careful.bytesUsed);
            EXPECT_EQ(fast.history, careful.history);
            EXPECT_LE(fast.bytesUsed, int32_t(payload.size()));
        }
    }
}

// Byte strings the fast reader must read exactly as the careful one: noise,
// long zero runs, and real blocks cut at random points.
std::vector<uint8_t> RandomPayload(std::mt19937& rng) {
    std::vector<uint8_t> bytes(rng() % 3000);
    switch (rng() % 4) {
        case 0:
            for (auto& b : bytes) b = uint8_t(rng());
            break;
        case 1:  // sparse ones: long zero runs
            for (auto& b : bytes) b = (rng() % 16 == 0) ? uint8_t(1u << (rng() % 8)) : 0;
            break;
        case 2:
            for (auto& b : bytes) b = (rng() % 2) ? 0xFF : uint8_t(rng());
            break;
        default: {  // an encoded block of a random walk
            std::vector<uint16_t> words(768);
            uint16_t w = uint16_t(rng());
            const int step = 1 << (rng() % 15);
            for (auto& x : words) x = w += uint16_t(int(rng() % uint32_t(2 * step + 1)) - step);
            pack::BlockHistory history;
            pack::Bytes coded;
            pack::EncodeBlock(words.data(), 768, history, {}, coded);
            bytes.assign(coded.begin() + 1, coded.end());
            bytes.resize(bytes.size() + rng() % 16, uint8_t(rng()));
        }
    }
    return bytes;
}

TEST(BlockDecoder, FastReaderMatchesCarefulReader) {
    std::mt19937 rng(12345);
    for (int trial = 0; trial < 3000; ++trial) {
        std::vector<uint8_t> payload = RandomPayload(rng);
        payload.resize(payload.empty() ? 0 : rng() % (payload.size() + 1));  // a random available count
        const uint8_t header = uint8_t(rng()) & 0xBF;                          // blocks with residuals
        const int wordCount = (rng() % 4 == 0) ? int(rng() % 4) : int(rng() % 769);
        const History before = {int16_t(rng()), int16_t(rng()), int16_t(rng())};
        const Outcome fast = DecodeOne(before, header, wordCount, payload, false);
        const Outcome careful = DecodeOne(before, header, wordCount, payload, true);
        SCOPED_TRACE(testing::Message() << "trial " << trial << " header " << int(header) << " words "
                                        << wordCount << " available " << payload.size());
        ASSERT_EQ(fast.words, careful.words);
        ASSERT_EQ(fast.bytesUsed, careful.bytesUsed);
        ASSERT_EQ(fast.history, careful.history);
        ASSERT_EQ(fast.bitPosition, careful.bitPosition);
        ASSERT_LE(fast.bytesUsed, int32_t(payload.size()) + 1);
    }
}

}  // namespace
