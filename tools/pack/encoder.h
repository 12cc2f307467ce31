#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "pack/archive_writer.h"
#include "pack/block_coder.h"
#include "pack/entry_coder.h"
#include "pack/wave.h"

namespace pack {

// Appends one block (header byte and payload) for `count` words (0..768) and
// moves `history` past them. Unforced choices are the ones giving the fewest bits.
void EncodeBlock(const uint16_t* words, int count, BlockHistory& history, const EncodeOptions& options,
                 Bytes& out);

// The coded part for `count` words: 768-word blocks, the shorter last block, and
// filler to the end of the step of 100. No words still give one step of filler,
// since the extractor reads one step whatever the size.
Bytes EncodeWords(const uint16_t* words, size_t count, const EncodeOptions& options = {});

// An entry whose bytes [prefix, prefix + 2 * wordCount) are coded as little-endian
// words; the bytes before are its raw prefix, the bytes after its raw tail.
StoredEntry CodedEntry(const std::string& path, const Bytes& content, size_t prefix, size_t wordCount,
                       const EncodeOptions& options = {});

// An entry stored without coding: the whole file as its raw prefix, followed by
// the one step of filler blocks that the extractor reads for every entry.
StoredEntry RawEntry(const std::string& path, const Bytes& content, const EncodeOptions& options = {});

// An entry's stored data: a 16-bit PCM wave keeps its headers as the raw prefix,
// its samples coded and whatever follows them as the raw tail; any other file is
// coded whole. Either is stored raw instead (the whole file as the raw prefix
// and one step of filler) unless coding makes it smaller.
StoredEntry EncodeFile(const std::string& storedPath, const Bytes& content,
                       const EncodeOptions& options = {});

}  // namespace pack
