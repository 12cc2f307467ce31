#include "pack/block_coder.h"

#include <algorithm>
#include <cstring>

#include "pack/bit_writer.h"

static_assert(pack::kBlockSlack >= pack::kBitWriterSlack, "a block's writer may store past its end");

namespace pack {
namespace {

constexpr int kOrders = 4;
constexpr int kMaxK = 15;
constexpr uint8_t kZeroFlag = 0x40;

// The biased exponent of float(v), that is floor(log2(v)) + 127 for v >= 1:
// exact for v below 2^24, and a form of log2 that vectorises.
inline uint32_t FloatExponent(int32_t v) {
    const float f = float(v);
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits >> 23;
}

inline int FloorLog2(uint32_t v) { return 31 - __builtin_clz(v); }  // v >= 1

// The residuals of predictor order p are the words' p-th differences, taken
// modulo 2^16 with the history standing before the block's first word.
inline void Residuals(const uint16_t* words, int count, const BlockHistory& h, int order, uint16_t* out) {
    uint16_t ext[3 + kBlockWords];
    ext[0] = h.prev3;
    ext[1] = h.prev2;
    ext[2] = h.prev1;
    if (count > 0) std::memcpy(ext + 3, words, sizeof(uint16_t) * size_t(count));
    const uint16_t* w = ext + 3;
    switch (order) {
        case 0:
            for (int i = 0; i < count; ++i) out[i] = w[i];
            break;
        case 1:
            for (int i = 0; i < count; ++i) out[i] = uint16_t(w[i] - w[i - 1]);
            break;
        case 2:
            for (int i = 0; i < count; ++i) out[i] = uint16_t(w[i] - 2 * w[i - 1] + w[i - 2]);
            break;
        default:
            for (int i = 0; i < count; ++i) out[i] = uint16_t(w[i] - 3 * w[i - 1] + 3 * w[i - 2] - w[i - 3]);
            break;
    }
}

// The folded code of a residual: r >= 0 as 2r, r < 0 as -2r + 1.
inline uint32_t Folded(uint16_t residual) {
    const int32_t r = int16_t(residual);
    return r >= 0 ? uint32_t(2 * r) : uint32_t(-2 * r + 1);
}

// One order's codes, their largest, and a bound below which no k can go.
// A code a with top bit m takes 2 * floor(log2((a >> k) + 1)) + 1 + k bits,
// never fewer than m + 2 (with m = -1 for a = 0).
struct OrderCodes {
    uint32_t codes[kBlockWords];
    uint32_t max = 0;
    int64_t lowerBound = 0;
};

inline void FoldCodes(const uint16_t* words, int count, const BlockHistory& h, int order, OrderCodes& out) {
    uint16_t residuals[kBlockWords];
    Residuals(words, count, h, order, residuals);
    uint32_t max = 0, exponents = 0;
    for (int i = 0; i < count; ++i) {
        const uint32_t a = Folded(residuals[i]);
        out.codes[i] = a;
        max = std::max(max, a);
        exponents += FloatExponent(int32_t(2 * a + 1));  // m + 1 + 127
    }
    out.max = max;
    out.lowerBound = int64_t(exponents) - 126 * int64_t(count);
}

// The block's bits with k low bits: floor(log2((a >> k) + 1)) is
// floor(log2(a + 2^k)) - k, so a code takes 2 * floor(log2(a + 2^k)) - k + 1.
inline int64_t BitsWithK(const uint32_t* codes, int count, int k) {
    const int32_t add = 1 << k;
    uint32_t exponents = 0;
    for (int i = 0; i < count; ++i) exponents += FloatExponent(int32_t(codes[i]) + add);
    const int64_t logs = int64_t(exponents) - 127 * int64_t(count);
    return 2 * logs + int64_t(count) * (1 - k);
}

uint32_t PayloadBytes(int64_t bits, int count) { return count == 0 ? 1 : uint32_t((bits + 7) / 8); }

// Orders are tried by their lower bounds, so that most are ruled out without
// trying any k; ties still go to the lower order and then the lower k.
__attribute__((always_inline)) inline BlockChoice Choose(const uint16_t* words, int count,
                                                         const BlockHistory& history, const EncodeOptions& options) {
    const int firstOrder = options.order ? *options.order : 0;
    const int lastOrder = options.order ? *options.order : kOrders - 1;
    OrderCodes orders[kOrders];
    int sequence[kOrders], n = 0;
    for (int order = firstOrder; order <= lastOrder; ++order) {
        FoldCodes(words, count, history, order, orders[order]);
        if (options.zeroBlocks && orders[order].max == 0) return {uint8_t(kZeroFlag | order << 4), 0};
        sequence[n++] = order;
    }
    for (int i = 1; i < n; ++i) {  // by bound, then by order: four at most
        for (int j = i; j > 0 && orders[sequence[j]].lowerBound < orders[sequence[j - 1]].lowerBound; --j)
            std::swap(sequence[j], sequence[j - 1]);
    }
    int64_t bestBits = INT64_MAX;
    int bestOrder = kOrders, bestK = 0;
    for (int s = 0; s < n; ++s) {
        const int order = sequence[s];
        const OrderCodes& o = orders[order];
        if (o.lowerBound > bestBits || (o.lowerBound == bestBits && order > bestOrder)) continue;
        int firstK = 0, lastK = kMaxK;
        if (options.k) {
            firstK = lastK = *options.k;
        } else {
            // Once 2^k passes every code, each further k costs one more bit a code.
            lastK = std::min(lastK, o.max ? FloorLog2(o.max) + 1 : 0);
        }
        for (int k = firstK; k <= lastK; ++k) {
            const int64_t bits = BitsWithK(o.codes, count, k);
            if (bits < bestBits || (bits == bestBits && order < bestOrder)) {
                bestBits = bits;
                bestOrder = order;
                bestK = k;
            }
        }
    }
    return {uint8_t(bestOrder << 4 | bestK), PayloadBytes(bestBits, count)};
}

BlockChoice ChoosePortable(const uint16_t* words, int count, const BlockHistory& history,
                           const EncodeOptions& options) {
    return Choose(words, count, history, options);
}

using ChooseFunction = BlockChoice (*)(const uint16_t*, int, const BlockHistory&, const EncodeOptions&);

#if defined(__x86_64__) || defined(__i386__)
// The same search in 256-bit vectors, where the processor has them.
__attribute__((target("avx2"))) BlockChoice ChooseAvx2(const uint16_t* words, int count,
                                                       const BlockHistory& history, const EncodeOptions& options) {
    return Choose(words, count, history, options);
}

ChooseFunction BestChoose() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") ? ChooseAvx2 : ChoosePortable;
}
#else
ChooseFunction BestChoose() { return ChoosePortable; }
#endif

}  // namespace

