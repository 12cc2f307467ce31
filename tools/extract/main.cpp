// trelk-extract: runs the self-extractor's engine on an archive from the command line.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "archive/archive_reader.h"
#include "common/globals.h"
#include "console_host.h"
#include "options.h"
#include "platform/platform.h"
#include "platform/code_page.h"
#include "platform/console/host.h"
#include "ui/logic/prompt_logic.h"

namespace {

enum ExitCode { kSuccess = 0, kError = 1, kUsage = 2, kCancelled = 3 };

void Say(const std::string& text) { std::fprintf(stderr, "trelk-extract: %s\n", text.c_str()); }

// The key file's first line, without its line end.
bool LoadKeyFile(Options& o) {
    if (o.keyFile.empty()) return true;
    const int fd = open(o.keyFile.c_str(), O_RDONLY | O_CLOEXEC);
    std::string text;
    ssize_t n = -1;
    if (fd >= 0) {
        char chunk[4096];
        while (text.find('\n') == std::string::npos && (n = read(fd, chunk, sizeof chunk)) > 0)
            text.append(chunk, size_t(n));
    }
    const int error = errno;
    if (fd >= 0) close(fd);
    if (n < 0) {
        Say("cannot read the key file " + o.keyFile + ": " + std::strerror(error));
        return false;
    }
    text = text.substr(0, text.find('\n'));
    if (!text.empty() && text.back() == '\r') text.pop_back();
    o.key = text;
    return true;
}

// Makes the folder and the folders above it, like mkdir -p.
bool MakeFolders(const std::string& path) {
    for (size_t at = 1; at <= path.size(); ++at) {
        if (at < path.size() && path[at] != '/') continue;
        const std::string part = path.substr(0, at);
        if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
    }
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Boxes of the destination check go where every other box goes.
class ConsoleBoxes : public BoxOwner {
public:
    int ShowBox(const char* text, const char* caption, unsigned type) override {
        return platform::ShowMessage(text, caption, type);
    }
};

bool Fits(const std::string& path) { return path.size() < size_t(kPathSize); }

// Fills the three path globals as start-up and then the destination dialog
// would, so that a TMP naming the current folder follows -d as it follows the
// folder typed there. False when a path is too long for the archive format
// or cannot be written in its code page.
bool SetPaths(const Options& o) {
    char cwd[PATH_MAX];
    const char* tmp = std::getenv("TMP");
    if (!getcwd(cwd, sizeof cwd) || !Fits(cwd) || !Fits(o.archive) || (tmp && !Fits(tmp)) ||
        (o.dest && !Fits(*o.dest)))
        return false;
    InitStartPaths(o.archive.c_str());
    // The core's form of each path (in the archive's code page); the seam maps it back.
    for (char* path : {g_szModulePath, g_szDestDir, g_szTempDir})
        if (!platform::ToCorePath(path, path, kPathSize)) return false;
    if (!o.dest) return true;
    char dest[kPathSize];
    ConsoleBoxes boxes;
    return platform::ToCorePath(o.dest->c_str(), dest, kPathSize) && AcceptDestination(dest, boxes);
}

// A signal handler may store to the flag only if the store takes no lock.
static_assert(std::atomic<uint8_t>::is_always_lock_free, "the cancel flag must be lock-free");

void OnCancelSignal(int) { g_cancelRequested = 1; }

// Ctrl-C, SIGTERM and a closed terminal are the user's Cancel: the engine stops
// at its next check and its clean-up removes the partial file and the joined
// temporary file. Without SA_RESTART a prompt waiting on the terminal returns
// at once and counts as Cancel; after SA_RESETHAND a second Ctrl-C ends the
// program on the spot, should the first one not be enough. A signal that
// whoever started us ignores (nohup, a script's background job) stays ignored.
void CancelOnSignals() {
    struct sigaction action {};
    action.sa_handler = OnCancelSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    for (int number : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction before {};
        if (sigaction(number, nullptr, &before) == 0 && before.sa_handler != SIG_IGN)
            sigaction(number, &action, nullptr);
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    std::string problem;
    switch (ParseOptions(argc, argv, options, problem)) {
        case Parsed::Help: std::fputs(kHelpText, stdout); return kSuccess;
        case Parsed::Version: std::fputs(kVersionText, stdout); return kSuccess;
        case Parsed::Usage: std::fputs(UsageLine(problem).c_str(), stderr); return kUsage;
        case Parsed::Run: break;
    }
    platform::CodePage codePage;
    if (!codePage.Open(options.codePage)) {
        Say("code page " + std::to_string(options.codePage) + " has no conversion on this system");
        return kUsage;
    }
    platform::SetNameCodePage(&codePage);
    if (!SetPaths(options)) {
        Say("a path is longer than the " + std::to_string(kPathSize - 1) +
            " characters the archive format allows, or cannot be written in " + codePage.Title());
        return kUsage;
    }
    if (!LoadKeyFile(options)) return kError;
    if (options.mode == Mode::Extract && options.dest && !MakeFolders(*options.dest)) {
        Say("cannot make the folder " + *options.dest + ": " + std::strerror(errno));
        return kError;
    }
    MakeMarkerSearchForm();
    CancelOnSignals();
    bool loaded, matched;
    {
        ConsoleHost console(options);
        loaded = console.Run();
        matched = console.AllNamesMatched();
    }
    if (g_errorRaised) return kError;
    if (g_cancelRequested) return kCancelled;
    return loaded && matched ? kSuccess : kError;
}
