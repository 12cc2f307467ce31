#include "pack/encoder.h"

#include <algorithm>
#include <vector>

namespace pack {
namespace {

constexpr int kOrders = 4;
constexpr int kMaxK = 15;

// Writes bits most significant first; the last byte is padded with zeros.
class BitWriter {
public:
    explicit BitWriter(Bytes& out) : m_out(out) {}
    void Put(uint32_t value, int bits) {  // bits <= 32
        for (int i = bits - 1; i >= 0; --i) {
            m_acc = uint8_t(m_acc << 1 | ((value >> i) & 1u));
            if (++m_count == 8) {
                m_out.push_back(m_acc);
                m_acc = 0;
                m_count = 0;
            }
        }
    }
    void Zeros(int bits) {
        for (int i = 0; i < bits; ++i) Put(0, 1);
    }
    void Finish() {
        if (m_count > 0) m_out.push_back(uint8_t(m_acc << (8 - m_count)));
        m_acc = 0;
        m_count = 0;
    }

private:
    Bytes& m_out;
    uint8_t m_acc = 0;
    int m_count = 0;
};

int FloorLog2(uint32_t v) { return 31 - __builtin_clz(v); }  // v >= 1

uint16_t Prediction(int order, const BlockHistory& h) {
    switch (order) {
        case 0: return 0;
        case 1: return h.prev1;
        case 2: return uint16_t(2 * h.prev1 - h.prev2);
        default: return uint16_t(3 * h.prev1 - 3 * h.prev2 + h.prev3);
    }
}

void Slide(BlockHistory& h, uint16_t word) {
    h.prev3 = h.prev2;
    h.prev2 = h.prev1;
    h.prev1 = word;
}

// The extractor's history after a block: the last words, except that constant
// zero-residual blocks leave a constant history even when shorter than three words.
void AdvanceHistory(BlockHistory& h, const uint16_t* words, int count, bool zeroResidual, int order) {
    if (zeroResidual && order <= 1) {
        const uint16_t value = order == 0 ? 0 : h.prev1;
        h = BlockHistory{value, value, value};
        return;
    }
    for (int i = 0; i < count; ++i) Slide(h, words[i]);
}

// The folded codes of a block under one order: r >= 0 as 2r, r < 0 as -2r + 1.
void FoldedCodes(const uint16_t* words, int count, BlockHistory h, int order, std::vector<uint32_t>& codes) {
    codes.resize(size_t(count));
    for (int i = 0; i < count; ++i) {
        const int32_t r = int16_t(uint16_t(words[i] - Prediction(order, h)));
        codes[size_t(i)] = r >= 0 ? uint32_t(2 * r) : uint32_t(-2 * r + 1);
        Slide(h, words[i]);
    }
}

uint64_t CodeBits(uint32_t a, int k) { return uint64_t(2 * FloorLog2((a >> k) + 1) + 1 + k); }

uint64_t BlockBits(const std::vector<uint32_t>& codes, int k) {
    uint64_t bits = 0;
    for (uint32_t a : codes) bits += CodeBits(a, k);
    return bits;
}

bool AllZero(const std::vector<uint32_t>& codes) {
    return std::all_of(codes.begin(), codes.end(), [](uint32_t a) { return a == 0; });
}

void WriteCodes(const std::vector<uint32_t>& codes, int k, Bytes& out) {
    if (codes.empty()) {
        out.push_back(0);  // a block with residuals always has a payload byte
        return;
    }
    BitWriter writer(out);
    for (uint32_t a : codes) {
        const uint32_t v = (a >> k) + 1;
        const int zeros = FloorLog2(v);
        writer.Zeros(zeros);
        writer.Put(v, zeros + 1);
        if (k > 0) writer.Put(a & ((1u << k) - 1), k);
    }
    writer.Finish();
}

}  // namespace

void EncodeBlock(const uint16_t* words, int count, BlockHistory& history, const EncodeOptions& options,
                 Bytes& out) {
    const int firstOrder = options.order ? *options.order : 0;
    const int lastOrder = options.order ? *options.order : kOrders - 1;
    std::vector<uint32_t> codes, bestCodes;
    int bestOrder = firstOrder, bestK = 0;
    uint64_t bestBits = UINT64_MAX;
    bool zero = false;
    for (int order = firstOrder; order <= lastOrder && !zero; ++order) {
        FoldedCodes(words, count, history, order, codes);
        if (options.zeroBlocks && AllZero(codes)) {
            zero = true;
            bestOrder = order;
            break;
        }
        const int firstK = options.k ? *options.k : 0;
        const int lastK = options.k ? *options.k : kMaxK;
        for (int k = firstK; k <= lastK; ++k) {
            const uint64_t bits = BlockBits(codes, k);
            if (bits < bestBits) {
                bestBits = bits;
                bestOrder = order;
                bestK = k;
                bestCodes = codes;
            }
        }
    }
    if (zero) {
        out.push_back(uint8_t(0x40 | bestOrder << 4));
    } else {
        out.push_back(uint8_t(bestOrder << 4 | bestK));
        WriteCodes(bestCodes, bestK, out);
    }
    AdvanceHistory(history, words, count, zero, bestOrder);
}

void AppendFiller(FillerKind kind, Bytes& out) {
    if (kind == FillerKind::Padded) {
        out.push_back(0x00);
        out.push_back(0x00);
    } else {
        out.push_back(0x40);
    }
}

Bytes EncodeWords(const uint16_t* words, size_t count, const EncodeOptions& options) {
    Bytes out;
    BlockHistory history;
    size_t blocks = 0;
    for (size_t done = 0; done < count; done += kBlockWords, ++blocks) {
        const int n = int(std::min<size_t>(kBlockWords, count - done));
        EncodeBlock(words + done, n, history, options, out);
    }
    // The extractor reads at least one step, even when there are no words.
    for (size_t filler = 0; blocks == 0 || blocks % kBlocksPerStep != 0; ++blocks, ++filler) {
        const bool padded = options.filler == FillerKind::Padded ||
                            (options.filler == FillerKind::Alternating && filler % 2 == 1);
        AppendFiller(padded ? FillerKind::Padded : FillerKind::Flagged, out);
    }
    return out;
}

namespace {

uint32_t ReadLe(const Bytes& b, size_t at, int width) {
    uint32_t value = 0;
    for (int i = 0; i < width; ++i) value |= uint32_t(b[at + size_t(i)]) << (8 * i);
    return value;
}

bool HasTag(const Bytes& b, size_t at, const char* tag) {
    return at + 4 <= b.size() && std::equal(tag, tag + 4, b.begin() + std::ptrdiff_t(at));
}

// PCM directly, or the extensible format whose sub-format is PCM; 16 bits a sample.
bool IsPcm16(const Bytes& b, size_t body, uint32_t size) {
    if (size < 16 || body + 16 > b.size()) return false;
    const uint32_t tag = ReadLe(b, body, 2);
    const uint32_t bits = ReadLe(b, body + 14, 2);
    bool pcm = tag == 1;
    if (tag == 0xFFFE && size >= 26 && body + 26 <= b.size()) pcm = ReadLe(b, body + 24, 2) == 1;
    return pcm && bits == 16;
}

std::vector<uint16_t> LittleEndianWords(const Bytes& b, size_t offset, size_t count) {
    std::vector<uint16_t> words(count);
    for (size_t i = 0; i < count; ++i) words[i] = uint16_t(ReadLe(b, offset + 2 * i, 2));
    return words;
}

}  // namespace

StoredEntry CodedEntry(const std::string& path, const Bytes& content, size_t prefix, size_t wordCount,
                       const EncodeOptions& options) {
    const std::vector<uint16_t> words = LittleEndianWords(content, prefix, wordCount);
    StoredEntry e;
    e.path = path;
    e.fileSize = int32_t(content.size());
    e.rawPrefixSize = int32_t(prefix);
    e.codedSize = int32_t(2 * wordCount);
    e.crc = Crc32Of(content);
    e.data.assign(content.begin(), content.begin() + std::ptrdiff_t(prefix));
    const Bytes coded = EncodeWords(words.data(), words.size(), options);
    e.data.insert(e.data.end(), coded.begin(), coded.end());
    e.data.insert(e.data.end(), content.begin() + std::ptrdiff_t(prefix + 2 * wordCount), content.end());
    return e;
}

StoredEntry RawEntry(const std::string& path, const Bytes& content, const EncodeOptions& options) {
    StoredEntry e;
    e.path = path;
    e.fileSize = int32_t(content.size());
    e.rawPrefixSize = int32_t(content.size());
    e.crc = Crc32Of(content);
    e.data = content;
    const Bytes filler = EncodeWords(nullptr, 0, options);
    e.data.insert(e.data.end(), filler.begin(), filler.end());
    return e;
}

std::optional<WaveData> FindWaveSamples(const Bytes& content) {
    if (!HasTag(content, 0, "RIFF") || !HasTag(content, 8, "WAVE")) return std::nullopt;
    bool pcm16 = false;
    for (size_t pos = 12; pos + 8 <= content.size();) {
        const uint32_t size = ReadLe(content, pos + 4, 4);
        const size_t body = pos + 8;
        if (HasTag(content, pos, "fmt ")) pcm16 = IsPcm16(content, body, size);
        if (HasTag(content, pos, "data")) {
            if (!pcm16) return std::nullopt;
            return WaveData{body, std::min<size_t>(size, content.size() - body)};
        }
        pos = body + size_t(size) + (size & 1u);  // chunks are padded to even lengths
    }
    return std::nullopt;
}

StoredEntry EncodeFile(const std::string& storedPath, const Bytes& content, const EncodeOptions& options) {
    if (const std::optional<WaveData> wave = FindWaveSamples(content)) {
        if (wave->size >= 2) return CodedEntry(storedPath, content, wave->offset, wave->size / 2, options);
        return RawEntry(storedPath, content, options);
    }
    StoredEntry raw = RawEntry(storedPath, content, options);
    StoredEntry coded = CodedEntry(storedPath, content, 0, content.size() / 2, options);
    return coded.codedSize > 0 && coded.data.size() < raw.data.size() ? coded : raw;
}

}  // namespace pack
