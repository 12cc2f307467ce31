#include "pack/byte_source.h"

#include <cstring>

#include "system/system.h"

namespace pack {

bool MemorySource::ReadAt(uint64_t offset, void* buffer, size_t n) {
    if (offset > m_bytes.size() || n > m_bytes.size() - offset) return false;
    if (n > 0) std::memcpy(buffer, m_bytes.data() + offset, n);
    return true;
}

FileSource::~FileSource() {
    if (m_fd >= 0) sys::Close(m_fd);
}

bool FileSource::Open(const std::string& path) {
    m_fd = sys::OpenRead(path);
    return m_fd >= 0 && sys::FileSize(m_fd, m_size);
}

bool FileSource::ReadAt(uint64_t offset, void* buffer, size_t n) { return sys::ReadAt(m_fd, offset, buffer, n); }

bool FileSource::Unchanged() const {
    uint64_t size = 0;
    return sys::FileSize(m_fd, size) && size == m_size;
}

}  // namespace pack