BlockChoice ChooseBlock(const uint16_t* words, int count, const BlockHistory& history, const EncodeOptions& options) {
    static const ChooseFunction choose = BestChoose();
    return choose(words, count, history, options);
}

uint8_t* WriteBlock(const uint16_t* words, int count, const BlockHistory& history, uint8_t header, uint8_t* out) {
    *out++ = header;
    if (header & kZeroFlag) return out;
    if (count == 0) {
        *out++ = 0;  // a block with residuals always has a payload byte
        return out;
    }
    uint16_t residuals[kBlockWords];
    Residuals(words, count, history, (header >> 4) & 3, residuals);
    const int k = header & 0x0F;
    const uint32_t lowMask = (1u << k) - 1;
    BitWriter writer(out);
    for (int i = 0; i < count; ++i) {
        const uint32_t a = Folded(residuals[i]);
        const uint32_t v = (a >> k) + 1;
        // The gamma code (as many zeros as v has bits after its first, then
        // v), then the k low bits: at most 48 bits in all.
        writer.Put(uint64_t(v) << k | (a & lowMask), 2 * FloorLog2(v) + 1 + k);
        writer.Flush();
    }
    return writer.Finish();
}

BlockHistory HistoryAfter(const uint16_t* words, int count, const BlockHistory& history, uint8_t header) {
    const int order = (header >> 4) & 3;
    if ((header & kZeroFlag) && order <= 1) {
        const uint16_t value = order == 0 ? 0 : history.prev1;
        return {value, value, value};
    }
    if (count >= 3) return {words[count - 1], words[count - 2], words[count - 3]};
    BlockHistory h = history;
    for (int i = 0; i < count; ++i) h = {words[i], h.prev1, h.prev2};
    return h;
}

}  // namespace pack
