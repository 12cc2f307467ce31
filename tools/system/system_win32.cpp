#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstdlib>

#include "system/system.h"

namespace sys {
namespace {

void (*g_cleanup)() = nullptr;
void (*g_cancel)() = nullptr;
bool g_cancelledOnce = false;

BOOL WINAPI CancelOnConsoleEvent(DWORD) {
    if (g_cancelledOnce) return FALSE;  // the second one: the system ends the program
    g_cancelledOnce = true;
    if (g_cancel) g_cancel();
    return TRUE;
}

void SetErrnoFromLastError() {
    switch (GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME: errno = ENOENT; break;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION: errno = EACCES; break;
        case ERROR_ALREADY_EXISTS:
        case ERROR_FILE_EXISTS: errno = EEXIST; break;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: errno = ENOSPC; break;
        default: errno = EIO; break;
    }
}

bool Wide(const std::string& utf8, std::wstring& wide) {
    wide.clear();
    if (utf8.empty()) return true;
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), int(utf8.size()), nullptr, 0);
    if (n <= 0) {
        errno = EILSEQ;
        return false;
    }
    wide.resize(size_t(n));
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), int(utf8.size()), &wide[0], n);
    return true;
}

std::string Utf8(const wchar_t* wide) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return {};
    std::string out(size_t(n - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, &out[0], n, nullptr, nullptr);
    return out;
}

BOOL WINAPI OnConsoleEvent(DWORD) {
    if (g_cleanup) g_cleanup();
    ExitProcess(STATUS_CONTROL_C_EXIT);
    return TRUE;
}

}  // namespace

