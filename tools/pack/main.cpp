// trelk-pack: packs files and folders behind the stub into a self-extracting archive.
#include <getopt.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "pack/archive_stream.h"
#include "pack/archive_writer.h"
#include "pack/input_tree.h"
#include "pack/output_files.h"
#include "pack/pack_checks.h"
#include "pack/packer.h"
#include "pack/progress.h"
#include "pack/size_text.h"
#include "pack/stub_places.h"
#include "system/system.h"
#include "volumes/volume_name.h"

namespace {

enum ExitCode { kSuccess = 0, kIoError = 1, kRefused = 2 };

const char kVersionText[] = "trelk-pack 1.0\n";
constexpr long kMaxThreads = 256;
constexpr unsigned kDefaultCodePage = 1252;  // Western European: the stub reads names in Windows' ANSI code page

const char kUsageText[] =
    "usage: trelk-pack [options] -o OUT.exe PATH...\n"
    "Packs files and folders behind the Trelk stub into a self-extracting archive.\n"
    "A file is stored as .\\name, a folder's files as .\\folder\\sub\\name (\".\" stores\n"
    "the current folder's contents directly); folders are walked in byte order of names.\n"
    "  -o FILE          the archive to write\n"
    "  --stub FILE      the stub to put in front (default: the installed trelk-sfx.exe,\n"
    "                   ../share/trelk/ from trelk-pack, or one beside trelk-pack)\n"
    "  --key TEXT       encrypt with this key (only printable characters other than\n"
    "                   space count, case is ignored, the first 43 of them are used)\n"
    "  --key-file FILE  encrypt with the key in FILE (its first line)\n"
    "  --split SIZE     write volumes of at most SIZE bytes (k, M, G: 1024, 1024^2,\n"
    "                   1024^3): OUT.exe, OUT.A01, OUT.A02, ... Volume 0 (OUT.exe)\n"
    "                   ends with the CRC-32 of its payload, read from the last four\n"
    "                   bytes of the file, so it cannot be signed after packing: a\n"
    "                   signature appended behind it breaks the volume. A single-file\n"
    "                   archive can be signed: the extractor finds it by its marker.\n"
    "  --codepage N     store names in Windows code page N (default 1252, Western\n"
    "                   European): the one the extracting machines use for names\n"
    "  -j N             code on N threads (default: one a processor); the archive\n"
    "                   is the same for every N\n"
    "  -q               quiet: no progress, no summary\n"
    "  -v               list every file as it is packed\n"
    "  --help, --version\n"
    "Exit codes: 0 done, 1 an input could not be read or the output written,\n"
    "2 bad usage or a refusal (something the extractor could not extract).\n";

int DefaultThreads() {
    const unsigned n = std::thread::hardware_concurrency();
    return n > 0 ? int(n) : 1;
}

bool ParseThreads(const char* text, int& threads) {
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || n < 1 || n > kMaxThreads) return false;
    threads = int(n);
    return true;
}

bool ParseCodePage(const char* text, unsigned& codePage) {
    char* end = nullptr;
    errno = 0;
    const unsigned long n = std::strtoul(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || n == 0 || n > 65535) return false;
    codePage = unsigned(n);
    return true;
}

struct Options {
    std::string output;
    std::vector<std::string> paths;
    std::string stub;
    std::optional<std::string> key;
    std::string keyFile;
    uint64_t split = 0;
    int threads = DefaultThreads();
    unsigned codePage = kDefaultCodePage;
    bool quiet = false;
    bool verbose = false;
};

void Say(const std::string& text) { std::fprintf(stderr, "trelk-pack: %s\n", text.c_str()); }
void Warn(const std::string& text) { std::fprintf(stderr, "trelk-pack: warning: %s\n", text.c_str()); }

// One line saying what is wrong; the whole text is a --help away.
bool UsageError(const std::string& text) {
    Say(text + "; try --help");
    return false;
}

