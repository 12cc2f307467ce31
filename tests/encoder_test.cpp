#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "extract/block_decoder.h"
#include "pack/encoder.h"
#include "support/reference_encoder.h"

using pack::Bytes;

namespace {

// The coded part read back as the extractor frames it: steps of 100 blocks, each
// block's word count from the bytes still to come, 0-word blocks after the last word.
struct Framed {
    std::vector<uint16_t> words;
    std::vector<uint8_t> headers;
    size_t bytesRead = 0;
    bool overran = false;
};

Framed DecodeCodedPart(const Bytes& stored, size_t offset, int64_t codedSize) {
    Framed f;
    const size_t size = stored.size() - offset;
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[size]);  // exactly its length
    std::copy(stored.begin() + std::ptrdiff_t(offset), stored.end(), buffer.get());
    std::unique_ptr<uint16_t[]> output(new uint16_t[kMaxBlockWords]);
    CBlockDecoder decoder;
    int64_t written = 0;
    size_t pos = 0;
    do {  // one step at least, even with nothing to decode
        for (int i = 0; i < pack::kBlocksPerStep; ++i) {
            if (pos >= size) {
                f.overran = true;
                return f;
            }
            DecodeBlock block{};
            block.header = buffer[pos++];
            const int64_t rem = codedSize - written;
            block.wordCount = rem >= 2 * kMaxBlockWords ? kMaxBlockWords : int32_t(rem / 2);
            block.output = output.get();
            block.input = buffer.get() + pos;
            block.available = int32_t(size - pos);
            decoder.Decode(block);
            if (block.bytesUsed > block.available) {
                f.overran = true;
                return f;
            }
            pos += size_t(block.bytesUsed);
            f.headers.push_back(block.header);
            f.words.insert(f.words.end(), output.get(), output.get() + block.wordCount);
            written += 2 * block.wordCount;
        }
    } while (written < codedSize);
    f.bytesRead = pos;
    return f;
}

Framed RoundTrip(const std::vector<uint16_t>& words, const pack::EncodeOptions& options = {}) {
    const Bytes coded = pack::EncodeWords(words.data(), words.size(), options);
    Framed f = DecodeCodedPart(coded, 0, int64_t(2 * words.size()));
    EXPECT_FALSE(f.overran);
    EXPECT_EQ(f.bytesRead, coded.size()) << "the coded part ends with its last step";
    EXPECT_EQ(f.headers.size() % pack::kBlocksPerStep, 0u);
    return f;
}

std::vector<uint16_t> RandomWalk(size_t count, int step, unsigned seed, uint16_t start = 0) {
    std::mt19937 rng(seed);
    std::vector<uint16_t> words(count);
    uint16_t w = start;
    for (auto& x : words) x = w = uint16_t(w + int(rng() % uint32_t(2 * step + 1)) - step);
    return words;
}

constexpr double kPi = 3.14159265358979323846;

// A few tones and a little noise: what a real recording looks like to the predictors.
std::vector<uint16_t> Music(size_t count, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<uint16_t> words(count);
    for (size_t i = 0; i < count; ++i) {
        const double t = double(i) / 44100.0;
        const double s = 9000 * std::sin(2 * kPi * 220 * t) + 5000 * std::sin(2 * kPi * 331 * t) +
                         2000 * std::sin(2 * kPi * 1240 * t) + int(rng() % 61) - 30;
        words[i] = uint16_t(int16_t(std::lround(s)));
    }
    return words;
}

TEST(Encoder, RoundTripsEveryOrderAndEveryK) {
    for (int order = 0; order < 4; ++order) {
        for (int k = 0; k <= 15; ++k) {
            SCOPED_TRACE(testing::Message() << "order " << order << " k " << k);
            pack::EncodeOptions options;
            options.order = order;
            options.k = k;
            options.zeroBlocks = false;
            const std::vector<uint16_t> words = RandomWalk(2000, 1 << k, unsigned(order * 16 + k));
            const Framed f = RoundTrip(words, options);
            ASSERT_EQ(f.words, words);
            for (size_t b = 0; b < 3; ++b) EXPECT_EQ(f.headers[b], order << 4 | k) << "block " << b;
        }
    }
}