bool GetStatus(const std::string& path, bool followLinks, Status& status) {
    std::wstring w;
    if (!Wide(path, w)) return false;
    const DWORD attributes = GetFileAttributesW(w.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        SetErrnoFromLastError();
        return false;
    }
    status.link = !followLinks && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    // The file's own number on its volume tells it apart whatever its name.
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    HANDLE h = CreateFileW(w.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        SetErrnoFromLastError();
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = GetFileInformationByHandle(h, &info);
    CloseHandle(h);
    if (!known) {
        SetErrnoFromLastError();
        return false;
    }
    status.kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? Kind::Folder : Kind::File;
    status.size = uint64_t(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
    status.device = info.dwVolumeSerialNumber;
    status.inode = uint64_t(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    return true;
}

bool Exists(const std::string& path) {
    std::wstring w;
    return Wide(path, w) && GetFileAttributesW(w.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsWritable(const std::string& path) {
    std::wstring w;
    if (!Wide(path, w)) return false;
    const DWORD attributes = GetFileAttributesW(w.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_READONLY);
}

bool ListFolder(const std::string& path, std::vector<std::string>& names) {
    std::wstring w;
    if (!Wide(path + "/*", w)) return false;
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW(w.c_str(), &found);
    names.clear();
    if (h == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND) return true;  // nothing in it
        SetErrnoFromLastError();
        return false;
    }
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") names.push_back(Utf8(found.cFileName));
    } while (FindNextFileW(h, &found));
    const DWORD error = GetLastError();
    FindClose(h);
    if (error != ERROR_NO_MORE_FILES) {
        SetErrnoFromLastError();
        return false;
    }
    return true;
}

bool AbsolutePath(const std::string& path, std::string& absolute) {
    std::wstring w;
    if (!Wide(path, w)) return false;
    wchar_t* full = _wfullpath(nullptr, w.c_str(), 0);
    if (!full) return false;
    absolute = Utf8(full);
    std::free(full);
    for (char& c : absolute)
        if (c == '\\') c = '/';
    return true;
}

bool MakeFolder(const std::string& path) {
    std::wstring w;
    return Wide(path, w) && (_wmkdir(w.c_str()) == 0 || errno == EEXIST);
}

bool RemoveFile(const std::string& path) {
    std::wstring w;
    return Wide(path, w) && _wunlink(w.c_str()) == 0;
}

void RemoveFileAtOnce(const char* path) {
    // The console's handler runs on a thread of its own: nothing is interrupted.
    std::wstring w;
    if (Wide(path, w)) _wunlink(w.c_str());
}

bool Replace(const std::string& from, const std::string& to) {
    std::wstring f, t;
    if (!Wide(from, f) || !Wide(to, t)) return false;
    if (MoveFileExW(f.c_str(), t.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    SetErrnoFromLastError();
    return false;
}

int OpenRead(const std::string& path) {
    std::wstring w;
    return Wide(path, w) ? _wopen(w.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT) : -1;
}

int CreateUnique(std::string& pathTemplate) {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    const size_t at = pathTemplate.size() - 6;
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned seed = GetTickCount() ^ (GetCurrentProcessId() << 16) ^ unsigned(attempt * 2654435761u);
        for (size_t i = 0; i < 6; ++i) {
            seed = seed * 1103515245u + 12345u;
            pathTemplate[at + i] = kLetters[(seed >> 16) % (sizeof kLetters - 1)];
        }
        std::wstring w;
        if (!Wide(pathTemplate, w)) return -1;
        const int fd = _wopen(w.c_str(), _O_CREAT | _O_EXCL | _O_RDWR | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

int OpenWrite(const std::string& path) {
    std::wstring w;
    return Wide(path, w) ? _wopen(w.c_str(), _O_WRONLY | _O_BINARY | _O_NOINHERIT) : -1;
}

bool FileSize(int fd, uint64_t& size) {
    const int64_t n = _filelengthi64(fd);
    if (n < 0) return false;
    size = uint64_t(n);
    return true;
}

bool ReadAt(int fd, uint64_t offset, void* buffer, size_t n) {
    if (_lseeki64(fd, int64_t(offset), SEEK_SET) < 0) return false;
    auto* p = static_cast<uint8_t*>(buffer);
    while (n > 0) {
        const int got = _read(fd, p, unsigned(n > (1u << 30) ? 1u << 30 : n));
        if (got <= 0) {
            if (got == 0) errno = 0;
            return false;
        }
        p += got;
        n -= size_t(got);
    }
    return true;
}

bool WriteAll(int fd, const void* data, size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (n > 0) {
        const int w = _write(fd, p, unsigned(n > (1u << 30) ? 1u << 30 : n));
        if (w <= 0) return false;
        p += w;
        n -= size_t(w);
    }
    return true;
}

bool WriteAt(int fd, uint64_t offset, const void* data, size_t n) {
    // Appends go on where they were, as after a positioned write elsewhere.
    const int64_t end = _lseeki64(fd, 0, SEEK_CUR);
    if (end < 0 || _lseeki64(fd, int64_t(offset), SEEK_SET) < 0) return false;
    const bool written = WriteAll(fd, data, n);
    return _lseeki64(fd, end, SEEK_SET) >= 0 && written;
}

bool SetProgramMode(int, bool) { return true; }

bool Close(int fd) { return _close(fd) == 0; }

std::vector<std::string> CommandLine(int, char**) {
    SetConsoleOutputCP(CP_UTF8);
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::string> args;
    for (int i = 0; argv && i < argc; ++i) args.push_back(Utf8(argv[i]));
    LocalFree(argv);
    return args;
}

std::string SelfPath() {
    wchar_t path[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameW(nullptr, path, DWORD(sizeof path / sizeof *path));
    if (n == 0 || n >= sizeof path / sizeof *path) return {};
    std::string self = Utf8(path);
    for (char& c : self)
        if (c == '\\') c = '/';
    return self;
}

bool IsTerminal(FILE* stream) { return _isatty(_fileno(stream)) != 0; }

size_t TerminalWidth(FILE* stream) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    HANDLE h = HANDLE(_get_osfhandle(_fileno(stream)));
    if (GetConsoleScreenBufferInfo(h, &info) && info.dwSize.X > 0) return size_t(info.dwSize.X);
    return 80;
}

void OnInterrupt(void (*cleanup)()) {
    g_cleanup = cleanup;
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void CancelOnInterrupt(void (*cancel)()) {
    g_cancel = cancel;
    SetConsoleCtrlHandler(CancelOnConsoleEvent, TRUE);
}

bool ReadTerminalLine(std::string& line, bool echo, bool (*cancelled)()) {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(input, &mode)) {  // not a console: a pipe or a file
        char chunk[1024];
        if (!std::fgets(chunk, sizeof chunk, stdin)) return false;
        line = chunk;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        return true;
    }
    if (!echo) SetConsoleMode(input, mode & ~DWORD(ENABLE_ECHO_INPUT));
    // The console's handler runs on its own thread: look at the flag while waiting.
    while (!cancelled() && WaitForSingleObject(input, 100) == WAIT_TIMEOUT) {
    }
    wchar_t typed[1024];
    DWORD n = 0;
    const bool ok = !cancelled() && ReadConsoleW(input, typed, DWORD(sizeof typed / sizeof *typed) - 1, &n, nullptr);
    if (!echo) SetConsoleMode(input, mode);
    if (!ok || cancelled()) return false;
    typed[n] = L'\0';
    line = Utf8(typed);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    return true;
}

}  // namespace sys
