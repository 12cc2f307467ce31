#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/crypt.h"
#include "common/crc32.h"
#include "pack/archive_writer.h"

namespace pack {

// The files an archive goes to: volume 0, 1, ... each written front to back
// in turn, and any of them patched afterwards.
class VolumeFiles {
public:
    virtual ~VolumeFiles() = default;
    // Begins volume n, the next one; appends go to it from now on.
    virtual bool Create(size_t n) = 0;
    virtual bool Append(const uint8_t* data, size_t size) = 0;
    virtual bool Patch(size_t n, uint64_t offset, const uint8_t* data, size_t size) = 0;
};

class MemoryVolumes : public VolumeFiles {
public:
    bool Create(size_t n) override;
    bool Append(const uint8_t* data, size_t size) override;
    bool Patch(size_t n, uint64_t offset, const uint8_t* data, size_t size) override;
    std::vector<Bytes> volumes;
};

// One descriptor of the catalog, as stored.
struct CatalogRecord {
    std::string path;  // ".\dir\file"
    int32_t fileSize = 0;
    int32_t storedSize = 0;
    int32_t rawPrefixSize = 0;
    int32_t codedSize = 0;
    int64_t dataOffset = 0;
    uint32_t crc = 0;
    std::optional<int16_t> nameLength;  // a fixture's knob: stored in place of the path's length
};

// Bytes of the header and the catalog at the front of the archive: what the
// extractor reads from volume 0 alone in a split archive.
size_t CatalogEnd(const std::vector<std::string>& paths);

// Writes an archive front to back without holding it: the prefix (stub and
// marker), the header, room for the catalog, every entry's data as it comes,
// and at the end the catalog itself. A split archive's volumes are framed as
// they fill; their CRCs, which run over the catalog too, are set right at the
// end from what the catalog changed.
class ArchiveStream {
public:
    // volumeSize 0 writes one file; otherwise volumes of at most that many bytes.
    ArchiveStream(VolumeFiles& files, const ArchiveOptions& options, uint64_t volumeSize);

    // Writes the prefix and the header, and keeps room for the catalog of
    // entries with these stored paths; false when volume 0 cannot hold them
    // or a write fails.
    bool Begin(const Bytes& prefix, const std::vector<std::string>& paths);
    // Where the next entry's data begins, counted from the flags byte as the
    // catalog counts; the entry's key stream starts there.
    int64_t BeginEntry();
    bool Append(const uint8_t* data, size_t size);
    // Writes the catalog (of the paths Begin was given, in their order), the
    // volumes' CRCs and the last volume's flag.
    bool Finish(const std::vector<CatalogRecord>& records);

    size_t VolumeCount() const { return m_volumes.size(); }
    uint64_t BytesWritten() const;

private:
    struct Volume {
        uint64_t start = 0;       // the first body byte it holds
        uint64_t end = 0;         // one past the last
        uint64_t fileSize = 0;    // bytes written to the file so far
        uint32_t crcValue = 0;    // the running value after its payload, catalog unwritten
    };

    bool Split() const { return m_volumeSize > 0; }
    uint64_t Capacity(size_t n) const;
    bool WriteBody(const uint8_t* data, size_t size);
    bool OpenVolume();
    bool CloseVolume(bool last, uint32_t correction);
    uint8_t VolumeFlags(size_t n, bool last) const;
    // Where body byte `at` of volume 0 lies in its file.
    uint64_t FileOffsetInVolume0(uint64_t at) const;

    VolumeFiles& m_files;
    ArchiveOptions m_options;
    uint64_t m_volumeSize;
    unsigned char m_key[kKeySize] = {};
    int m_keyPos = 0;
    size_t m_prefixSize = 0;
    size_t m_catalogBytes = 0;
    uint64_t m_body = 0;  // body bytes written
    uint8_t m_bodyFlags = 0;
    CCrc32 m_crc;
    std::vector<Volume> m_volumes;
    Bytes m_cipher;  // enciphered data on its way out, kept from one append to the next
};

}  // namespace pack
