#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pack {

using Bytes = std::vector<uint8_t>;

// One catalog entry with its stored data as the extractor will read it.
struct StoredEntry {
    std::string path;        // stored path, ".\dir\file"
    int32_t fileSize = 0;
    int32_t rawPrefixSize = 0;
    int32_t codedSize = 0;
    uint32_t crc = 0;
    Bytes data;              // raw prefix, coded blocks and raw tail, not enciphered

    // Knobs for malformed fixtures: stored in place of the true values.
    std::optional<int32_t> storedSize;
    std::optional<int64_t> dataOffset;
    std::optional<int16_t> nameLength;
};

struct ArchiveOptions {
    bool encrypted = false;
    std::string key;           // the text the user types
    uint8_t extraFlags = 0;    // or'ed into the flags byte
    std::string magic = "TRKA";
    int8_t subVersion = 0;
    int8_t version = 1;
    std::optional<int16_t> entryCount;  // stored in place of the true count
};

// The marker as the extractor searches for it (each byte of the stored text plus one).
Bytes MarkerSearchForm();

// The front of every image: the stub, then the marker.
Bytes ImagePrefix(const Bytes& stub);

// The archive from its flags byte on: header, catalog, then every entry's data.
// dataOffset counts from the flags byte, as the extractor's do.
Bytes BuildArchiveBody(const std::vector<StoredEntry>& entries, const ArchiveOptions& options);

// A whole self-extracting image: stub, marker, archive body.
Bytes BuildArchive(const Bytes& stub, const std::vector<StoredEntry>& entries, const ArchiveOptions& options);

// Bytes of the header and catalog at the front of the body: what the
// extractor reads from volume 0 alone in a split archive.
size_t CatalogEnd(const std::vector<StoredEntry>& entries);

// Frames a body into the volume files of a split archive. prefix is the stub
// and marker (volume 0's leading part); payloadSizes[i] of the body's bytes
// go to volume i and the last volume takes the rest. Volume 0's flags byte is
// the body's with the split bit; the last volume's has the last-volume bit.
std::vector<Bytes> FrameVolumes(const Bytes& prefix, const Bytes& body, const std::vector<size_t>& payloadSizes);

// Splits a whole archive into files of at most volumeSize bytes. Empty when
// volume 0 cannot hold the header and the catalog, or a volume no payload.
std::vector<Bytes> BuildSplitArchive(const Bytes& stub, const std::vector<StoredEntry>& entries,
                                     const ArchiveOptions& options, uint64_t volumeSize);

// CRC-32 of a whole byte string.
uint32_t Crc32Of(const Bytes& bytes);

}  // namespace pack
