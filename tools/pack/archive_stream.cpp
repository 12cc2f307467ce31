#include "pack/archive_stream.h"

#include <algorithm>

#include "pack/crc_combine.h"

namespace pack {
namespace {

constexpr size_t kHeaderBytes = 1 + 4 + 2 + 2;  // flags, magic, entry count, two version bytes
constexpr size_t kDescriptorBytes = 30;          // before the path
constexpr size_t kVolumeFraming = 7;             // flags byte, volume number, CRC
constexpr uint8_t kEncryptedFlag = 0x01;
constexpr uint8_t kSplitFlag = 0x02;
constexpr uint8_t kLastVolumeFlag = 0x04;
constexpr int kCatalogKeyPosition = 8;  // the catalog's stream goes on from the header's
constexpr size_t kCipherChunk = 65536;

void Put(Bytes& out, uint64_t value, int width) {
    for (int i = 0; i < width; ++i) out.push_back(uint8_t(value >> (8 * i)));
}

// XOR with the key stream from a position, as the extractor deciphers.
void Encipher(const unsigned char* key, int& position, uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        p[i] ^= key[position];
        if (++position == kKeySize) position = 0;
    }
}

void AppendDescriptor(Bytes& out, const CatalogRecord& r) {
    Put(out, uint32_t(r.fileSize), 4);
    Put(out, uint32_t(r.storedSize), 4);
    Put(out, uint32_t(r.rawPrefixSize), 4);
    Put(out, uint32_t(r.codedSize), 4);
    Put(out, uint64_t(r.dataOffset), 8);
    Put(out, r.crc, 4);
    Put(out, uint16_t(r.nameLength.value_or(int16_t(r.path.size()))), 2);
    out.insert(out.end(), r.path.begin(), r.path.end());
}

}  // namespace

bool MemoryVolumes::Create(size_t n) {
    volumes.resize(n + 1);
    return true;
}

bool MemoryVolumes::Append(const uint8_t* data, size_t size) {
    volumes.back().insert(volumes.back().end(), data, data + size);
    return true;
}

bool MemoryVolumes::Patch(size_t n, uint64_t offset, const uint8_t* data, size_t size) {
    Bytes& v = volumes.at(n);
    if (offset + size > v.size()) return false;
    std::copy(data, data + size, v.begin() + std::ptrdiff_t(offset));
    return true;
}

size_t CatalogEnd(const std::vector<std::string>& paths) {
    size_t end = kHeaderBytes;
    for (const std::string& p : paths) end += kDescriptorBytes + p.size();
    return end;
}

ArchiveStream::ArchiveStream(VolumeFiles& files, const ArchiveOptions& options, uint64_t volumeSize)
    : m_files(files), m_options(options), m_volumeSize(volumeSize) {}

uint64_t ArchiveStream::Capacity(size_t n) const {
    return m_volumeSize - kVolumeFraming - (n == 0 ? m_prefixSize : 0);
}

uint8_t ArchiveStream::VolumeFlags(size_t n, bool last) const {
    return uint8_t((n == 0 ? m_bodyFlags | kSplitFlag : 0) | (last ? kLastVolumeFlag : 0));
}

uint64_t ArchiveStream::FileOffsetInVolume0(uint64_t at) const { return m_prefixSize + (Split() ? 3 : 0) + at; }

bool ArchiveStream::Begin(const Bytes& prefix, const std::vector<std::string>& paths) {
    const size_t entryCount = paths.size();
    const size_t catalogBytes = CatalogEnd(paths) - kHeaderBytes;
    m_prefixSize = prefix.size();
    m_catalogBytes = catalogBytes;
    if (Split() && (m_volumeSize <= kVolumeFraming ||
                    m_volumeSize < m_prefixSize + kVolumeFraming + kHeaderBytes + catalogBytes))
        return false;
    if (m_options.encrypted) DeriveKey(m_options.key.c_str(), m_key);
    m_bodyFlags = uint8_t((m_options.encrypted ? kEncryptedFlag : 0) | m_options.extraFlags);

    if (!m_files.Create(0) || !m_files.Append(prefix.data(), prefix.size())) return false;
    m_volumes.push_back({0, 0, prefix.size(), 0});
    if (Split()) {
        const uint8_t framing[3] = {VolumeFlags(0, false), 0, 0};
        if (!m_files.Append(framing, sizeof framing)) return false;
        m_volumes.back().fileSize += sizeof framing;
    }

    Bytes header;
    header.push_back(m_bodyFlags);
    for (size_t i = 0; i < 4; ++i) header.push_back(i < m_options.magic.size() ? uint8_t(m_options.magic[i]) : 0);
    Put(header, uint16_t(m_options.entryCount.value_or(int16_t(entryCount))), 2);
    header.push_back(uint8_t(m_options.subVersion));
    header.push_back(uint8_t(m_options.version));
    if (m_options.encrypted) {
        for (int i = 0; i < kKeySize; ++i) header[1 + size_t(i % 4)] ^= m_key[i];  // the magic's mask
        int position = 0;
        Encipher(m_key, position, header.data() + 1, header.size() - 1);
    }
    // The catalog is known only at the end; zeros hold its place.
    header.resize(kHeaderBytes + catalogBytes, 0);
    return WriteBody(header.data(), header.size());
}

