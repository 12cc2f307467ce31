// trelk-extract: runs the self-extractor's engine on an archive from the command line.
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive/archive_reader.h"
#include "common/globals.h"
#include "console_host.h"
#include "options.h"
#include "platform/platform.h"
#include "platform/code_page.h"
#include "platform/console/host.h"
#include "system/system.h"
#include "ui/logic/prompt_logic.h"

namespace {

enum ExitCode { kSuccess = 0, kError = 1, kUsage = 2, kCancelled = 3 };

void Say(const std::string& text) { std::fprintf(stderr, "trelk-extract: %s\n", text.c_str()); }

// The key file's first line, without its line end.
bool LoadKeyFile(Options& o) {
    if (o.keyFile.empty()) return true;
    std::string text;
    if (!sys::ReadFirstLine(o.keyFile, text)) {
        Say("cannot read the key file " + o.keyFile + ": " + std::strerror(errno));
        return false;
    }
    o.key = text;
    return true;
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
    char cwd[4 * kPathSize];
    const char* tmp = std::getenv("TMP");
    if (!platform::CurrentDir(cwd, sizeof cwd) || !Fits(cwd) || !Fits(o.archive) || (tmp && !Fits(tmp)) ||
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

void OnCancel() { g_cancelRequested = 1; }

}  // namespace

int main(int argc, char** argv) {
    // getopt reads the UTF-8 words of the command line.
    std::vector<std::string> words = sys::CommandLine(argc, argv);
    std::vector<char*> args;
    for (std::string& w : words) args.push_back(&w[0]);
    args.push_back(nullptr);
    Options options;
    std::string problem;
    switch (ParseOptions(int(words.size()), args.data(), options, problem)) {
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
    if (options.mode == Mode::Extract && options.dest && !sys::MakeFolders(*options.dest)) {
        Say("cannot make the folder " + *options.dest + ": " + std::strerror(errno));
        return kError;
    }
    MakeMarkerSearchForm();
    // Ctrl-C, SIGTERM and a closed terminal are the user's Cancel: the engine
    // stops at its next check and its clean-up removes the partial file and
    // the joined temporary file.
    sys::CancelOnInterrupt(OnCancel);
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
