#include "pack/progress.h"

#include "system/system.h"

namespace pack {
namespace {

constexpr size_t kBarCells = 20;

std::string Megabytes(uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", double(bytes) / (1024.0 * 1024.0));
    return text;
}


}  // namespace

std::string ProgressLine(size_t filesDone, size_t files, uint64_t bytesDone, uint64_t bytes,
                         const std::string& current, size_t width) {
    const size_t filled = bytes == 0 ? (files == 0 ? kBarCells : kBarCells * filesDone / files)
                                     : size_t(kBarCells * bytesDone / bytes);
    std::string line = "[" + std::string(filled, '#') + std::string(kBarCells - filled, '.') + "]  " +
                       std::to_string(filesDone) + "/" + std::to_string(files) + " files  " +
                       Megabytes(bytesDone) + "/" + Megabytes(bytes) + " MB";
    if (line.size() >= width) return line.substr(0, width);
    const size_t room = width - line.size();
    if (!current.empty() && room > 2 + 3) {
        // Keep the end of the path: the file's own name is what tells.
        std::string name = current;
        if (name.size() > room - 2) name = "..." + name.substr(name.size() - (room - 2 - 3));
        line += "  " + name;
    }
    return line;
}

ProgressBar::ProgressBar(FILE* out, bool enabled, size_t files, uint64_t bytes)
    : m_out(out), m_enabled(enabled), m_files(files), m_bytes(bytes), m_width(enabled ? sys::TerminalWidth(out) : 80) {}

void ProgressBar::Show(size_t filesDone, uint64_t bytesDone, const std::string& current) {
    if (!m_enabled) return;
    const auto now = std::chrono::steady_clock::now();
    if (m_shown && now - m_lastDrawn < std::chrono::milliseconds(100)) return;
    m_lastDrawn = now;
    // One column short of the width: a full line would wrap on some terminals.
    const std::string line = ProgressLine(filesDone, m_files, bytesDone, m_bytes, current, m_width - 1);
    std::fprintf(m_out, "\r%s\033[K", line.c_str());
    std::fflush(m_out);
    m_shown = true;
}

void ProgressBar::Clear() {
    if (!m_shown) return;
    std::fputs("\r\033[K", m_out);
    std::fflush(m_out);
    m_shown = false;
}

}  // namespace pack