bool ParseOptions(int argc, char** argv, Options& o) {
    enum { kStub = 256, kKey, kKeyFile, kSplit, kCodePage, kHelp, kVersion };
    static const option kLong[] = {{"stub", required_argument, nullptr, kStub},
                                   {"key", required_argument, nullptr, kKey},
                                   {"key-file", required_argument, nullptr, kKeyFile},
                                   {"split", required_argument, nullptr, kSplit},
                                   {"codepage", required_argument, nullptr, kCodePage},
                                   {"help", no_argument, nullptr, kHelp},
                                   {"version", no_argument, nullptr, kVersion},
                                   {nullptr, 0, nullptr, 0}};
    opterr = 0;
    for (int c; (c = getopt_long(argc, argv, ":o:j:qv", kLong, nullptr)) != -1;) {
        switch (c) {
            case 'o': o.output = optarg; break;
            case 'j':
                if (!ParseThreads(optarg, o.threads))
                    return UsageError(std::string("not a number of threads (1 to ") + std::to_string(kMaxThreads) +
                                      "): " + optarg);
                break;
            case 'q': o.quiet = true; break;
            case 'v': o.verbose = true; break;
            case kStub: o.stub = optarg; break;
            case kKey: o.key = optarg; break;
            case kKeyFile: o.keyFile = optarg; break;
            case kSplit:
                if (!pack::ParseSize(optarg, o.split)) return UsageError(std::string("not a size: ") + optarg);
                break;
            case kCodePage:
                if (!ParseCodePage(optarg, o.codePage)) return UsageError(std::string("not a code page: ") + optarg);
                break;
            case kHelp: std::fputs(kUsageText, stdout); std::exit(kSuccess);
            case kVersion: std::fputs(kVersionText, stdout); std::exit(kSuccess);
            case ':': return UsageError(std::string("option ") + argv[optind - 1] + " needs a value");
            default: return UsageError(std::string("unknown option ") + argv[optind - 1]);
        }
    }
    for (int i = optind; i < argc; ++i) o.paths.push_back(argv[i]);
    if (o.output.empty()) return UsageError("no archive to write: give -o OUT.exe");
    if (o.paths.empty()) return UsageError("nothing to pack: give files or folders");
    if (o.key && !o.keyFile.empty()) return UsageError("give --key or --key-file, not both");
    if (o.quiet && o.verbose) return UsageError("give -q or -v, not both");
    return true;
}

// Reads a file's first `limit` bytes (all of it when it is shorter): what
// is past them is either refused or not looked at.
bool ReadFront(const std::string& path, size_t limit, pack::Bytes& bytes) {
    const int fd = sys::OpenRead(path);
    uint64_t size = 0;
    if (fd < 0 || !sys::FileSize(fd, size)) return false;
    bytes.resize(size_t(std::min<uint64_t>(size, limit)));
    const bool read = sys::ReadAt(fd, 0, bytes.data(), bytes.size());
    const int error = errno;
    sys::Close(fd);
    errno = error;
    return read;
}

// The places of the stub when no --stub is given, from trelk-pack's own path.
std::vector<std::string> StubPlaces() {
    return pack::StubPlaces(sys::SelfPath(), TRELK_INSTALLED_STUB, TRELK_BUILD_STUB);
}

// Refusals end the run; the first few say enough.
int Refuse(const std::vector<std::string>& problems) {
    constexpr size_t kShown = 20;
    for (size_t i = 0; i < problems.size() && i < kShown; ++i) Say(problems[i]);
    if (problems.size() > kShown) Say("... and " + std::to_string(problems.size() - kShown) + " more");
    return kRefused;
}

int Refuse(const std::string& problem) { return Refuse(std::vector<std::string>{problem}); }

// The key text as typed, or the first line of the key file.
bool LoadKey(const Options& o, std::optional<std::string>& key) {
    key = o.key;
    if (o.keyFile.empty()) return true;
    std::string text;
    if (!sys::ReadFirstLine(o.keyFile, text)) {
        Say("cannot read the key file " + o.keyFile + ": " + std::strerror(errno));
        return false;
    }
    key = text;
    return true;
}

// What the list of files as a whole cannot be, behind what the walk refused.
std::vector<std::string> CollectProblems(const std::vector<pack::InputFile>& files, std::vector<std::string> problems) {
    std::vector<pack::StoredSource> stored;
    for (const pack::InputFile& f : files) stored.push_back({f.stored, f.source});
    for (std::string& p : pack::CollisionProblems(stored)) problems.push_back(std::move(p));
    if (files.empty() && problems.empty()) problems.push_back("nothing to pack: the paths hold no files");
    if (files.size() > pack::kMaxEntries)
        problems.push_back(std::to_string(files.size()) + " files: an archive holds at most " +
                           std::to_string(pack::kMaxEntries));
    return problems;
}

