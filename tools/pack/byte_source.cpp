#include "pack/byte_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace pack {

bool MemorySource::ReadAt(uint64_t offset, void* buffer, size_t n) {
    if (offset > m_bytes.size() || n > m_bytes.size() - offset) return false;
    if (n > 0) std::memcpy(buffer, m_bytes.data() + offset, n);
    return true;
}

FileSource::~FileSource() {
    if (m_fd >= 0) close(m_fd);
}

bool FileSource::Open(const std::string& path) {
    m_fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0) return false;
    struct stat st;
    if (fstat(m_fd, &st) != 0) return false;
    m_size = uint64_t(st.st_size);
    return true;
}

bool FileSource::ReadAt(uint64_t offset, void* buffer, size_t n) {
    auto* p = static_cast<uint8_t*>(buffer);
    while (n > 0) {
        const ssize_t got = pread(m_fd, p, n, off_t(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (got == 0) errno = 0;  // the file ended early: it changed since it was opened
            return false;
        }
        p += got;
        offset += uint64_t(got);
        n -= size_t(got);
    }
    return true;
}

bool FileSource::Unchanged() const {
    struct stat st;
    return fstat(m_fd, &st) == 0 && uint64_t(st.st_size) == m_size;
}

}  // namespace pack