TEST(Encoder, FramesBlocksInStepsOfOneHundred) {
    struct Case { size_t bytes; size_t codedBlocks; size_t blocks; };
    const Case cases[] = {
        {0, 0, 100},     {2, 1, 100},       {1534, 1, 100},    {1536, 1, 100},
        {1538, 2, 100},  {3000, 2, 100},    {153600, 100, 100}, {307200, 200, 200},
    };
    for (const Case& c : cases) {
        const std::vector<uint16_t> words = Music(c.bytes / 2, unsigned(c.bytes));
        for (pack::FillerKind kind : {pack::FillerKind::Flagged, pack::FillerKind::Padded,
                                      pack::FillerKind::Alternating}) {
            SCOPED_TRACE(testing::Message() << c.bytes << " bytes, filler kind " << int(kind));
            pack::EncodeOptions options;
            options.filler = kind;
            const Bytes coded = pack::EncodeWords(words.data(), words.size(), options);
            const Framed f = RoundTrip(words, options);
            ASSERT_EQ(f.words, words);
            ASSERT_EQ(f.headers.size(), c.blocks);
            // The filler blocks are the stored bytes' last ones, one or two bytes each.
            const size_t fillers = c.blocks - c.codedBlocks;
            Bytes expected;
            for (size_t i = 0; i < fillers; ++i) {
                const bool padded = kind == pack::FillerKind::Padded ||
                                    (kind == pack::FillerKind::Alternating && i % 2 == 1);
                pack::AppendFiller(padded ? pack::FillerKind::Padded : pack::FillerKind::Flagged, expected);
            }
            ASSERT_GE(coded.size(), expected.size());
            EXPECT_EQ(Bytes(coded.end() - std::ptrdiff_t(expected.size()), coded.end()), expected);
        }
    }
}

TEST(Encoder, FillerBlocksAreOneOrTwoBytes) {
    Bytes flagged, padded;
    pack::AppendFiller(pack::FillerKind::Flagged, flagged);
    pack::AppendFiller(pack::FillerKind::Padded, padded);
    EXPECT_EQ(flagged, (Bytes{0x40}));
    EXPECT_EQ(padded, (Bytes{0x00, 0x00}));
}

