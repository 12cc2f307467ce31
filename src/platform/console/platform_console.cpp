#include "platform/platform.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "archive/crypt.h"
#include "common/globals.h"
#include "common/win_values.h"
#include "platform/code_page.h"
#include "platform/console/host.h"
#include "platform/console/native.h"

namespace platform {
namespace {

Host* g_host = nullptr;
const CodePage* g_codePage = nullptr;

// The last file call's failure, per thread, for the cause line after a box.
// A call that succeeds clears it, so what is left always belongs to the call
// that the report followed.
thread_local SystemFailure g_lastFailure;

// The native path of each descriptor opened here, so that a failed read or
// write can name its file.
std::mutex g_openPathsLock;
std::map<int, std::string> g_openPaths;

// While output is discarded: the one file really created, the joined
// temporary file, which alone may be removed.
bool g_discardOutput = false;
std::string g_createdTemp;

void Note(bool failed, const char* nativePath) {
    if (!failed) {
        g_lastFailure.error = 0;
        return;
    }
    g_lastFailure.error = errno;
    g_lastFailure.path = nativePath;
}

std::string OpenPath(int fd) {
    std::lock_guard<std::mutex> lock(g_openPathsLock);
    const auto it = g_openPaths.find(fd);
    return it == g_openPaths.end() ? std::string() : it->second;
}

void NoteOnDescriptor(bool failed, int fd) {
    if (failed) {
        const int error = errno;
        const std::string path = OpenPath(fd);
        errno = error;
        Note(true, path.c_str());
    } else {
        g_lastFailure.error = 0;
    }
}

int NoteOpened(int fd, const char* nativePath) {
    Note(fd == -1, nativePath);
    if (fd != -1) {
        std::lock_guard<std::mutex> lock(g_openPathsLock);
        g_openPaths[fd] = nativePath;
    }
    return fd;
}

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
    char text[4 * kPathSize];  // a name of the code page takes up to 4 bytes in UTF-8
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

SystemFailure TakeLastFailure() {
    SystemFailure failure = g_lastFailure;
    g_lastFailure = SystemFailure{};
    return failure;
}

void DiscardOutput(bool on) {
    g_discardOutput = on;
    g_createdTemp.clear();
}

int OpenRead(const char* path) {
    const NativePath native(path);
    return NoteOpened(native::OpenRead(native.text), native.text);
}

int CreateWrite(const char* path) {
    const NativePath native(path);
    if (g_discardOutput) return NoteOpened(native::OpenNowhere(), native.text);
    // As on Windows, a read-only file is not overwritten, whoever asks (root included).
    if (native::IsReadOnlyFile(native.text)) {
        errno = EACCES;
        return NoteOpened(-1, native.text);
    }
    return NoteOpened(native::CreateTruncate(native.text), native.text);
}

int CreateTemp(const char* path) {
    const NativePath native(path);
    const int fd = NoteOpened(native::OpenTemporary(native.text), native.text);
    if (fd != -1 && g_discardOutput) g_createdTemp = native.text;
    return fd;
}

int Read(int fd, void* buffer, unsigned count) {
    // Loops over short reads so that a pipe or a slow device behaves like a file,
    // and over a signal (trelk-extract's Ctrl-C), which is no error of the file.
    auto* p = static_cast<char*>(buffer);
    unsigned done = 0;
    bool failed = false;
    while (done < count) {
        const int r = native::Read(fd, p + done, count - done);
        if (r < 0) failed = true;
        if (r <= 0) break;
        done += unsigned(r);
    }
    NoteOnDescriptor(failed, fd);
    return failed && done == 0 ? -1 : int(done);
}

int Write(int fd, const void* buffer, unsigned count) {
    const auto* p = static_cast<const char*>(buffer);
    unsigned done = 0;
    bool failed = false;
    while (done < count) {
        const int w = native::Write(fd, p + done, count - done);
        if (w <= 0) {
            failed = w < 0;
            break;
        }
        done += unsigned(w);
    }
    NoteOnDescriptor(failed, fd);
    return done == 0 && count > 0 ? -1 : int(done);
}

int Close(int fd) {
    std::string path;
    {
        std::lock_guard<std::mutex> lock(g_openPathsLock);
        const auto it = g_openPaths.find(fd);
        if (it != g_openPaths.end()) {
            path = std::move(it->second);
            g_openPaths.erase(it);
        }
    }
    const int result = native::Close(fd);
    Note(result != 0, path.c_str());
    return result;
}

int64_t Seek(int fd, int64_t offset) {
    const int64_t at = native::SeekSet(fd, offset);
    NoteOnDescriptor(at == -1, fd);
    return at;
}

int64_t Length(int fd) {
    const int64_t length = native::Length(fd);
    NoteOnDescriptor(length < 0, fd);
    return length;
}

bool Exists(const char* path) {
    const NativePath native(path);
    const bool exists = native::Exists(native.text);
    Note(!exists, native.text);
    return exists;
}

int MakeDir(const char* path) {
    const NativePath native(path);
    // Nothing is made while output is discarded; the file that would go in
    // the folder goes nowhere either.
    if (g_discardOutput) return 0;
    const int result = native::MakeDir(native.text);
    Note(result != 0, native.text);
    return result;
}

int Remove(const char* path) {
    const NativePath native(path);
    if (g_discardOutput && g_createdTemp != native.text) return 0;
    const int result = native::Remove(native.text);
    Note(result != 0, native.text);
    return result;
}

bool CurrentDir(char* buffer, int size) { return native::CurrentDir(buffer, size); }

const char* GetEnv(const char* name) { return std::getenv(name); }

unsigned long ProcessId() { return native::ProcessId(); }

bool PathOnRemovableDevice(const char* path) { return native::OnRemovableMedia(NativePath(path).text); }

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
