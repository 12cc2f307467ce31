#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>

namespace pack {

constexpr int kBlockWords = 768;     // words in every block but the last
constexpr int kBlocksPerStep = 100;  // the extractor reads blocks in steps of this many
// The most a block can take: its header byte and 768 codes of at most 48 bits.
constexpr size_t kMaxBlockBytes = 1 + kBlockWords * 6;
// Bytes past the block's end that writing it may touch.
constexpr size_t kBlockSlack = 8;

// The blocks that pad the coded part to the end of its last step of 100.
enum class FillerKind {
    Flagged,      // header 0x40 alone (1 byte)
    Padded,       // header 0x00 and one zero byte (2 bytes)
    Alternating,  // Flagged, Padded, Flagged, ...
};

// The archive's choices are the smallest; tests force others.
struct EncodeOptions {
    FillerKind filler = FillerKind::Flagged;
    std::optional<int> order;  // force every block's predictor order (0..3)
    std::optional<int> k;      // force every block's number of low bits (0..15)
    bool zeroBlocks = true;    // use the zero-residual flag when every residual is 0
};

// The predictor history as the extractor keeps it: the last three words.
struct BlockHistory {
    uint16_t prev1 = 0, prev2 = 0, prev3 = 0;
};

// How one block is stored: its header byte (order, k, zero-residual flag) and
// the number of payload bytes behind it.
struct BlockChoice {
    uint8_t header = 0;
    uint32_t payloadBytes = 0;
};

// The choice with the fewest bits among every order and k the options allow
// (the first of equals, orders and then k counted upwards), or the
// zero-residual block when some order predicts every word exactly.
BlockChoice ChooseBlock(const uint16_t* words, int count, const BlockHistory& history, const EncodeOptions& options);

// Writes the block so chosen (header byte and payload) at out, which has room
// for kMaxBlockBytes + kBlockSlack bytes; returns the end of what was written.
uint8_t* WriteBlock(const uint16_t* words, int count, const BlockHistory& history, uint8_t header, uint8_t* out);

// The history after the block, as the extractor leaves it: the last three
// words, except that an exact block of order 0 or 1 leaves its constant value
// even when it is shorter than three words.
BlockHistory HistoryAfter(const uint16_t* words, int count, const BlockHistory& history, uint8_t header);

}  // namespace pack
