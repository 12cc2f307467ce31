#include "pack/archive_writer.h"

#include <algorithm>

#include "archive/crypt.h"
#include "common/crc32.h"

namespace pack {
namespace {

// Enciphers as the extractor deciphers: XOR with the key stream from a position.
class KeyStream {
public:
    KeyStream(const unsigned char* key, int position) : m_key(key), m_pos(position) {}
    void Apply(uint8_t* p, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            p[i] ^= m_key[m_pos];
            if (++m_pos == kKeySize) m_pos = 0;
        }
    }

private:
    const unsigned char* m_key;
    int m_pos;
};

constexpr size_t kVolumeFraming = 7;  // flags byte, volume number, CRC
constexpr uint8_t kSplitFlag = 0x02;
constexpr uint8_t kLastVolumeFlag = 0x04;

void Put(Bytes& out, uint64_t value, int width) {
    for (int i = 0; i < width; ++i) out.push_back(uint8_t(value >> (8 * i)));
}

}  // namespace

Bytes MarkerSearchForm() {
    const char stored[] = "beginarchive";
    Bytes marker;
    for (const char* p = stored; *p; ++p) marker.push_back(uint8_t(*p + 1));
    return marker;
}

uint32_t Crc32Of(const Bytes& bytes) {
    CCrc32 crc;
    return ~crc.Update(bytes.data(), bytes.size());
}

Bytes BuildArchiveBody(const std::vector<StoredEntry>& entries, const ArchiveOptions& options) {
    unsigned char key[kKeySize] = {};
    if (options.encrypted) DeriveKey(options.key.c_str(), key);

    Bytes header;
    for (size_t i = 0; i < 4; ++i) header.push_back(i < options.magic.size() ? uint8_t(options.magic[i]) : 0);
    Put(header, uint16_t(options.entryCount.value_or(int16_t(entries.size()))), 2);
    header.push_back(uint8_t(options.subVersion));
    header.push_back(uint8_t(options.version));

    // Data begins right behind the catalog; offsets count from the flags byte.
    int64_t offset = int64_t(CatalogEnd(entries));

    Bytes catalog;
    for (const StoredEntry& e : entries) {
        Put(catalog, uint32_t(e.fileSize), 4);
        Put(catalog, uint32_t(e.storedSize.value_or(int32_t(e.data.size()))), 4);
        Put(catalog, uint32_t(e.rawPrefixSize), 4);
        Put(catalog, uint32_t(e.codedSize), 4);
        Put(catalog, uint64_t(e.dataOffset.value_or(offset)), 8);
        Put(catalog, e.crc, 4);
        Put(catalog, uint16_t(e.nameLength.value_or(int16_t(e.path.size()))), 2);
        catalog.insert(catalog.end(), e.path.begin(), e.path.end());
        offset += int64_t(e.data.size());
    }

    Bytes body;
    body.push_back(uint8_t((options.encrypted ? 1 : 0) | options.extraFlags));
    const size_t headerAt = body.size();
    body.insert(body.end(), header.begin(), header.end());
    body.insert(body.end(), catalog.begin(), catalog.end());
    if (options.encrypted) {
        for (int i = 0; i < kKeySize; ++i) body[headerAt + size_t(i % 4)] ^= key[i];  // the magic's mask
        KeyStream(key, 0).Apply(body.data() + headerAt, body.size() - headerAt);
    }
    for (const StoredEntry& e : entries) {
        const size_t at = body.size();
        body.insert(body.end(), e.data.begin(), e.data.end());
        // Each entry restarts the stream at (offset - 1) mod 43, its true offset.
        if (options.encrypted) KeyStream(key, int((at - 1) % kKeySize)).Apply(body.data() + at, e.data.size());
    }
    return body;
}

size_t CatalogEnd(const std::vector<StoredEntry>& entries) {
    size_t end = 1 + 4 + 2 + 2;
    for (const StoredEntry& e : entries) end += 30 + e.path.size();
    return end;
}

std::vector<Bytes> FrameVolumes(const Bytes& prefix, const Bytes& body, const std::vector<size_t>& payloadSizes) {
    std::vector<Bytes> volumes;
    CCrc32 crc;
    size_t at = 0;
    for (size_t n = 0; n < payloadSizes.size(); ++n) {
        const bool last = n + 1 == payloadSizes.size();
        const size_t size = last ? body.size() - at : std::min(payloadSizes[n], body.size() - at);
        Bytes v = n == 0 ? prefix : Bytes();
        const uint8_t flags = n == 0 ? uint8_t(body.empty() ? 0 : body[0]) | kSplitFlag : 0;
        v.push_back(uint8_t(flags | (last ? kLastVolumeFlag : 0)));
        Put(v, n, 2);
        v.insert(v.end(), body.begin() + long(at), body.begin() + long(at + size));
        crc.Update(body.data() + at, size);
        Put(v, ~crc.Value(), 4);
        at += size;
        volumes.push_back(std::move(v));
    }
    return volumes;
}

std::vector<Bytes> BuildSplitArchive(const Bytes& stub, const std::vector<StoredEntry>& entries,
                                     const ArchiveOptions& options, uint64_t volumeSize) {
    Bytes prefix = stub;
    const Bytes marker = MarkerSearchForm();
    prefix.insert(prefix.end(), marker.begin(), marker.end());
    const Bytes body = BuildArchiveBody(entries, options);
    if (volumeSize < prefix.size() + kVolumeFraming + CatalogEnd(entries) || volumeSize <= kVolumeFraming) return {};
    std::vector<size_t> sizes = {size_t(volumeSize) - prefix.size() - kVolumeFraming};
    for (size_t placed = sizes[0]; placed < body.size(); placed += sizes.back())
        sizes.push_back(size_t(volumeSize) - kVolumeFraming);
    return FrameVolumes(prefix, body, sizes);
}

Bytes BuildArchive(const Bytes& stub, const std::vector<StoredEntry>& entries, const ArchiveOptions& options) {
    Bytes image = stub;
    const Bytes marker = MarkerSearchForm();
    image.insert(image.end(), marker.begin(), marker.end());
    const Bytes body = BuildArchiveBody(entries, options);
    image.insert(image.end(), body.begin(), body.end());
    return image;
}

}  // namespace pack
