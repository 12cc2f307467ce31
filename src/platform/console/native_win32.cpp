#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/console/native.h"

// The Windows tools' files, by their UTF-8 names through the wide-character
// functions: every name the archive's code page holds can be written, not
// only those of the machine's own code page.
namespace platform {
namespace native {
namespace {

bool Wide(const char* utf8, std::wstring& wide) {
    wide.clear();
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, nullptr, 0);
    if (n <= 0) {
        errno = ENOENT;
        return false;
    }
    wide.resize(size_t(n));
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, &wide[0], n);
    wide.pop_back();  // the terminator is the string's own
    return true;
}

int OpenWide(const char* path, int flags, int mode = _S_IREAD | _S_IWRITE) {
    std::wstring w;
    return Wide(path, w) ? _wopen(w.c_str(), flags | _O_BINARY | _O_NOINHERIT, mode) : -1;
}

}  // namespace

int OpenRead(const char* path) { return OpenWide(path, _O_RDONLY); }

int OpenNowhere() { return _open("NUL", _O_WRONLY | _O_BINARY); }

bool IsReadOnlyFile(const char* path) {
    std::wstring w;
    if (!Wide(path, w)) return false;
    const DWORD attributes = GetFileAttributesW(w.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           (attributes & FILE_ATTRIBUTE_READONLY);
}

int CreateTruncate(const char* path) { return OpenWide(path, _O_CREAT | _O_TRUNC | _O_WRONLY); }

int OpenTemporary(const char* path) {
    const int fd = OpenWide(path, _O_CREAT | _O_EXCL | _O_WRONLY);
    if (fd != -1 || errno != EEXIST) return fd;
    // Something is there already: a plain file is taken over, a folder or a
    // link (a reparse point) is not.
    std::wstring w;
    if (!Wide(path, w)) return -1;
    const DWORD attributes = GetFileAttributesW(w.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_READONLY))) {
        errno = EACCES;
        return -1;
    }
    return OpenWide(path, _O_TRUNC | _O_WRONLY);
}

int Read(int fd, void* buffer, unsigned count) { return _read(fd, buffer, count); }

int Write(int fd, const void* buffer, unsigned count) { return _write(fd, buffer, count); }

int Close(int fd) { return _close(fd); }

int64_t SeekSet(int fd, int64_t offset) { return _lseeki64(fd, offset, SEEK_SET); }

int64_t Length(int fd) { return _filelengthi64(fd); }

bool Exists(const char* path) {
    std::wstring w;
    if (!Wide(path, w)) return false;
    if (GetFileAttributesW(w.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    errno = ENOENT;
    return false;
}

int MakeDir(const char* path) {
    std::wstring w;
    return Wide(path, w) ? _wmkdir(w.c_str()) : -1;
}

int Remove(const char* path) {
    std::wstring w;
    return Wide(path, w) ? _wremove(w.c_str()) : -1;
}

bool CurrentDir(char* buffer, int size) {
    wchar_t wide[MAX_PATH * 4];
    const DWORD n = GetCurrentDirectoryW(DWORD(sizeof wide / sizeof *wide), wide);
    if (n == 0 || n >= sizeof wide / sizeof *wide) return false;
    const int written = WideCharToMultiByte(CP_UTF8, 0, wide, -1, buffer, size, nullptr, nullptr);
    if (written <= 0) return false;
    for (char* p = buffer; *p; ++p)
        if (*p == '\\') *p = '/';
    return true;
}

unsigned long ProcessId() { return GetCurrentProcessId(); }

bool OnRemovableMedia(const char* path) {
    // The drive's root, from a path such as C:/dl/setup.A01.
    if (std::strlen(path) < 2 || path[1] != ':') return false;
    const wchar_t root[4] = {wchar_t(path[0]), L':', L'\\', L'\0'};
    return GetDriveTypeW(root) == DRIVE_REMOVABLE;
}

}  // namespace native
}  // namespace platform
