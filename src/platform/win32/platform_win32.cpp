#include "platform/platform.h"

#include <fcntl.h>
#include <io.h>
#include <direct.h>
#include <sys/stat.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "platform/win32/main_window.h"

namespace platform {

int OpenRead(const char* path) { return _open(path, _O_BINARY); }

int CreateWrite(const char* path) {
    return _open(path, _O_BINARY | _O_CREAT | _O_TRUNC | _O_WRONLY, _S_IREAD | _S_IWRITE);
}

int CreateTemp(const char* path) { return CreateWrite(path); }

int Read(int fd, void* buffer, unsigned count) { return _read(fd, buffer, count); }
int Write(int fd, const void* buffer, unsigned count) { return _write(fd, buffer, count); }
int Close(int fd) { return _close(fd); }
int64_t Seek(int fd, int64_t offset) { return _lseeki64(fd, offset, SEEK_SET); }
int64_t Length(int fd) { return _filelengthi64(fd); }
bool Exists(const char* path) { return _access(path, 0) == 0; }
int MakeDir(const char* path) { return _mkdir(path); }
int Remove(const char* path) { return std::remove(path); }

bool CurrentDir(char* buffer, int size) {
    const DWORD n = GetCurrentDirectoryA(DWORD(size), buffer);
    return n != 0 && n < DWORD(size);
}

const char* GetEnv(const char* name) { return std::getenv(name); }
unsigned long ProcessId() { return GetCurrentProcessId(); }

bool IsRemovableDrive(const char* path) {
    const char drive[3] = {path[0], ':', '\0'};
    return GetDriveTypeA(drive) == DRIVE_REMOVABLE;
}

int ShowMessage(const char* text, const char* caption, unsigned type) {
    return MessageBoxA(g_hMainDlg, text, caption, type);
}

void SoundBeep(unsigned type) { MessageBeep(type); }

void SendToDialog(unsigned message, intptr_t lParam) {
    SendMessageA(g_hMainDlg, message, 0, LPARAM(lParam));
}

bool PromptKey(unsigned char* key) { return RunKeyDialog(key); }

}  // namespace platform
