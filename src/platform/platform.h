#pragma once
#include <cstddef>
#include <cstdint>

// The one seam between the portable core and the system. Core code reaches
// files, the environment and the user only through these functions; Windows
// implements them with the CRT and user32, POSIX with libc and a Host.
// Paths use '\' as their only separator; the POSIX side maps it to '/'.
namespace platform {

// Files: descriptors are ints, -1 is no file.
int OpenRead(const char* path);    // binary, read-only
int CreateWrite(const char* path); // create or truncate, binary, owner read/write
// The same for the joined temporary file, whose name is predictable and whose
// folder may be shared: a link or anything but a plain file there is refused.
int CreateTemp(const char* path);
int Read(int fd, void* buffer, unsigned count);          // bytes read, -1 on error
int Write(int fd, const void* buffer, unsigned count);   // bytes written, -1 on error
int Close(int fd);
int64_t Seek(int fd, int64_t offset);  // from the start of the file; -1 on error
int64_t Length(int fd);                // -1 when it cannot be told
bool Exists(const char* path);
int MakeDir(const char* path);
int Remove(const char* path);

// Environment and process.
bool CurrentDir(char* buffer, int size);  // false when it does not fit
const char* GetEnv(const char* name);
unsigned long ProcessId();
bool IsRemovableDrive(const char* path);

// The user. Types and answers carry their Win32 values (see common/win_values.h).
int ShowMessage(const char* text, const char* caption, unsigned type);
void SoundBeep(unsigned type);
void SendToDialog(unsigned message, intptr_t lParam);  // synchronous
// Asks for the key of an encrypted archive and derives it into key[43].
// False when the user declined.
bool PromptKey(unsigned char* key);

}  // namespace platform