// Signals that some predictor follows exactly become zero-residual blocks of that
// order once the history has caught up (from the second block on), wrapping included.
TEST(Encoder, ExactPredictionsBecomeZeroResidualBlocks) {
    struct Case { const char* name; int order; uint16_t (*word)(size_t); };
    const Case cases[] = {
        {"silence", 0, [](size_t) { return uint16_t(0); }},
        {"constant", 1, [](size_t) { return uint16_t(0x8123); }},
        {"wrapping ramp", 2, [](size_t i) { return uint16_t(0x7FF0 + 0x1234 * i); }},
        {"wrapping parabola", 3, [](size_t i) { return uint16_t(7 * i * i + 0x7FFF); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint16_t> words(5 * 768 + 10);
        for (size_t i = 0; i < words.size(); ++i) words[i] = c.word(i);
        const Framed f = RoundTrip(words);
        ASSERT_EQ(f.words, words);
        for (size_t b = 1; b < 6; ++b) EXPECT_EQ(f.headers[b], 0x40 | c.order << 4) << "block " << b;
    }
}

TEST(Encoder, RoundTripsAcrossTheSignedWrap) {
    struct Case { const char* name; std::vector<uint16_t> words; };
    std::vector<uint16_t> extremes;
    const uint16_t corners[] = {0x7FFF, 0x8000, 0x0000, 0xFFFF, 0x8000, 0x7FFF, 0x7FFE, 0x8001};
    for (int i = 0; i < 3000; ++i) extremes.push_back(corners[(i * 5 + i / 7) % 8]);
    std::vector<uint16_t> noise(3000);
    std::mt19937 rng(9);
    for (auto& x : noise) x = uint16_t(rng());
    const Case cases[] = {
        {"walk around 0x7FFF/0x8000", RandomWalk(3000, 300, 1, 0x7FFF)},
        {"full-scale corners", extremes},
        {"uncorrelated noise", noise},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(RoundTrip(c.words).words, c.words);
        for (int order = 0; order < 4; ++order) {
            pack::EncodeOptions options;
            options.order = order;
            EXPECT_EQ(RoundTrip(c.words, options).words, c.words) << "order " << order;
        }
    }
}

// The free choice is never beaten by any forced order and k.
TEST(Encoder, ChoosesTheSmallestOrderAndK) {
    const std::vector<std::vector<uint16_t>> blocks = {
        RandomWalk(768, 40, 2), Music(768, 3), RandomWalk(768, 3000, 4), RandomWalk(100, 1, 5)};
    for (size_t i = 0; i < blocks.size(); ++i) {
        pack::BlockHistory history;
        Bytes best;
        pack::EncodeBlock(blocks[i].data(), int(blocks[i].size()), history, {}, best);
        for (int order = 0; order < 4; ++order) {
            for (int k = 0; k <= 15; ++k) {
                pack::EncodeOptions options;
                options.order = order;
                options.k = k;
                pack::BlockHistory h;
                Bytes forced;
                pack::EncodeBlock(blocks[i].data(), int(blocks[i].size()), h, options, forced);
                EXPECT_LE(best.size(), forced.size()) << "block " << i << " order " << order << " k " << k;
            }
        }
    }
}

// Blocks of every shape the coder meets: silence, constants, smooth and rough
// audio, full-range noise and the residuals at the ends of the 16-bit range.
std::vector<std::vector<uint16_t>> AssortedBlocks() {
    std::vector<std::vector<uint16_t>> blocks;
    std::mt19937 rng(11);
    for (int count : {0, 1, 2, 3, 5, 100, 767, 768}) {
        blocks.push_back(std::vector<uint16_t>(size_t(count), 0));
        blocks.push_back(std::vector<uint16_t>(size_t(count), 0x1234));
        blocks.push_back(RandomWalk(size_t(count), 3, rng()));
        blocks.push_back(RandomWalk(size_t(count), 700, rng(), 0x8000));
        blocks.push_back(Music(size_t(count), rng()));
        const size_t n = size_t(count);
        std::vector<uint16_t> noise(n), extremes(n);
        for (auto& w : noise) w = uint16_t(rng());
        for (size_t i = 0; i < extremes.size(); ++i) extremes[i] = i % 3 ? 0x8000 : 0x7FFF;
        blocks.push_back(noise);
        blocks.push_back(extremes);
    }
    return blocks;
}

TEST(Encoder, WritesWhatTheReferenceCoderWrites) {
    std::vector<pack::EncodeOptions> options(1);
    for (int order = 0; order < 4; ++order) options.emplace_back().order = order;
    for (int k : {0, 1, 7, 15}) options.emplace_back().k = k;
    options.emplace_back().zeroBlocks = false;
    std::mt19937 rng(5);
    const auto blocks = AssortedBlocks();
    for (size_t b = 0; b < blocks.size(); ++b) {
        for (size_t o = 0; o < options.size(); ++o) {
            const pack::BlockHistory start{uint16_t(rng()), uint16_t(rng()), uint16_t(rng())};
            for (const pack::BlockHistory& history : {pack::BlockHistory{}, start}) {
                pack::BlockHistory fast = history, reference = history;
                Bytes fastOut, referenceOut;
                const int count = int(blocks[b].size());
                pack::EncodeBlock(blocks[b].data(), count, fast, options[o], fastOut);
                ReferenceEncodeBlock(blocks[b].data(), count, reference, options[o], referenceOut);
                ASSERT_EQ(fastOut, referenceOut) << "block " << b << ", options " << o;
                EXPECT_EQ(fast.prev1, reference.prev1);
                EXPECT_EQ(fast.prev2, reference.prev2);
                EXPECT_EQ(fast.prev3, reference.prev3);
                const pack::BlockChoice choice = pack::ChooseBlock(blocks[b].data(), count, history, options[o]);
                EXPECT_EQ(choice.header, fastOut[0]);
                EXPECT_EQ(choice.payloadBytes + 1, fastOut.size());
            }
        }
    }
}

// --- Whole files ---

void PutLe(Bytes& b, uint32_t value, int width) {
    for (int i = 0; i < width; ++i) b.push_back(uint8_t(value >> (8 * i)));
}
void PutTag(Bytes& b, const char* tag) { b.insert(b.end(), tag, tag + 4); }
void PutChunk(Bytes& b, const char* tag, const Bytes& body, uint32_t declared) {
    PutTag(b, tag);
    PutLe(b, declared, 4);
    b.insert(b.end(), body.begin(), body.end());
    if (body.size() % 2) b.push_back(0);
}

struct WaveLayout {
    uint16_t format = 1;
    uint16_t bits = 16;
    Bytes samples;
    uint32_t declaredDataSize = UINT32_MAX;  // UINT32_MAX: the true size
    bool listChunk = true;                   // a chunk before the samples
    Bytes trailer;                           // bytes after the data chunk
};

Bytes Wave(const WaveLayout& s) {
    Bytes fmt;
    PutLe(fmt, s.format, 2);
    PutLe(fmt, 1, 2);  // mono
    PutLe(fmt, 44100, 4);
    PutLe(fmt, 44100 * s.bits / 8, 4);
    PutLe(fmt, s.bits / 8, 2);
    PutLe(fmt, s.bits, 2);
    if (s.format == 0xFFFE) {
        PutLe(fmt, 22, 2);
        PutLe(fmt, s.bits, 2);
        PutLe(fmt, 4, 4);
        PutLe(fmt, 1, 2);  // the sub-format's first field: PCM
        fmt.resize(fmt.size() + 14, 0);
    }
    Bytes body;
    PutTag(body, "WAVE");
    PutChunk(body, "fmt ", fmt, uint32_t(fmt.size()));
    if (s.listChunk) PutChunk(body, "LIST", Bytes{'I', 'N', 'F', 'O', 'x'}, 5);
    const uint32_t declared = s.declaredDataSize == UINT32_MAX ? uint32_t(s.samples.size()) : s.declaredDataSize;
    PutChunk(body, "data", s.samples, declared);
    body.insert(body.end(), s.trailer.begin(), s.trailer.end());
    Bytes file;
    PutTag(file, "RIFF");
    PutLe(file, uint32_t(body.size()), 4);
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

Bytes AsBytes(const std::vector<uint16_t>& words) {
    Bytes b;
    for (uint16_t w : words) PutLe(b, w, 2);
    return b;
}

Bytes RandomBytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) x = uint8_t(rng());
    return b;
}

// The file as the extractor rebuilds it: raw prefix, decoded words, raw tail.
Bytes Rebuild(const pack::StoredEntry& e) {
    Bytes file(e.data.begin(), e.data.begin() + e.rawPrefixSize);
    const Framed f = DecodeCodedPart(e.data, size_t(e.rawPrefixSize), e.codedSize);
    EXPECT_FALSE(f.overran);
    for (uint16_t w : f.words) PutLe(file, w, 2);
    file.insert(file.end(), e.data.begin() + e.rawPrefixSize + std::ptrdiff_t(f.bytesRead), e.data.end());
    return file;
}

TEST(Encoder, EncodeFileSplitsWavesAndCodesOrStoresTheRest) {
    const Bytes samples = AsBytes(Music(20000, 1));
    Bytes oddSamples = samples;
    oddSamples.push_back(0x5A);
    Bytes smooth = AsBytes(Music(5000, 2));
    smooth.push_back(0x77);  // odd length: the last byte is the raw tail
    WaveLayout plain;
    plain.samples = samples;
    plain.trailer = {'t', 'a', 'i', 'l', 0, 0, 0, 0};
    WaveLayout odd;
    odd.samples = oddSamples;
    WaveLayout extensible;
    extensible.format = 0xFFFE;
    extensible.samples = samples;
    extensible.listChunk = false;
    WaveLayout overlong;
    overlong.samples = samples;
    overlong.declaredDataSize = uint32_t(samples.size() + 1000);
    WaveLayout eightBit;
    eightBit.bits = 8;
    eightBit.samples = RandomBytes(5000, 3);
    WaveLayout empty;
    empty.samples = {};

    enum Kind { kWave, kWhole, kRaw };
    struct Case { const char* name; Bytes content; Kind kind; int32_t codedSize; };
    const Case cases[] = {
        {"16-bit wave with chunks before and after", Wave(plain), kWave, int32_t(samples.size())},
        {"odd sample bytes: the last one goes to the tail", Wave(odd), kWave, int32_t(samples.size())},
        {"extensible format, PCM", Wave(extensible), kWave, int32_t(samples.size())},
        {"data chunk longer than the file", Wave(overlong), kWave, int32_t(samples.size())},
        {"8-bit wave of noise is stored", Wave(eightBit), kRaw, 0},
        {"wave without samples is stored", Wave(empty), kRaw, 0},
        {"compressible file, odd length", smooth, kWhole, int32_t(smooth.size() - 1)},
        {"noise is stored", RandomBytes(4000, 4), kRaw, 0},
        {"empty file", {}, kRaw, 0},
        {"one byte", {0x42}, kRaw, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const pack::StoredEntry e = pack::EncodeFile(".\\f.bin", c.content);
        EXPECT_EQ(e.path, ".\\f.bin");
        EXPECT_EQ(e.fileSize, int32_t(c.content.size()));
        EXPECT_EQ(e.crc, pack::Crc32Of(c.content));
        EXPECT_EQ(e.codedSize, c.codedSize);
        switch (c.kind) {
            case kWave: {
                const auto wave = pack::FindWaveSamples(c.content);
                ASSERT_TRUE(wave);
                EXPECT_EQ(e.rawPrefixSize, int32_t(wave->offset));
                EXPECT_EQ(Bytes(c.content.begin(), c.content.begin() + e.rawPrefixSize),
                          Bytes(e.data.begin(), e.data.begin() + e.rawPrefixSize));
                EXPECT_LT(e.data.size(), c.content.size());
                break;
            }
            case kWhole:
                EXPECT_EQ(e.rawPrefixSize, 0);
                EXPECT_LT(e.data.size(), c.content.size());
                EXPECT_EQ(e.data.back(), c.content.back());
                break;
            case kRaw: {
                EXPECT_EQ(e.rawPrefixSize, int32_t(c.content.size()));
                Bytes expected = c.content;
                expected.insert(expected.end(), pack::kBlocksPerStep, 0x40);  // one step of filler
                EXPECT_EQ(e.data, expected);
                break;
            }
        }
        EXPECT_EQ(Rebuild(e), c.content);
    }
}

TEST(Encoder, FindsTheSamplesOfAWave) {
    WaveLayout layout;
    layout.samples = Bytes(10, 1);
    const Bytes file = Wave(layout);
    const auto wave = pack::FindWaveSamples(file);
    ASSERT_TRUE(wave);
    // RIFF header 12, "fmt " chunk 8 + 16, LIST chunk 8 + 5 + pad, "data" chunk header 8.
    EXPECT_EQ(wave->offset, 12u + 24u + 14u + 8u);
    EXPECT_EQ(wave->size, 10u);
    Bytes notRiff = file;
    notRiff[0] = 'X';
    EXPECT_FALSE(pack::FindWaveSamples(notRiff));
    EXPECT_FALSE(pack::FindWaveSamples(Bytes(file.begin(), file.begin() + 40)));  // cut before "data"
}

}  // namespace
