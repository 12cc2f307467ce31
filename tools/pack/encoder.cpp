#include "pack/encoder.h"

#include <algorithm>
#include <vector>

namespace pack {
void EncodeBlock(const uint16_t* words, int count, BlockHistory& history, const EncodeOptions& options,
                 Bytes& out) {
    const BlockChoice choice = ChooseBlock(words, count, history, options);
    const size_t at = out.size();
    out.resize(at + kMaxBlockBytes + kBlockSlack);
    uint8_t* end = WriteBlock(words, count, history, choice.header, out.data() + at);
    out.resize(size_t(end - out.data()));
    history = HistoryAfter(words, count, history, choice.header);
}

void AppendFiller(FillerKind kind, Bytes& out) {
    if (kind == FillerKind::Padded) {
        out.push_back(0x00);
        out.push_back(0x00);
    } else {
        out.push_back(0x40);
    }
}

Bytes EncodeWords(const uint16_t* words, size_t count, const EncodeOptions& options) {
    Bytes out;
    BlockHistory history;
    size_t blocks = 0;
    for (size_t done = 0; done < count; done += kBlockWords, ++blocks) {
        const int n = int(std::min<size_t>(kBlockWords, count - done));
        EncodeBlock(words + done, n, history, options, out);
    }
    // The extractor reads at least one step, even when there are no words.
    for (size_t filler = 0; blocks == 0 || blocks % kBlocksPerStep != 0; ++blocks, ++filler) {
        const bool padded = options.filler == FillerKind::Padded ||
                            (options.filler == FillerKind::Alternating && filler % 2 == 1);
        AppendFiller(padded ? FillerKind::Padded : FillerKind::Flagged, out);
    }
    return out;
}

namespace {

uint32_t ReadLe(const Bytes& b, size_t at, int width) {
    uint32_t value = 0;
    for (int i = 0; i < width; ++i) value |= uint32_t(b[at + size_t(i)]) << (8 * i);
    return value;
}

bool HasTag(const Bytes& b, size_t at, const char* tag) {
    return at + 4 <= b.size() && std::equal(tag, tag + 4, b.begin() + std::ptrdiff_t(at));
}

// PCM directly, or the extensible format whose sub-format is PCM; 16 bits a sample.
bool IsPcm16(const Bytes& b, size_t body, uint32_t size) {
    if (size < 16 || body + 16 > b.size()) return false;
    const uint32_t tag = ReadLe(b, body, 2);
    const uint32_t bits = ReadLe(b, body + 14, 2);
    bool pcm = tag == 1;
    if (tag == 0xFFFE && size >= 26 && body + 26 <= b.size()) pcm = ReadLe(b, body + 24, 2) == 1;
    return pcm && bits == 16;
}

std::vector<uint16_t> LittleEndianWords(const Bytes& b, size_t offset, size_t count) {
    std::vector<uint16_t> words(count);
    for (size_t i = 0; i < count; ++i) words[i] = uint16_t(ReadLe(b, offset + 2 * i, 2));
    return words;
}

}  // namespace

StoredEntry CodedEntry(const std::string& path, const Bytes& content, size_t prefix, size_t wordCount,
                       const EncodeOptions& options) {
    const std::vector<uint16_t> words = LittleEndianWords(content, prefix, wordCount);
    StoredEntry e;
    e.path = path;
    e.fileSize = int32_t(content.size());
    e.rawPrefixSize = int32_t(prefix);
    e.codedSize = int32_t(2 * wordCount);
    e.crc = Crc32Of(content);
    e.data.assign(content.begin(), content.begin() + std::ptrdiff_t(prefix));
    const Bytes coded = EncodeWords(words.data(), words.size(), options);
    e.data.insert(e.data.end(), coded.begin(), coded.end());
    e.data.insert(e.data.end(), content.begin() + std::ptrdiff_t(prefix + 2 * wordCount), content.end());
    return e;
}

StoredEntry RawEntry(const std::string& path, const Bytes& content, const EncodeOptions& options) {
    StoredEntry e;
    e.path = path;
    e.fileSize = int32_t(content.size());
    e.rawPrefixSize = int32_t(content.size());
    e.crc = Crc32Of(content);
    e.data = content;
    const Bytes filler = EncodeWords(nullptr, 0, options);
    e.data.insert(e.data.end(), filler.begin(), filler.end());
    return e;
}

std::optional<WaveData> FindWaveSamples(const Bytes& content) {
    if (!HasTag(content, 0, "RIFF") || !HasTag(content, 8, "WAVE")) return std::nullopt;
    bool pcm16 = false;
    for (size_t pos = 12; pos + 8 <= content.size();) {
        const uint32_t size = ReadLe(content, pos + 4, 4);
        const size_t body = pos + 8;
        if (HasTag(content, pos, "fmt ")) pcm16 = IsPcm16(content, body, size);
        if (HasTag(content, pos, "data")) {
            if (!pcm16) return std::nullopt;
            return WaveData{body, std::min<size_t>(size, content.size() - body)};
        }
        pos = body + size_t(size) + (size & 1u);  // chunks are padded to even lengths
    }
    return std::nullopt;
}

StoredEntry EncodeFile(const std::string& storedPath, const Bytes& content, const EncodeOptions& options) {
    if (const std::optional<WaveData> wave = FindWaveSamples(content)) {
        if (wave->size >= 2) return CodedEntry(storedPath, content, wave->offset, wave->size / 2, options);
        return RawEntry(storedPath, content, options);
    }
    StoredEntry raw = RawEntry(storedPath, content, options);
    StoredEntry coded = CodedEntry(storedPath, content, 0, content.size() / 2, options);
    return coded.codedSize > 0 && coded.data.size() < raw.data.size() ? coded : raw;
}

}  // namespace pack
