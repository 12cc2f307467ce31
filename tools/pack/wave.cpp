#include "pack/wave.h"

#include <algorithm>
#include <cstring>

namespace pack {
namespace {

// Small reads near each other, served from one window of the file, so that
// walking a wave's chunk headers costs few reads of the file itself.
class Peeker {
public:
    explicit Peeker(ByteSource& source) : m_source(source) {}

    bool Has(uint64_t at, uint64_t n) const { return at <= m_source.Size() && n <= m_source.Size() - at; }

    bool Le(uint64_t at, int width, uint32_t& value) {
        uint8_t b[4];
        if (!Get(at, b, size_t(width))) return false;
        value = 0;
        for (int i = 0; i < width; ++i) value |= uint32_t(b[i]) << (8 * i);
        return true;
    }

    bool Tag(uint64_t at, const char* tag) {
        uint8_t b[4];
        return Get(at, b, 4) && std::memcmp(b, tag, 4) == 0;
    }

private:
    static constexpr uint64_t kWindow = 65536;

    bool Get(uint64_t at, uint8_t* out, size_t n) {
        if (!Has(at, n)) return false;
        if (at < m_start || at + n > m_start + m_window.size()) {
            m_start = at;
            m_window.resize(size_t(std::min(kWindow, m_source.Size() - at)));
            if (!m_source.ReadAt(at, m_window.data(), m_window.size())) {
                m_window.clear();
                return false;
            }
        }
        std::memcpy(out, m_window.data() + (at - m_start), n);
        return true;
    }

    ByteSource& m_source;
    Bytes m_window;
    uint64_t m_start = 0;
};

bool IsPcm16(Peeker& file, uint64_t body, uint32_t size) {
    uint32_t tag, bits, sub;
    if (size < 16 || !file.Le(body, 2, tag) || !file.Le(body + 14, 2, bits)) return false;
    bool pcm = tag == 1;
    if (tag == 0xFFFE && size >= 26 && file.Le(body + 24, 2, sub)) pcm = sub == 1;
    return pcm && bits == 16;
}

}  // namespace

std::optional<WaveData> FindWaveSamples(ByteSource& source) {
    Peeker file(source);
    if (!file.Tag(0, "RIFF") || !file.Tag(8, "WAVE")) return std::nullopt;
    bool pcm16 = false;
    for (uint64_t pos = 12; file.Has(pos, 8);) {
        uint32_t size;
        if (!file.Le(pos + 4, 4, size)) return std::nullopt;
        const uint64_t body = pos + 8;
        if (file.Tag(pos, "fmt ")) pcm16 = IsPcm16(file, body, size);
        if (file.Tag(pos, "data")) {
            if (!pcm16) return std::nullopt;
            return WaveData{body, std::min<uint64_t>(size, source.Size() - body)};
        }
        pos = body + size + (size & 1u);  // chunks are padded to even lengths
    }
    return std::nullopt;
}

std::optional<WaveData> FindWaveSamples(const Bytes& content) {
    MemorySource source(content);
    return FindWaveSamples(source);
}

}  // namespace pack