// Volume n's name, as the extractor forms it from the archive's name.
std::string VolumeName(const std::string& output, size_t n) {
    char path[PATH_MAX];
    return VolumePath(output.c_str(), int(n), path, sizeof path) ? path : "";
}

std::string SplitProblem(const Options& o, const pack::Bytes& stub, const std::vector<pack::InputFile>& files) {
    const size_t slash = o.output.rfind('/');
    if (o.output.find('.', slash == std::string::npos ? 0 : slash + 1) == std::string::npos)
        return "a split archive's name needs an extension (" + o.output + ".exe): its volumes replace it";
    std::vector<pack::StoredEntry> named(files.size());
    for (size_t i = 0; i < files.size(); ++i) named[i].path = files[i].archived;
    const uint64_t minimum = pack::MinimumVolumeSize(stub.size(), pack::CatalogEnd(named));
    if (o.split < minimum)
        return "volume 0 of " + std::to_string(o.split) + " bytes cannot hold the stub, the header and the catalog; --split needs at least " +
               std::to_string(minimum);
    if (VolumeName(o.output, 1).empty()) return "the archive's path is too long for its volumes' names";
    return {};
}

// The progress bar while coding, and a line a file with -v.
class Observer : public pack::PackObserver {
public:
    Observer(const Options& o, size_t files, uint64_t bytes)
        : m_bar(stderr, !o.quiet && sys::IsTerminal(stderr), files, bytes), m_verbose(o.verbose) {}

    void Progress(size_t filesDone, uint64_t bytesDone, const std::string& current) override {
        m_bar.Show(filesDone, bytesDone, current);
    }
    void Packed(const pack::InputFile& file, const pack::EntryFacts& facts) override {
        if (!m_verbose) return;
        m_bar.Clear();
        std::printf("%s  %llu -> %llu bytes%s\n", file.stored.c_str(), (unsigned long long)facts.fileSize,
                    (unsigned long long)facts.storedSize, facts.codedSize > 0 ? "" : " (stored)");
    }
    void Done() { m_bar.Clear(); }

private:
    pack::ProgressBar m_bar;
    bool m_verbose;
};

void PrintSummary(const Options& o, size_t files, uint64_t inputBytes, size_t stubSize, const pack::ArchiveStream& stream,
                  double seconds) {
    const uint64_t written = stream.BytesWritten();
    const uint64_t archive = written - stubSize;
    std::string into = o.output;
    const size_t volumes = stream.VolumeCount();
    if (volumes > 1) into += " and " + std::to_string(volumes - 1) + " more volume" + (volumes > 2 ? "s" : "");
    char ratio[48] = "input empty";
    if (inputBytes > 0) std::snprintf(ratio, sizeof ratio, "%.1f%% of the input", 100.0 * double(archive) / double(inputBytes));
    std::printf("Packed %zu file%s (%llu bytes) into %s: %llu bytes, stub %zu + archive %llu (%s), %.2f s\n", files,
                files == 1 ? "" : "s", (unsigned long long)inputBytes, into.c_str(), (unsigned long long)written,
                stubSize, (unsigned long long)archive, ratio, seconds);
}

// The files to leave out of the walk, by identity: the archive and every
// volume of it that is there from an earlier run, and the temporary file
// that will become the archive (silently).
std::vector<pack::FileId> OutputIds(const Options& o, const pack::OutputFiles& out) {
    std::vector<pack::FileId> ids;
    for (int n = 0; n <= kLastVolumeNumber; ++n) {
        sys::Status st;
        const std::string name = VolumeName(o.output, size_t(n));
        if (!name.empty() && sys::GetStatus(name, true, st))
            ids.push_back({st.device, st.inode, n == 0 ? "it is the archive being written" : "it is a volume of the archive being written"});
    }
    pack::FileId temporary;
    if (out.TemporaryId(temporary.device, temporary.inode)) ids.push_back(temporary);
    return ids;
}

int OutputFailure(const Options& o, const pack::OutputFiles& out) {
    if (out.OutOfNames())
        return Refuse("the archive needs more than " + std::to_string(kLastVolumeNumber + 1) + " volumes of " +
                      std::to_string(o.split) + " bytes; names run out after " + std::to_string(kLastVolumeNumber + 1) + " (.Z99): give a larger --split");
    Say(out.Error());
    return kIoError;
}

