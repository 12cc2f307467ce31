#include "platform/platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "archive/crypt.h"
#include "common/globals.h"
#include "common/win_values.h"
#include "platform/code_page.h"
#include "platform/posix/host.h"

namespace platform {
namespace {

Host* g_host = nullptr;
const CodePage* g_codePage = nullptr;

// Maps the separators and, with a code page, converts each component between
// the code page (toLocal: into UTF-8) and UTF-8. The components are those the
// core sees: split at every separator byte, as it splits them.
bool MapPath(const char* path, char* out, int size, char from, char to, bool toLocal) {
    std::string mapped;
    for (const char* p = path;; ++p) {
        const char* end = std::strchr(p, from);
        const std::string component(p, end ? size_t(end - p) : std::strlen(p));
        std::string converted = component;
        if (g_codePage && !(toLocal ? g_codePage->ToUtf8(component, converted) : g_codePage->FromUtf8(component, converted)))
            return false;
        mapped += converted;
        if (!end) break;
        mapped += to;
        p = end;
    }
    if (size <= 0 || mapped.size() >= size_t(size)) return false;
    std::memcpy(out, mapped.c_str(), mapped.size() + 1);
    return true;
}

// A path that cannot be mapped is handed on as an empty one, which every call fails on.
struct NativePath {
    explicit NativePath(const char* path) {
        if (!ToNativePath(path, text, sizeof text)) text[0] = '\0';
    }
    char text[PATH_MAX];
};

}  // namespace

Host* SetHost(Host* host) {
    Host* previous = g_host;
    g_host = host;
    return previous;
}

bool Host::IsRemovableDrive(const char* path) { return PathOnRemovableDevice(path); }

bool ToNativePath(const char* path, char* out, int size) { return MapPath(path, out, size, '\\', '/', true); }

bool ToCorePath(const char* path, char* out, int size) { return MapPath(path, out, size, '/', '\\', false); }

void SetNameCodePage(const CodePage* codePage) { g_codePage = codePage; }

std::string CoreTextToLocal(const char* text) {
    std::string local;
    if (g_codePage && g_codePage->ToUtf8(text, local)) return local;
    return text;
}

int OpenRead(const char* path) { return ::open(NativePath(path).text, O_RDONLY | O_CLOEXEC); }

int CreateWrite(const char* path) {
    const NativePath native(path);
    // As on Windows, a read-only file is not overwritten, whoever asks (root included).
    struct stat st;
    if (::stat(native.text, &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0) {
        errno = EACCES;
        return -1;
    }
    return ::open(native.text, O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0600);
}

int CreateTemp(const char* path) {
    const NativePath native(path);
    int fd = ::open(native.text, O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
    if (fd != -1 || errno != EEXIST) return fd;
    // Something is there already: truncate it only when it is a plain file of
    // its own. A symbolic link is not followed, a FIFO does not block the open,
    // and a hard link would let the truncation reach another name's data.
    fd = ::open(native.text, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
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
    // Loops over short reads so that a pipe or a slow device behaves like a file,
    // and over a signal (trelk-extract's Ctrl-C), which is no error of the file.
    auto* p = static_cast<char*>(buffer);
    unsigned done = 0;
    while (done < count) {
        const ssize_t r = ::read(fd, p + done, count - done);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return done ? int(done) : -1;
        if (r == 0) break;
        done += unsigned(r);
    }
    return int(done);
}

int Write(int fd, const void* buffer, unsigned count) {
    const auto* p = static_cast<const char*>(buffer);
    unsigned done = 0;
    while (done < count) {
        const ssize_t w = ::write(fd, p + done, count - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return done ? int(done) : -1;
        done += unsigned(w);
    }
    return int(done);
}

int Close(int fd) { return ::close(fd); }

int64_t Seek(int fd, int64_t offset) { return ::lseek(fd, off_t(offset), SEEK_SET); }

int64_t Length(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return -1;
    return st.st_size;
}

bool Exists(const char* path) { return ::access(NativePath(path).text, F_OK) == 0; }

int MakeDir(const char* path) { return ::mkdir(NativePath(path).text, 0777); }

int Remove(const char* path) { return std::remove(NativePath(path).text); }

bool CurrentDir(char* buffer, int size) { return ::getcwd(buffer, size_t(size)) != nullptr; }

const char* GetEnv(const char* name) { return std::getenv(name); }

unsigned long ProcessId() { return static_cast<unsigned long>(::getpid()); }

bool PathOnRemovableDevice(const char* path) {
    // The file may not exist yet (a volume still to be inserted): ask about its folder then.
    std::string native = NativePath(path).text;
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

bool IsRemovableDrive(const char* path) {
    return g_host ? g_host->IsRemovableDrive(path) : PathOnRemovableDevice(path);
}

int ShowMessage(const char* text, const char* caption, unsigned type) {
    if (g_host) return g_host->ShowMessage(text, caption, type);
    std::fprintf(stderr, "%s: %s\n", caption, text);
    return IDCANCEL;
}

void SoundBeep(unsigned type) {
    if (g_host) g_host->SoundBeep(type);
}

void SendToDialog(unsigned message, intptr_t lParam) {
    if (g_host) g_host->SendToDialog(message, lParam);
}

bool PromptKey(unsigned char* key) {
    key[0] = 0;
    char text[kPathSize] = "";
    if (!g_host || !g_host->PromptKeyText(text, sizeof text)) return false;
    text[sizeof text - 1] = '\0';
    DeriveKey(text, key);
    return true;
}

}  // namespace platform
