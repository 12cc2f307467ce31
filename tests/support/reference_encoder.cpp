#include "support/reference_encoder.h"

#include <algorithm>
#include <vector>

using pack::BlockHistory;
using pack::Bytes;

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

void ReferenceEncodeBlock(const uint16_t* words, int count, pack::BlockHistory& history, const pack::EncodeOptions& options,
                 pack::Bytes& out) {
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

