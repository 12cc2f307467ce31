#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// The few calls the tools make to the operating system, with UTF-8 paths
// ('/' between folders; Windows takes '\' too). On Windows the names go
// through the wide-character functions. A call that fails sets errno, so that
// strerror(errno) says why on every system.
namespace sys {

enum class Kind { File, Folder, Other };

struct Status {
    Kind kind = Kind::Other;
    bool link = false;    // a symbolic link (only when asked not to follow links)
    uint64_t size = 0;
    uint64_t device = 0;  // with inode: the file itself, whatever its name
    uint64_t inode = 0;
};

// false with errno when the path cannot be looked at.
bool GetStatus(const std::string& path, bool followLinks, Status& status);
bool Exists(const std::string& path);
bool IsWritable(const std::string& path);
// The names in a folder, "." and ".." left out.
bool ListFolder(const std::string& path, std::vector<std::string>& names);
// The absolute form of a path with "." and ".." resolved.
bool AbsolutePath(const std::string& path, std::string& absolute);
bool MakeFolder(const std::string& path);  // true when it is there already
bool RemoveFile(const std::string& path);
// The same, safe to call while handling an interruption.
void RemoveFileAtOnce(const char* path);
// Gives `from` the name `to`, replacing what is there.
bool Replace(const std::string& from, const std::string& to);

// Descriptors: -1 is none.
int OpenRead(const std::string& path);
// Creates a new file of a name no other has, from a template ending in
// "XXXXXX" that is filled in.
int CreateUnique(std::string& pathTemplate);
int OpenWrite(const std::string& path);  // an existing file, for patching
bool FileSize(int fd, uint64_t& size);
bool ReadAt(int fd, uint64_t offset, void* buffer, size_t n);  // exactly n; errno 0 at the end of the file
bool WriteAll(int fd, const void* data, size_t n);
bool WriteAt(int fd, uint64_t offset, const void* data, size_t n);
// Volume 0 is a program: executable where that means anything.
bool SetProgramMode(int fd, bool program);
bool Close(int fd);

// The command line in UTF-8 (on Windows read wide, and the console then shows
// UTF-8 too).
std::vector<std::string> CommandLine(int argc, char** argv);

// The running program's own path.
std::string SelfPath();
bool IsTerminal(FILE* stream);
size_t TerminalWidth(FILE* stream);  // 80 when it cannot be told

// Runs `cleanup` on Ctrl-C, termination and hang-up, then ends the process
// as the interruption would. The cleanup may only make system calls.
void OnInterrupt(void (*cleanup)());

// Calls `cancel` on Ctrl-C, termination and hang-up, and goes on; a second
// one ends the process at once. One that whoever started the program
// ignores (nohup) stays ignored. `cancel` may only store a lock-free flag.
void CancelOnInterrupt(void (*cancel)());

// One line typed on the terminal (standard input), without echo when asked;
// false at the end of the input, or once cancelled() is true, however early
// the interruption that made it so came.
bool ReadTerminalLine(std::string& line, bool echo, bool (*cancelled)());

// Made from the calls above, the same on every system.
// A file's first line, without its line end ("\n" or "\r\n").
bool ReadFirstLine(const std::string& path, std::string& line);
// Makes the folder and the folders above it, like mkdir -p.
bool MakeFolders(const std::string& path);

}  // namespace sys
