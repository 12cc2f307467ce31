#pragma once
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace pack {

// One line of the progress bar, at most width characters:
// "[#####.....]  3/10 files  1.2/5.0 MB  .\dir\file", the file name cut at its front.
std::string ProgressLine(size_t filesDone, size_t files, uint64_t bytesDone, uint64_t bytes,
                         const std::string& current, size_t width);

// A progress bar redrawn in place on a terminal, at most ten times a second;
// does nothing when disabled.
class ProgressBar {
public:
    ProgressBar(FILE* out, bool enabled, size_t files, uint64_t bytes);
    ~ProgressBar() { Clear(); }

    void Show(size_t filesDone, uint64_t bytesDone, const std::string& current);
    // Removes the line so that other output starts on a clean line.
    void Clear();

private:
    FILE* m_out;
    bool m_enabled;
    size_t m_files;
    uint64_t m_bytes;
    size_t m_width;
    bool m_shown = false;
    std::chrono::steady_clock::time_point m_lastDrawn;
};

}  // namespace pack
