#pragma once
#include <cstdint>
#include <string>

// The console seam's calls to the files themselves, with native paths (UTF-8,
// '/' between folders). Each returns as the C library does (-1 on failure,
// errno set), so that the seam can tell why a call failed.
namespace platform {
namespace native {

int OpenRead(const char* path);
int OpenNowhere();                  // a sink that takes every byte
bool IsReadOnlyFile(const char* path);
int CreateTruncate(const char* path);
// Creates the joined temporary file, or takes over what stands at its name
// when that is a plain file of its own, never following a link.
int OpenTemporary(const char* path);
int Read(int fd, void* buffer, unsigned count);    // one call; EINTR retried
int Write(int fd, const void* buffer, unsigned count);
int Close(int fd);
int64_t SeekSet(int fd, int64_t offset);
int64_t Length(int fd);
bool Exists(const char* path);
int MakeDir(const char* path);
int Remove(const char* path);
bool CurrentDir(char* buffer, int size);
unsigned long ProcessId();
bool OnRemovableMedia(const char* path);

}  // namespace native
}  // namespace platform
