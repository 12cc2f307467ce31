// trelk-extract: runs the self-extractor's engine on an archive from the command line.
#include <getopt.h>
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
#include "platform/code_page.h"
#include "platform/posix/host.h"

namespace {

enum ExitCode { kSuccess = 0, kError = 1, kUsage = 2, kCancelled = 3 };

const char kUsageText[] =
    "usage: trelk-extract [options] ARCHIVE.exe\n"
    "Extracts a Trelk self-extracting archive (split volumes .A01, .A02, ... beside it).\n"
    "  -d DIR   extract below DIR (made when missing; default: the current folder)\n"
    "  -l       list the files: size, stored size, CRC-32, name\n"
    "  -k TEXT  the key of an encrypted archive (else asked on the terminal)\n"
    "  -o       overwrite existing files without asking\n"
    "  -n       never overwrite: an existing file stops the run\n"
    "  -q       quiet: only errors\n"
    "  --codepage N  the Windows code page the archive's names are in (default 1252)\n"
    "  --help   this text\n"
    "Exit codes: 0 done, 1 an error was reported, 2 bad usage, 3 cancelled.\n";

struct Options {
    const char* archive = nullptr;
    std::string dest;
    const char* key = nullptr;
    bool list = false;
    bool quiet = false;
    unsigned codePage = 1252;  // Western European, as trelk-pack stores names by default
    ConsoleHost::Overwrite overwrite = ConsoleHost::Overwrite::Ask;
};

bool ParseOptions(int argc, char** argv, Options& o) {
    enum { kCodePage = 256 };
    static const option kLong[] = {{"help", no_argument, nullptr, 'h'},
                                   {"codepage", required_argument, nullptr, kCodePage},
                                   {nullptr, 0, nullptr, 0}};
    for (int c; (c = getopt_long(argc, argv, "d:lk:onqh", kLong, nullptr)) != -1;) {
        switch (c) {
            case 'd': o.dest = optarg; break;
            case 'l': o.list = true; break;
            case 'k': o.key = optarg; break;
            case 'o': o.overwrite = ConsoleHost::Overwrite::Always; break;
            case 'n': o.overwrite = ConsoleHost::Overwrite::Never; break;
            case 'q': o.quiet = true; break;
            case 'h': std::fputs(kUsageText, stdout); std::exit(kSuccess);
            case kCodePage: {
                char* end = nullptr;
                const unsigned long n = std::strtoul(optarg, &end, 10);
                if (end == optarg || *end != '\0' || n == 0 || n > 65535) return false;
                o.codePage = unsigned(n);
                break;
            }
            default: return false;
        }
    }
    if (optind != argc - 1) return false;
    o.archive = argv[optind];
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

// Fills the three path globals as start-up and the destination dialog would.
bool SetPaths(const Options& o) {
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd)) return false;
    const std::string dest = o.dest.empty() ? cwd : o.dest;
    const char* tmp = std::getenv("TMP");
    // Without TMP the joined archive of a split one goes beside the files.
    const std::string temp = tmp ? tmp : dest;
    return platform::ToCorePath(o.archive, g_szModulePath, kPathSize) &&
           platform::ToCorePath(dest.c_str(), g_szDestDir, kPathSize) &&
           platform::ToCorePath(temp.c_str(), g_szTempDir, kPathSize);
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
    if (!ParseOptions(argc, argv, options)) {
        std::fputs(kUsageText, stderr);
        return kUsage;
    }
    platform::CodePage codePage;
    if (!codePage.Open(options.codePage)) {
        std::fprintf(stderr, "trelk-extract: code page %u has no conversion on this system\n", options.codePage);
        return kUsage;
    }
    platform::SetNameCodePage(&codePage);
    if (!SetPaths(options)) {
        std::fprintf(stderr,
                     "trelk-extract: a path is longer than the %d characters the archive format allows, or cannot be "
                     "written in %s\n",
                     kPathSize - 1, codePage.Title().c_str());
        return kUsage;
    }
    if (!options.list && !options.dest.empty() && !MakeFolders(options.dest)) {
        std::fprintf(stderr, "trelk-extract: cannot make the folder %s: %s\n", options.dest.c_str(), std::strerror(errno));
        return kError;
    }
    MakeMarkerSearchForm();
    CancelOnSignals();
    bool loaded;
    {
        ConsoleHost console(options.quiet, options.overwrite, options.key, options.list);
        loaded = console.Run();
    }
    if (g_errorRaised) return kError;
    if (g_cancelRequested) return kCancelled;
    if (!loaded) return kError;
    if (g_cancelRequested) return kCancelled;
    return kSuccess;
}
