#include "pack/archive_writer.h"

#include <algorithm>

#include "archive/crypt.h"
#include "pack/archive_stream.h"
#include "common/crc32.h"

namespace pack {
namespace {

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

Bytes ImagePrefix(const Bytes& stub) {
    Bytes prefix = stub;
    const Bytes marker = MarkerSearchForm();
    prefix.insert(prefix.end(), marker.begin(), marker.end());
    return prefix;
}

uint32_t Crc32Of(const Bytes& bytes) {
    CCrc32 crc;
    return ~crc.Update(bytes.data(), bytes.size());
}

namespace {

// The archive as the streaming writer makes it, into memory, with the
// fixtures' knobs in place of the true values where they are set.
std::vector<Bytes> Build(const Bytes& prefix, const std::vector<StoredEntry>& entries, const ArchiveOptions& options,
                         uint64_t volumeSize) {
    MemoryVolumes files;
    ArchiveStream stream(files, options, volumeSize);
    std::vector<std::string> paths;
    for (const StoredEntry& e : entries) paths.push_back(e.path);
    if (!stream.Begin(prefix, paths)) return {};
    std::vector<CatalogRecord> records;
    for (const StoredEntry& e : entries) {
        const int64_t offset = stream.BeginEntry();
        stream.Append(e.data.data(), e.data.size());
        records.push_back({e.path, e.fileSize, e.storedSize.value_or(int32_t(e.data.size())), e.rawPrefixSize,
                           e.codedSize, e.dataOffset.value_or(offset), e.crc, e.nameLength});
    }
    if (!stream.Finish(records)) return {};
    return files.volumes;
}

}  // namespace

Bytes BuildArchiveBody(const std::vector<StoredEntry>& entries, const ArchiveOptions& options) {
    return Build({}, entries, options, 0).at(0);
}

size_t CatalogEnd(const std::vector<StoredEntry>& entries) {
    std::vector<std::string> paths;
    for (const StoredEntry& e : entries) paths.push_back(e.path);
    return CatalogEnd(paths);
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
    return Build(ImagePrefix(stub), entries, options, volumeSize);
}

Bytes BuildArchive(const Bytes& stub, const std::vector<StoredEntry>& entries, const ArchiveOptions& options) {
    return Build(ImagePrefix(stub), entries, options, 0).at(0);
}

}  // namespace pack
