#pragma once
#include <cstdint>
#include <optional>

#include "pack/archive_writer.h"
#include "pack/byte_source.h"

namespace pack {

// Where the sample data of a RIFF/WAVE file with 16-bit PCM lies.
struct WaveData {
    uint64_t offset = 0;  // first byte of the samples
    uint64_t size = 0;    // bytes of samples, cut at the end of the file
};

// The samples of a 16-bit PCM wave (plain PCM, or the extensible format
// whose sub-format is PCM); nothing for any other file.
std::optional<WaveData> FindWaveSamples(ByteSource& source);
std::optional<WaveData> FindWaveSamples(const Bytes& content);

}  // namespace pack
