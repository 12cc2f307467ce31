#pragma once
// How one fuzz input stands for several volume files: the pieces between
// separators are setup.exe, setup.A01, setup.A02, ...
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace fuzz {

constexpr char kVolumeSeparator[] = "#VOLUME#";
constexpr size_t kMaxVolumes = 64;

inline std::vector<std::pair<const uint8_t*, size_t>> SplitVolumes(const uint8_t* data, size_t size) {
    std::vector<std::pair<const uint8_t*, size_t>> out;
    const size_t sep = sizeof kVolumeSeparator - 1;
    size_t start = 0;
    for (size_t i = 0; i + sep <= size && out.size() + 1 < kMaxVolumes;) {
        if (std::memcmp(data + i, kVolumeSeparator, sep) == 0) {
            out.emplace_back(data + start, i - start);
            i += sep;
            start = i;
        } else {
            ++i;
        }
    }
    out.emplace_back(data + start, size - start);
    return out;
}

}  // namespace fuzz
