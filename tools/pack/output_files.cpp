#include "pack/output_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "volumes/volume_name.h"

namespace pack {
namespace {

constexpr size_t kPendingLimit = 1 << 20;  // appends are written in pieces of about this size
constexpr size_t kSlots = size_t(kLastVolumeNumber) + 1;

// The temporary files that exist, for the signal handler, which may only
// read them (the names live as long as their slots are set).
std::atomic<const char*> g_temporaries[kSlots];

extern "C" void RemoveTemporariesAndDie(int signal) {
    for (auto& slot : g_temporaries)
        if (const char* path = slot.load()) unlink(path);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

mode_t CurrentUmask() {
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
}

}  // namespace

void RemoveTemporariesOnSignals() {
    struct sigaction action {};
    action.sa_handler = RemoveTemporariesAndDie;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
    // A file-size limit then fails the write like a full disk, which is
    // reported and cleaned up, instead of ending the process on the spot.
    std::signal(SIGXFSZ, SIG_IGN);
}

OutputFiles::OutputFiles(std::string archivePath) : m_archive(std::move(archivePath)) {}

OutputFiles::~OutputFiles() {
    FlushPending();
    for (size_t n = 0; n < m_volumes.size(); ++n) {
        Volume& v = m_volumes[n];
        if (v.fd >= 0) close(v.fd);
        if (!m_committed) unlink(v.temporary.c_str());
        g_temporaries[n].store(nullptr);
    }
}

std::string OutputFiles::FinalName(size_t n) const {
    char path[PATH_MAX];
    return VolumePath(m_archive.c_str(), int(n), path, sizeof path) ? path : m_archive;
}

bool OutputFiles::Fail(size_t n, const char* what) {
    m_error = std::string(what) + " " + FinalName(n) + ": " + std::strerror(errno);
    return false;
}

bool OutputFiles::Create(size_t n) {
    if (n < m_volumes.size()) return true;  // made early, to know it can be made before any input is read
    if (!FlushPending()) return false;
    if (n >= kSlots) {
        m_outOfNames = true;
        errno = EFBIG;
        return Fail(n, "cannot write");
    }
    // The previous volume is done but for its CRC, which a patch sets.
    if (m_volumes.size() > 1 && m_volumes.back().fd >= 0) {
        close(m_volumes.back().fd);
        m_volumes.back().fd = -1;
    }
    Volume& v = m_volumes.emplace_back();
    v.final = FinalName(n);
    struct stat st;
    if (stat(v.final.c_str(), &st) == 0 && (S_ISDIR(st.st_mode) || access(v.final.c_str(), W_OK) != 0)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : EACCES;
        return Fail(n, "cannot write");
    }
    v.temporary = FolderOf(v.final) + "/." + NameOf(v.final) + ".trelk-XXXXXX";
    g_temporaries[n].store(v.temporary.c_str());
    v.fd = mkostemp(v.temporary.data(), O_CLOEXEC);
    if (v.fd < 0) {
        g_temporaries[n].store(nullptr);
        return Fail(n, "cannot write");
    }
    return true;
}

bool OutputFiles::Append(const uint8_t* data, size_t size) {
    if (m_pending.size() + size > kPendingLimit && !FlushPending()) return false;
    if (size >= kPendingLimit) {
        if (!WriteAll(m_volumes.back().fd, data, size)) return Fail(m_volumes.size() - 1, "cannot write");
        return true;
    }
    m_pending.insert(m_pending.end(), data, data + size);
    return true;
}

bool OutputFiles::FlushPending() {
    if (m_pending.empty()) return true;
    const bool written = WriteAll(m_volumes.back().fd, m_pending.data(), m_pending.size());
    m_pending.clear();
    return written || Fail(m_volumes.size() - 1, "cannot write");
}

int OutputFiles::Descriptor(size_t n) {
    Volume& v = m_volumes[n];
    if (v.fd < 0) v.fd = open(v.temporary.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    return v.fd;
}

bool OutputFiles::Patch(size_t n, uint64_t offset, const uint8_t* data, size_t size) {
    if (n + 1 == m_volumes.size() && !FlushPending()) return false;
    const int fd = Descriptor(n);
    while (fd >= 0 && size > 0) {
        const ssize_t w = pwrite(fd, data, size, off_t(offset));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) break;
        data += w;
        offset += uint64_t(w);
        size -= size_t(w);
    }
    if (fd < 0 || size > 0) return Fail(n, "cannot write");
    if (n != 0 && n + 1 != m_volumes.size()) {
        close(m_volumes[n].fd);
        m_volumes[n].fd = -1;
    }
    return true;
}

bool OutputFiles::Commit() {
    if (!FlushPending()) return false;
    const mode_t mask = CurrentUmask();
    for (size_t k = 1; k <= m_volumes.size(); ++k) {
        const size_t n = k % m_volumes.size();  // volume 0 last
        // Volume 0 is the program; the others are data.
        const int fd = Descriptor(n);
        if (fd < 0 || fchmod(fd, (n == 0 ? 0777 : 0666) & ~mask) != 0 || close(fd) != 0) {
            m_volumes[n].fd = -1;
            return Fail(n, "cannot write");
        }
        m_volumes[n].fd = -1;
        if (rename(m_volumes[n].temporary.c_str(), m_volumes[n].final.c_str()) != 0) return Fail(n, "cannot write");
        g_temporaries[n].store(nullptr);
    }
    m_committed = true;
    return true;
}

bool OutputFiles::TemporaryId(dev_t& device, ino_t& inode) const {
    struct stat st;
    if (m_volumes.empty() || m_volumes[0].fd < 0 || fstat(m_volumes[0].fd, &st) != 0) return false;
    device = st.st_dev;
    inode = st.st_ino;
    return true;
}

}  // namespace pack
