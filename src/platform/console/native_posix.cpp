#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/console/native.h"

namespace platform {
namespace native {

int OpenRead(const char* path) { return ::open(path, O_RDONLY | O_CLOEXEC); }

int OpenNowhere() { return ::open("/dev/null", O_WRONLY | O_CLOEXEC); }

bool IsReadOnlyFile(const char* path) {
    struct stat st;
    return ::stat(path, &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0;
}

// 0666 leaves the rest to the user's umask, as any program that makes files does.
int CreateTruncate(const char* path) { return ::open(path, O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0666); }

int OpenTemporary(const char* native) {
    int fd = ::open(native, O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
    if (fd != -1 || errno != EEXIST) return fd;
    // Something is there already: truncate it only when it is a plain file of
    // its own. A symbolic link is not followed, a FIFO does not block the open,
    // and a hard link would let the truncation reach another name's data.
    fd = ::open(native, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd == -1) return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 || (st.st_mode & 0222) == 0 ||
        ::ftruncate(fd, 0) != 0 || ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        ::close(fd);
        errno = EACCES;
        return -1;
    }
    return fd;
}

int Read(int fd, void* buffer, unsigned count) {
    ssize_t r;
    do r = ::read(fd, buffer, count);
    while (r < 0 && errno == EINTR);  // a signal (trelk-extract's Ctrl-C) is no error of the file
    return int(r);
}

int Write(int fd, const void* buffer, unsigned count) {
    ssize_t w;
    do w = ::write(fd, buffer, count);
    while (w < 0 && errno == EINTR);
    return int(w);
}

int Close(int fd) { return ::close(fd); }

int64_t SeekSet(int fd, int64_t offset) { return ::lseek(fd, off_t(offset), SEEK_SET); }

int64_t Length(int fd) {
    struct stat st;
    return ::fstat(fd, &st) == 0 ? int64_t(st.st_size) : -1;
}

bool Exists(const char* path) { return ::access(path, F_OK) == 0; }

int MakeDir(const char* path) { return ::mkdir(path, 0777); }

int Remove(const char* path) { return std::remove(path); }

bool CurrentDir(char* buffer, int size) { return ::getcwd(buffer, size_t(size)) != nullptr; }

unsigned long ProcessId() { return static_cast<unsigned long>(::getpid()); }

bool OnRemovableMedia(const char* path) {
    // The file may not exist yet (a volume still to be inserted): ask about its folder then.
    std::string native = path;
    struct stat st;
    if (::stat(native.c_str(), &st) != 0) {
        const size_t slash = native.find_last_of('/');
        native = slash == std::string::npos ? "." : slash == 0 ? "/" : native.substr(0, slash);
        if (::stat(native.c_str(), &st) != 0) return false;
    }
    char link[64];
    std::snprintf(link, sizeof link, "/sys/dev/block/%u:%u", major(st.st_dev), minor(st.st_dev));
    char device[PATH_MAX];
    if (!::realpath(link, device)) return false;
    // A partition has no flag of its own; its disk is the folder above it.
    for (std::string dir = device; dir.size() > 1; dir = dir.substr(0, dir.find_last_of('/'))) {
        FILE* f = std::fopen((dir + "/removable").c_str(), "r");
        if (!f) continue;
        const int c = std::fgetc(f);
        std::fclose(f);
        return c == '1';
    }
    return false;
}

}  // namespace native
}  // namespace platform