int64_t ArchiveStream::BeginEntry() {
    m_keyPos = int((m_body - 1) % kKeySize);
    return int64_t(m_body);
}

bool ArchiveStream::Append(const uint8_t* data, size_t size) {
    if (!m_options.encrypted) return WriteBody(data, size);
    for (size_t at = 0; at < size; at += kCipherChunk) {
        const size_t n = std::min(kCipherChunk, size - at);
        m_cipher.assign(data + at, data + at + n);
        Encipher(m_key, m_keyPos, m_cipher.data(), n);
        if (!WriteBody(m_cipher.data(), n)) return false;
    }
    return true;
}

bool ArchiveStream::WriteBody(const uint8_t* data, size_t size) {
    while (size > 0) {
        if (Split() && m_body - m_volumes.back().start == Capacity(m_volumes.size() - 1)) {
            // The catalog is still zeros: the CRC is set right at the end.
            if (!CloseVolume(false, 0) || !OpenVolume()) return false;
        }
        size_t n = size;
        if (Split()) n = size_t(std::min<uint64_t>(n, Capacity(m_volumes.size() - 1) - (m_body - m_volumes.back().start)));
        if (!m_files.Append(data, n)) return false;
        if (Split()) m_crc.Update(data, n);
        Volume& v = m_volumes.back();
        m_body += n;
        v.end = m_body;
        v.fileSize += n;
        data += n;
        size -= n;
    }
    return true;
}

bool ArchiveStream::OpenVolume() {
    const size_t n = m_volumes.size();
    const uint8_t framing[3] = {VolumeFlags(n, false), uint8_t(n), uint8_t(n >> 8)};
    if (!m_files.Create(n) || !m_files.Append(framing, sizeof framing)) return false;
    m_volumes.push_back({m_body, m_body, sizeof framing, 0});
    return true;
}

bool ArchiveStream::CloseVolume(bool last, uint32_t correction) {
    Volume& v = m_volumes.back();
    v.crcValue = m_crc.Value();
    Bytes crc;
    Put(crc, ~v.crcValue ^ correction, 4);
    if (!m_files.Append(crc.data(), crc.size())) return false;
    v.fileSize += crc.size();
    if (!last) return true;
    const uint8_t flags = VolumeFlags(m_volumes.size() - 1, true);
    return m_files.Patch(m_volumes.size() - 1, m_volumes.size() == 1 ? m_prefixSize : 0, &flags, 1);
}

bool ArchiveStream::Finish(const std::vector<CatalogRecord>& records) {
    Bytes catalog;
    for (const CatalogRecord& r : records) AppendDescriptor(catalog, r);
    if (catalog.size() != m_catalogBytes) return false;
    if (m_options.encrypted) {
        int position = kCatalogKeyPosition;
        Encipher(m_key, position, catalog.data(), catalog.size());
    }
    if (!m_files.Patch(0, FileOffsetInVolume0(kHeaderBytes), catalog.data(), catalog.size())) return false;
    if (!Split()) return true;

    // Each volume's CRC runs over the catalog: what writing it changed, carried
    // to the volume's end, is XORed into the CRC written with zeros in its place.
    const uint64_t catalogEnd = kHeaderBytes + catalog.size();
    auto correction = [&](const Volume& v) { return CrcOfChange(catalog.data(), catalog.size(), v.end - catalogEnd); };
    for (size_t n = 0; n + 1 < m_volumes.size(); ++n) {
        Bytes crc;
        Put(crc, ~m_volumes[n].crcValue ^ correction(m_volumes[n]), 4);
        if (!m_files.Patch(n, m_volumes[n].fileSize - crc.size(), crc.data(), crc.size())) return false;
    }
    return CloseVolume(true, correction(m_volumes.back()));
}

uint64_t ArchiveStream::BytesWritten() const {
    uint64_t total = 0;
    for (const Volume& v : m_volumes) total += v.fileSize;
    return total;
}

}  // namespace pack
