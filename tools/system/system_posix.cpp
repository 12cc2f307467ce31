#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "system/system.h"

namespace sys {
namespace {

void (*g_cleanup)() = nullptr;
void (*g_cancel)() = nullptr;

extern "C" void Cancel(int) {
    if (g_cancel) g_cancel();
}

// Waits until the terminal has a line for us; false once cancelled(),
// however early the signal came: the signals stay blocked from the look at
// the flag until ppoll waits with them unblocked, so none can slip in
// between and leave the wait without an end.
bool WaitForInput(bool (*cancelled)()) {
    sigset_t cancel, before;
    sigemptyset(&cancel);
    for (int number : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&cancel, number);
    sigprocmask(SIG_BLOCK, &cancel, &before);
    int ready = 0;
    while (!cancelled() && ready == 0) {
        pollfd input{STDIN_FILENO, POLLIN, 0};
        ready = ppoll(&input, 1, nullptr, &before);
        if (ready < 0 && errno == EINTR) ready = 0;
    }
    sigprocmask(SIG_SETMASK, &before, nullptr);
    return !cancelled();
}

extern "C" void CleanUpAndDie(int signal) {
    if (g_cleanup) g_cleanup();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

}  // namespace

bool GetStatus(const std::string& path, bool followLinks, Status& status) {
    struct stat st;
    if ((followLinks ? stat(path.c_str(), &st) : lstat(path.c_str(), &st)) != 0) return false;
    status.link = S_ISLNK(st.st_mode);
    status.kind = S_ISREG(st.st_mode) ? Kind::File : S_ISDIR(st.st_mode) ? Kind::Folder : Kind::Other;
    status.size = uint64_t(st.st_size);
    status.device = uint64_t(st.st_dev);
    status.inode = uint64_t(st.st_ino);
    return true;
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

bool IsWritable(const std::string& path) { return access(path.c_str(), W_OK) == 0; }

bool ListFolder(const std::string& path, std::vector<std::string>& names) {
    DIR* dir = opendir(path.c_str());
    if (!dir) return false;
    names.clear();
    errno = 0;
    while (const dirent* d = readdir(dir)) {
        if (std::strcmp(d->d_name, ".") != 0 && std::strcmp(d->d_name, "..") != 0) names.push_back(d->d_name);
    }
    const int error = errno;
    closedir(dir);
    errno = error;
    return error == 0;
}

bool AbsolutePath(const std::string& path, std::string& absolute) {
    char resolved[PATH_MAX];
    if (!realpath(path.c_str(), resolved)) return false;
    absolute = resolved;
    return true;
}

bool MakeFolder(const std::string& path) { return mkdir(path.c_str(), 0777) == 0 || errno == EEXIST; }

bool RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0; }

void RemoveFileAtOnce(const char* path) { unlink(path); }

bool Replace(const std::string& from, const std::string& to) { return rename(from.c_str(), to.c_str()) == 0; }

int OpenRead(const std::string& path) { return open(path.c_str(), O_RDONLY | O_CLOEXEC); }

int CreateUnique(std::string& pathTemplate) { return mkostemp(pathTemplate.data(), O_CLOEXEC); }

int OpenWrite(const std::string& path) { return open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW); }

bool FileSize(int fd, uint64_t& size) {
    struct stat st;
    if (fstat(fd, &st) != 0) return false;
    size = uint64_t(st.st_size);
    return true;
}

bool ReadAt(int fd, uint64_t offset, void* buffer, size_t n) {
    auto* p = static_cast<uint8_t*>(buffer);
    while (n > 0) {
        const ssize_t got = pread(fd, p, n, off_t(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (got == 0) errno = 0;
            return false;
        }
        p += got;
        offset += uint64_t(got);
        n -= size_t(got);
    }
    return true;
}

bool WriteAll(int fd, const void* data, size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (n > 0) {
        const ssize_t w = write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= size_t(w);
    }
    return true;
}

bool WriteAt(int fd, uint64_t offset, const void* data, size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (n > 0) {
        const ssize_t w = pwrite(fd, p, n, off_t(offset));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        offset += uint64_t(w);
        n -= size_t(w);
    }
    return true;
}

bool SetProgramMode(int fd, bool program) {
    const mode_t mask = umask(0);
    umask(mask);
    return fchmod(fd, (program ? 0777 : 0666) & ~mask) == 0;
}

bool Close(int fd) { return close(fd) == 0; }

std::vector<std::string> CommandLine(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

std::string SelfPath() {
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    return n > 0 ? std::string(self, size_t(n)) : std::string();
}

bool IsTerminal(FILE* stream) { return isatty(fileno(stream)) != 0; }

size_t TerminalWidth(FILE* stream) {
    winsize ws{};
    if (ioctl(fileno(stream), TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
    return 80;
}

void OnInterrupt(void (*cleanup)()) {
    g_cleanup = cleanup;
    struct sigaction action {};
    action.sa_handler = CleanUpAndDie;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
    // A file-size limit then fails the write like a full disk, which is
    // reported and cleaned up, instead of ending the process on the spot.
    std::signal(SIGXFSZ, SIG_IGN);
}

// Without SA_RESTART a prompt waiting on the terminal returns at once; after
// SA_RESETHAND a second signal ends the program on the spot.
void CancelOnInterrupt(void (*cancel)()) {
    g_cancel = cancel;
    struct sigaction action {};
    action.sa_handler = Cancel;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    for (int number : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction before {};
        if (sigaction(number, nullptr, &before) == 0 && before.sa_handler != SIG_IGN)
            sigaction(number, &action, nullptr);
    }
}

bool ReadTerminalLine(std::string& line, bool echo, bool (*cancelled)()) {
    termios saved{};
    const bool restore = !echo && tcgetattr(STDIN_FILENO, &saved) == 0;
    if (restore) {
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    const bool ok = WaitForInput(cancelled) && bool(std::getline(std::cin, line));
    if (restore) tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    return ok;
}

}  // namespace sys
