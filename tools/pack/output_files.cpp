#include "pack/output_files.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>

#include "system/system.h"
#include "volumes/volume_name.h"

namespace pack {
namespace {

constexpr size_t kPendingLimit = 1 << 20;  // appends are written in pieces of about this size
constexpr size_t kSlots = size_t(kLastVolumeNumber) + 1;

// The temporary files that exist, for the interruption's clean-up, which may
// only read them (the names live as long as their slots are set).
std::atomic<const char*> g_temporaries[kSlots];

void RemoveTemporaries() {
    for (auto& slot : g_temporaries)
        if (const char* path = slot.load()) sys::RemoveFileAtOnce(path);
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

void RemoveTemporariesOnSignals() { sys::OnInterrupt(RemoveTemporaries); }

OutputFiles::OutputFiles(std::string archivePath) : m_archive(std::move(archivePath)) {}

OutputFiles::~OutputFiles() {
    FlushPending();
    for (size_t n = 0; n < m_volumes.size(); ++n) {
        Volume& v = m_volumes[n];
        if (v.fd >= 0) sys::Close(v.fd);
        if (!m_committed) sys::RemoveFile(v.temporary);
        g_temporaries[n].store(nullptr);
    }
}

std::string OutputFiles::FinalName(size_t n) const {
    char path[PATH_MAX];
    return VolumePath(m_archive.c_str(), int(n), path, sizeof path) ? path : m_archive;
}

bool OutputFiles::Fail(size_t n) {
    m_error = "cannot write " + FinalName(n) + ": " + std::strerror(errno);
    return false;
}

bool OutputFiles::Create(size_t n) {
    if (n < m_volumes.size()) return true;  // made early, to know it can be made before any input is read
    if (!FlushPending()) return false;
    if (n >= kSlots) {
        m_outOfNames = true;
        errno = EFBIG;
        return Fail(n);
    }
    // The previous volume is done but for its CRC, which a patch sets.
    if (m_volumes.size() > 1 && m_volumes.back().fd >= 0) {
        sys::Close(m_volumes.back().fd);
        m_volumes.back().fd = -1;
    }
    Volume& v = m_volumes.emplace_back();
    v.final = FinalName(n);
    sys::Status st;
    if (sys::GetStatus(v.final, true, st) && (st.kind == sys::Kind::Folder || !sys::IsWritable(v.final))) {
        errno = st.kind == sys::Kind::Folder ? EISDIR : EACCES;
        return Fail(n);
    }
    v.temporary = FolderOf(v.final) + "/." + NameOf(v.final) + ".trelk-XXXXXX";
    g_temporaries[n].store(v.temporary.c_str());
    v.fd = sys::CreateUnique(v.temporary);
    if (v.fd < 0) {
        g_temporaries[n].store(nullptr);
        return Fail(n);
    }
    return true;
}

bool OutputFiles::Append(const uint8_t* data, size_t size) {
    if (m_pending.size() + size > kPendingLimit && !FlushPending()) return false;
    if (size >= kPendingLimit) {
        if (!sys::WriteAll(m_volumes.back().fd, data, size)) return Fail(m_volumes.size() - 1);
        return true;
    }
    m_pending.insert(m_pending.end(), data, data + size);
    return true;
}

bool OutputFiles::FlushPending() {
    if (m_pending.empty()) return true;
    const bool written = sys::WriteAll(m_volumes.back().fd, m_pending.data(), m_pending.size());
    m_pending.clear();
    return written || Fail(m_volumes.size() - 1);
}

int OutputFiles::Descriptor(size_t n) {
    Volume& v = m_volumes[n];
    if (v.fd < 0) v.fd = sys::OpenWrite(v.temporary);
    return v.fd;
}

bool OutputFiles::Patch(size_t n, uint64_t offset, const uint8_t* data, size_t size) {
    if (n + 1 == m_volumes.size() && !FlushPending()) return false;
    const int fd = Descriptor(n);
    if (fd < 0 || !sys::WriteAt(fd, offset, data, size)) return Fail(n);
    if (n != 0 && n + 1 != m_volumes.size()) {
        sys::Close(m_volumes[n].fd);
        m_volumes[n].fd = -1;
    }
    return true;
}

bool OutputFiles::Commit() {
    if (!FlushPending()) return false;
    for (size_t k = 1; k <= m_volumes.size(); ++k) {
        const size_t n = k % m_volumes.size();  // volume 0 last
        // Volume 0 is the program; the others are data.
        const int fd = Descriptor(n);
        if (fd < 0 || !sys::SetProgramMode(fd, n == 0) || !sys::Close(fd)) {
            m_volumes[n].fd = -1;
            return Fail(n);
        }
        m_volumes[n].fd = -1;
        if (!sys::Replace(m_volumes[n].temporary, m_volumes[n].final)) return Fail(n);
        g_temporaries[n].store(nullptr);
    }
    m_committed = true;
    return true;
}

bool OutputFiles::TemporaryId(uint64_t& device, uint64_t& inode) const {
    sys::Status st;
    if (m_volumes.empty() || !sys::GetStatus(m_volumes[0].temporary, false, st)) return false;
    device = st.device;
    inode = st.inode;
    return true;
}

}  // namespace pack