int Run(const Options& o) {
    const auto start = std::chrono::steady_clock::now();
    pack::RemoveTemporariesOnSignals();
    // Made first, so that an output that cannot be written is known before any input is read.
    pack::OutputFiles out(o.output);
    if (!out.Create(0)) return OutputFailure(o, out);

    std::string stubPath = o.stub;
    if (stubPath.empty()) {
        std::string problem;
        stubPath = pack::FindStub(StubPlaces(), problem);
        if (stubPath.empty()) {
            Say(problem);
            return kIoError;
        }
    }
    pack::Bytes stub;
    // One byte past the largest stub that fits shows a stub too large.
    if (!ReadFront(stubPath, pack::kMarkerWindow + 1, stub)) {
        Say("cannot read the stub " + stubPath + ": " + std::strerror(errno));
        return kIoError;
    }
    sys::Status st;
    const uint64_t stubSize = sys::GetStatus(stubPath, true, st) ? st.size : stub.size();
    if (const std::string problem = pack::StubProblem(stub, stubPath, stubSize); !problem.empty()) return Refuse(problem);

    std::optional<std::string> key;
    if (!LoadKey(o, key)) return kIoError;
    if (key) {
        if (const std::string problem = pack::KeyProblem(*key); !problem.empty()) return Refuse(problem);
        if (pack::SignificantKeyChars(*key) > pack::kSignificantKeyChars)
            Warn("only the first " + std::to_string(pack::kSignificantKeyChars) + " characters of the key count");
        if (const size_t weak = pack::WeakKeyChanges(*key); weak > 0)
            Warn(std::to_string(weak) + " keys that differ from this one in a single character would pass the " +
                 "extractor's key check, and extract wrong names or data instead of being refused");
    }

    pack::Diagnostics diag;
    platform::CodePage codePage;
    if (!codePage.Open(o.codePage)) {
        Say("code page " + std::to_string(o.codePage) + " has no conversion on this system");
        return kRefused;
    }
    const std::vector<pack::InputFile> files = pack::CollectInputs(o.paths, OutputIds(o, out), diag, &codePage);
    for (const std::string& w : diag.warnings) Warn(w);
    for (const std::string& e : diag.errors) Say(e);
    if (!diag.errors.empty()) return kIoError;
    const std::vector<std::string> problems = CollectProblems(files, diag.refusals);
    if (!problems.empty()) return Refuse(problems);
    if (o.split > 0) {
        if (const std::string problem = SplitProblem(o, stub, files); !problem.empty()) return Refuse(problem);
    }

    pack::ArchiveOptions archiveOptions;
    archiveOptions.encrypted = key.has_value();
    archiveOptions.key = key.value_or("");
    pack::ArchiveStream stream(out, archiveOptions, o.split);
    std::vector<std::string> paths;
    uint64_t inputBytes = 0;
    for (const pack::InputFile& f : files) {
        paths.push_back(f.archived);
        inputBytes += f.size;
    }
    if (!stream.Begin(pack::ImagePrefix(stub), paths)) return OutputFailure(o, out);
    std::vector<pack::CatalogRecord> records;
    pack::PackProblem problem;
    Observer observer(o, files.size(), inputBytes);
    const bool packed = pack::PackFiles(files, stream, o.threads, observer, records, problem);
    observer.Done();
    if (!packed) {
        switch (problem.kind) {
            case pack::PackProblem::Refusal: return Refuse(problem.text);
            case pack::PackProblem::Input: Say(problem.text); return kIoError;
            default: return OutputFailure(o, out);
        }
    }
    if (!stream.Finish(records) || !out.Commit()) return OutputFailure(o, out);

    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!o.quiet) PrintSummary(o, files.size(), inputBytes, stub.size(), stream, seconds);
    return kSuccess;
}

}  // namespace

int main(int argc, char** argv) {
    // getopt reads the UTF-8 words of the command line.
    std::vector<std::string> words = sys::CommandLine(argc, argv);
    std::vector<char*> args;
    for (std::string& w : words) args.push_back(&w[0]);
    args.push_back(nullptr);
    Options options;
    if (!ParseOptions(int(words.size()), args.data(), options)) return kRefused;
    return Run(options);
}
