// Hostile archives and a hostile machine: whatever the archive claims and
// whatever fails on the way, the run ends with one report, the destination
// holds only the files completed before the failure, and no temporary file
// remains.
#include <linux/capability.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "common/messages.h"
#include "common/win_values.h"
#include "support/fixtures.h"
#include "volumes/volume_name.h"

using pack::Bytes;
using Box = ScriptedHost::Box;
using Boxes = std::vector<Box>;
using Files = std::vector<std::string>;

namespace {

Box ReadError(const std::string& msg) {
    return {"Fatal Error!", "Error while reading the archive setup.exe.\n" + msg, MB_ICONERROR};
}
Box WriteError(const std::string& name, const std::string& msg) {
    return {"Fatal Error!", "Error while writing the file " + name + ".\n" + msg, MB_ICONERROR};
}

// Root is not stopped by a folder's permissions; without these two capabilities it is.
bool DropFolderPermissionOverride() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (syscall(SYS_capget, &header, data) != 0) return false;
    data[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
    return syscall(SYS_capset, &header, data) == 0;
}

// A full disk: no file of this process may grow past `bytes`.
void LimitFileSize(rlim_t bytes) {
    signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails instead of killing the process
    const rlimit limit{bytes, bytes};
    setrlimit(RLIMIT_FSIZE, &limit);
}

void PutText(int fd, const std::string& s) {
    const uint32_t n = uint32_t(s.size());
    (void)!write(fd, &n, sizeof n);
    (void)!write(fd, s.data(), s.size());
}

bool GetText(int fd, std::string& s) {
    uint32_t n = 0;
    if (read(fd, &n, sizeof n) != sizeof n) return false;
    s.resize(n);
    for (size_t done = 0; done < n;) {
        const ssize_t r = read(fd, &s[done], n - done);
        if (r <= 0) return false;
        done += size_t(r);
    }
    return true;
}

// A stored entry of the given coded size whose data is exactly `data`.
pack::StoredEntry Blocks(const std::string& path, int32_t codedSize, const Bytes& data) {
    pack::StoredEntry e;
    e.path = path;
    e.codedSize = codedSize;
    e.fileSize = codedSize;
    e.data = data;
    return e;
}

// The joined temporary file's name: s, the process id in base 32, .tmp.
std::string TempFileName() {
    std::string id;
    for (unsigned long pid = static_cast<unsigned long>(getpid()); pid; pid /= 32)
        id.insert(id.begin(), "0123456789abcdefghijklmnopqrstuv"[pid % 32]);
    return "s" + id + ".tmp";
}

pack::StoredEntry First() { return pack::RawEntry(".\\first.txt", Pattern(5)); }
pack::StoredEntry After() { return pack::RawEntry(".\\after.txt", Pattern(6)); }

}  // namespace

class HostileTest : public CoreTest {
protected:
    HostileTest() {
        mkdir((dir / "out").c_str(), 0700);
        mkdir((dir / "tmp").c_str(), 0700);
        SetCorePath(g_szTempDir, dir / "tmp");
    }

    // Loads the image (volume 0 for a split archive), queues every entry and runs the worker.
    void Extract(const Bytes& image) {
        ASSERT_NE(Load(image), nullptr);
        EnqueueAll();
        EXPECT_EQ(ExtractWorker(reader), 0u);
        EXPECT_EQ(reader->m_fdIn, -1);
        EXPECT_EQ(reader->m_fdOut, -1);
        EXPECT_EQ(reader->m_pszTempPath, nullptr);
        ASSERT_FALSE(host.messages.empty());
        EXPECT_EQ(host.messages.back().id, unsigned(WM_EXTRACT_FINISHED));
    }
    void Extract(const std::vector<pack::StoredEntry>& entries) { Extract(pack::BuildArchive(FakeStub(), entries, {})); }

    // Runs the whole extraction in a child process with `limit` applied first and
    // brings its boxes back; the files it leaves are on the shared disk.
    Boxes ExtractInChild(const Bytes& image, const std::function<void()>& limit) {
        WriteFileBytes(exePath, image);  // before the limit, which may forbid it
        int fds[2];
        if (pipe(fds) != 0) return {};
        // The child inherits the results so far: only its own failures count.
        const int partsBefore = ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
        const pid_t pid = fork();
        if (pid == 0) {
            close(fds[0]);
            limit();
            reader = new CArchiveReader;
            catalog = reader->LoadCatalog();
            EXPECT_NE(catalog, nullptr);
            EnqueueAll();
            EXPECT_EQ(ExtractWorker(reader), 0u);
            EXPECT_EQ(reader->m_fdIn, -1);
            EXPECT_EQ(reader->m_fdOut, -1);
            const ::testing::TestResult* result = ::testing::UnitTest::GetInstance()->current_test_info()->result();
            bool failed = false;
            for (int i = partsBefore; i < result->total_part_count(); ++i) failed |= result->GetTestPartResult(i).failed();
            const bool ok = !failed && !host.messages.empty() &&
                            host.messages.back().id == WM_EXTRACT_FINISHED;
            for (const Box& b : host.boxes) {
                PutText(fds[1], b.caption);
                PutText(fds[1], b.text);
                PutText(fds[1], std::to_string(b.type));
            }
            close(fds[1]);
            _exit(ok ? 0 : 1);
        }
        close(fds[1]);
        Boxes boxes;
        for (Box b; GetText(fds[0], b.caption);) {
            std::string type;
            if (!GetText(fds[0], b.text) || !GetText(fds[0], type)) break;
            b.type = unsigned(std::stoul(type));
            boxes.push_back(b);
        }
        close(fds[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the run in the child failed";
        return boxes;
    }

    // What must hold after every run: only these files in the destination, no
    // file in the temporary folder, nothing else written beside the executable.
    void ExpectLeftBehind(Files files, const std::string& tempFolder = "tmp", const std::string& outFolder = "out") {
        std::sort(files.begin(), files.end());
        Files out, temp;
        for (const std::string& f : dir.Files()) {
            if (f.rfind(outFolder + "/", 0) == 0)
                out.push_back(f.substr(outFolder.size() + 1));
            else if (f.rfind(tempFolder + "/", 0) == 0)
                temp.push_back(f);
            else
                EXPECT_EQ(f.rfind("setup.", 0), 0u) << f << " was written outside the destination";
        }
        EXPECT_EQ(out, files);
        EXPECT_EQ(temp, Files{}) << "a temporary file remains";
    }

    Bytes VolumePrefix() {
        Bytes p = FakeStub();
        const Bytes marker = pack::MarkerSearchForm();
        p.insert(p.end(), marker.begin(), marker.end());
        return p;
    }
    void WriteVolumes(const std::vector<Bytes>& volumes) {
        for (size_t n = 1; n < volumes.size(); ++n) {
            char name[kPathSize];
            ASSERT_TRUE(VolumePath(exePath.c_str(), int(n), name, kPathSize));
            WriteFileBytes(name, volumes[n]);
        }
    }
};

TEST_F(HostileTest, CatalogClaimingMoreEntriesThanTheFileHolds) {
    struct Case {
        int16_t count;
        Boxes boxes;
    };
    const Box cutShort = ReadError("Error while reading catalog.\nCould not read a file descriptor");
    for (const Case& c : {Case{32767, {cutShort}}, Case{2, {cutShort}}, Case{-32768, {}}, Case{-1, {}}}) {
        SCOPED_TRACE(c.count);
        NextCase();
        pack::ArchiveOptions options;
        options.entryCount = c.count;
        // The descriptors read before the file ends are all freed again (the leak check sees it).
        EXPECT_EQ(Load(pack::BuildArchive(FakeStub(), {First()}, options)), nullptr);
        EXPECT_EQ(host.boxes, c.boxes);
        EXPECT_EQ(reader->m_fdIn, -1);
    }
}

TEST_F(HostileTest, SizesAndOffsetsAsStoredNeverOverflowNorAllocateUnbounded) {
    auto hostile = [](auto change) {
        pack::StoredEntry e = CodedEntry(".\\sub\\h.bin", Pattern(100), Pattern(6000, 7), Pattern(50));
        change(e);
        return e;
    };
    const int64_t archiveOffset = int64_t(FakeStub().size()) + 12;
    struct Case {
        const char* name;
        pack::StoredEntry e;
        Box box;
    };
    const Case cases[] = {
        // A raw prefix of 2 GiB - 1 in a file of a few kilobytes is read in pieces and runs out.
        {"prefix of 2 GiB - 1", hostile([](auto& e) { e.rawPrefixSize = INT32_MAX; e.storedSize = INT32_MAX; }),
         ReadError("Error while reading archive")},
        {"stored size 2 GiB - 1", hostile([](auto& e) { e.storedSize = INT32_MAX; }),
         ReadError("Error while reading archive")},
        {"stored size -2 GiB", hostile([](auto& e) { e.storedSize = INT32_MIN; }), ReadError("Unexpected end of file")},
        {"prefix -2 GiB", hostile([](auto& e) { e.rawPrefixSize = INT32_MIN; }),
         ReadError("Error while reading archive")},
        {"coded size 2 GiB - 2", hostile([](auto& e) { e.codedSize = INT32_MAX - 1; }),
         ReadError("Unexpected end of file")},
        {"coded size -2 GiB", hostile([](auto& e) { e.codedSize = INT32_MIN; }), WriteError("h.bin", "CRC error")},
        {"offset beyond the file", hostile([](auto& e) { e.dataOffset = int64_t(1) << 40; }),
         ReadError("Error while reading archive")},
        // Read from the marker's last byte on: the bytes are wrong, and the checksum says so.
        {"offset -1", hostile([](auto& e) { e.dataOffset = -1; }), WriteError("h.bin", "CRC error")},
        {"offset whose sum with the archive start is 2^63 - 1",
         hostile([archiveOffset](auto& e) { e.dataOffset = INT64_MAX - archiveOffset; }),
         ReadError("Error while reading archive")},
        {"offset whose sum would pass 2^63 - 1",
         hostile([archiveOffset](auto& e) { e.dataOffset = INT64_MAX - archiveOffset + 1; }),
         ReadError("Error while reading archive")},
        {"offset -2^63", hostile([](auto& e) { e.dataOffset = INT64_MIN; }), ReadError("Error while reading archive")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NextCase();
        Extract({First(), c.e, After()});
        EXPECT_EQ(host.boxes, Boxes{c.box});
        ExpectLeftBehind({"first.txt"});
    }
}

TEST_F(HostileTest, OverlappingEntriesReadTheSameBytes) {
    const pack::StoredEntry a = pack::RawEntry(".\\a.bin", Pattern(300));
    pack::StoredEntry b = pack::RawEntry(".\\b.bin", Pattern(300));
    b.dataOffset = pack::CatalogEnd({a, b});  // where a's data lies
    Extract({a, b});
    EXPECT_TRUE(host.boxes.empty());
    ExpectLeftBehind({"a.bin", "b.bin"});
    EXPECT_EQ(ReadFileBytes(dir / "out/b.bin"), Pattern(300));
}

TEST_F(HostileTest, EndlessZeroRunInABlock) {
    struct Case {
        const char* name;
        size_t zeros;
    };
    // Shorter than the input buffer, and longer, so that the run spans every refill.
    for (const Case& c : {Case{"100 KB of zero bits", 100000}, Case{"600 KB of zero bits", 600000}}) {
        SCOPED_TRACE(c.name);
        NextCase();
        Bytes data = {0x00};  // order 0, k = 0: a gamma code that never ends
        data.resize(1 + c.zeros, 0);
        Extract({First(), Blocks(".\\zeros.bin", 2 * 768, data), After()});
        EXPECT_EQ(host.boxes, Boxes{ReadError("Unexpected end of file")});
        ExpectLeftBehind({"first.txt"});
    }
}

TEST_F(HostileTest, VolumeChainThatNeverEndsRunsOutOfNamesAtZ99) {
    const Bytes body = pack::BuildArchiveBody({First()}, {});
    // Volume 0 holds the whole archive; 2,599 empty volumes follow, none marked last.
    std::vector<Bytes> volumes = pack::FrameVolumes(VolumePrefix(), body, std::vector<size_t>(kLastVolumeNumber + 1, body.size()));
    Bytes& last = volumes.back();
    last[0] &= uint8_t(~kFlagLastVolume);
    WriteVolumes(volumes);
    Extract(volumes[0]);
    EXPECT_EQ(host.boxes, Boxes{ReadError("A file of a split archive was not found")});
    const std::string z99 = host.messages[host.messages.size() - 2].text;
    EXPECT_EQ(z99.substr(z99.size() - 4), ".Z99");
    ExpectLeftBehind({});
}

TEST_F(HostileTest, OutputPathsOf259And260Characters) {
    const std::string dest = std::string(g_szDestDir) + "\\";
    for (size_t total : {size_t(259), size_t(260)}) {
        SCOPED_TRACE(total);
        NextCase();
        // Folders of 200 characters at most, the file name fills the rest.
        std::string rel;
        while (dest.size() + rel.size() + 201 < total) rel += std::string(200 - 1, 'd') + "\\";
        const std::string name = std::string(total - dest.size() - rel.size(), 'f');
        rel += name;
        ASSERT_EQ(dest.size() + rel.size(), total);
        Extract({First(), pack::RawEntry(".\\" + rel, Pattern(7)), After()});
        if (total == 259) {
            EXPECT_TRUE(host.boxes.empty());
            std::string native = rel;
            for (char& ch : native)
                if (ch == '\\') ch = '/';
            ExpectLeftBehind({"after.txt", "first.txt", native});
        } else {
            EXPECT_EQ(host.boxes, Boxes{WriteError(name, "Could not create file")});
            ExpectLeftBehind({"first.txt"});
        }
    }
}

TEST_F(HostileTest, TemporaryPathsOf259And260Characters) {
    const std::string file = "\\" + TempFileName();
    const auto volumes = pack::FrameVolumes(VolumePrefix(), pack::BuildArchiveBody({First()}, {}), {1 << 20});
    for (size_t total : {size_t(259), size_t(260)}) {
        SCOPED_TRACE(total);
        NextCase();
        // A temporary folder whose path, with the file name behind it, is `total` characters long.
        std::string folder = dir / "long";
        mkdir(folder.c_str(), 0700);
        const size_t want = total - file.size();
        while (folder.size() + 201 < want) {
            folder += "/" + std::string(200 - 1, 't');
            mkdir(folder.c_str(), 0700);
        }
        folder += "/" + std::string(want - folder.size() - 1, 'u');
        mkdir(folder.c_str(), 0700);
        ASSERT_EQ(folder.size() + file.size(), total);
        SetCorePath(g_szTempDir, folder);
        Extract(volumes[0]);
        if (total == 259) {
            EXPECT_TRUE(host.boxes.empty());
            ExpectLeftBehind({"first.txt"}, "long");
        } else {
            EXPECT_EQ(host.boxes, Boxes{ReadError("Error while opening temporary file for writing")});
            ExpectLeftBehind({}, "long");
        }
        std::filesystem::remove_all(dir / "long");
    }
}

TEST_F(HostileTest, TemporaryFolderMissingOrReadOnly) {
    const auto volumes = pack::FrameVolumes(VolumePrefix(), pack::BuildArchiveBody({First()}, {}), {1 << 20});
    const Box box = ReadError("Error while opening temporary file for writing");

    SetCorePath(g_szTempDir, dir / "no-such-folder");
    Extract(volumes[0]);
    EXPECT_EQ(host.boxes, Boxes{box});
    ExpectLeftBehind({});

    NextCase();
    SetCorePath(g_szTempDir, dir / "tmp");
    chmod((dir / "tmp").c_str(), 0500);
    EXPECT_EQ(ExtractInChild(volumes[0], [] { ASSERT_TRUE(DropFolderPermissionOverride()); }), Boxes{box});
    chmod((dir / "tmp").c_str(), 0700);
    ExpectLeftBehind({});
}

TEST_F(HostileTest, WhatStandsAtTheTemporaryFileNameIsTruncatedOnlyWhenAPlainFile) {
    // The name is predictable: anyone who can write to the temporary folder
    // can plant something there before the run.
    const auto volumes = pack::FrameVolumes(VolumePrefix(), pack::BuildArchiveBody({First()}, {}), {1 << 20});
    const std::string temp = dir / ("tmp/" + TempFileName());
    const std::string victim = dir / "victim.txt";
    const Box refused = ReadError("Error while opening temporary file for writing");
    struct Case {
        const char* name;
        std::function<void()> plant;
        Boxes boxes;
        Files left;
    };
    const Case cases[] = {
        {"a plain file", [&] { WriteFileBytes(temp, Pattern(5000)); }, {}, {"first.txt"}},
        {"a link to another file", [&] { symlink(victim.c_str(), temp.c_str()); }, {refused}, {}},
        {"a link to nothing yet", [&] { symlink((dir / "made.txt").c_str(), temp.c_str()); }, {refused}, {}},
        {"a second name of another file", [&] { link(victim.c_str(), temp.c_str()); }, {refused}, {}},
        {"a FIFO", [&] { mkfifo(temp.c_str(), 0600); }, {refused}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NextCase();
        std::filesystem::remove(temp);
        WriteFileBytes(victim, Pattern(77));
        c.plant();
        const bool planted = !c.boxes.empty();
        Extract(volumes[0]);
        EXPECT_EQ(host.boxes, c.boxes);
        EXPECT_EQ(ReadFileBytes(victim), Pattern(77));
        EXPECT_FALSE(FileExists(dir / "made.txt"));
        // What was planted is not ours to remove; a plain file was used and removed.
        EXPECT_EQ(std::filesystem::symlink_status(temp).type() != std::filesystem::file_type::not_found, planted);
        std::filesystem::remove(temp);
        std::filesystem::remove(victim);
        ExpectLeftBehind(c.left);
    }
}

TEST_F(HostileTest, DiskFullInTheMiddleOfAFile) {
    const rlim_t limit = 64 * 1024;
    const Bytes big = Pattern(3 * limit);
    struct Case {
        const char* name;
        pack::StoredEntry e;
    };
    const Case cases[] = {
        {"in the raw prefix", CodedEntry(".\\big.bin", big, Pattern(3000, 2), {})},
        {"in the coded blocks", CodedEntry(".\\big.bin", Pattern(10), big, {})},
        {"in the raw tail", CodedEntry(".\\big.bin", {}, Pattern(3000, 2), big)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NextCase();
        const Bytes image = pack::BuildArchive(FakeStub(), {First(), c.e, After()}, {});
        EXPECT_EQ(ExtractInChild(image, [] { LimitFileSize(limit); }),
                  Boxes{WriteError("big.bin", "Error while writing file")});
        ExpectLeftBehind({"first.txt"});
    }
}

TEST_F(HostileTest, DiskFullWhileJoiningVolumes) {
    const rlim_t limit = 64 * 1024;
    const auto volumes = pack::BuildSplitArchive(FakeStub(), {First(), pack::RawEntry(".\\big.bin", Pattern(3 * limit))},
                                                 {}, 50000);
    ASSERT_GT(volumes.size(), 2u);
    WriteVolumes(volumes);
    EXPECT_EQ(ExtractInChild(volumes[0], [] { LimitFileSize(limit); }),
              Boxes{ReadError("Error while writing the temporary file")});
    ExpectLeftBehind({});
}

TEST_F(HostileTest, DestinationBecomesUnwritableInTheMiddle) {
    struct Case {
        const char* name;
        std::string second;
    };
    for (const Case& c : {Case{"file in the destination", ".\\second.txt"}, Case{"file in a new folder", ".\\new\\second.txt"}}) {
        SCOPED_TRACE(c.name);
        NextCase();
        const std::string out = dir / "out";
        // The folder turns read-only once the first file is done.
        host.onMessage = [out](ScriptedHost&, const ScriptedHost::Message& m) {
            if (m.id == WM_EXTRACT_FILEDONE) chmod(out.c_str(), 0500);
        };
        const Bytes image = pack::BuildArchive(FakeStub(), {First(), pack::RawEntry(c.second, Pattern(3)), After()}, {});
        EXPECT_EQ(ExtractInChild(image, [] { ASSERT_TRUE(DropFolderPermissionOverride()); }),
                  Boxes{WriteError("second.txt", "Could not create file")});
        chmod(out.c_str(), 0700);
        ExpectLeftBehind({"first.txt"});
        host.onMessage = nullptr;
    }
}

namespace {

// Runs with another current folder, as a relative destination needs, and goes back.
class InFolder {
public:
    explicit InFolder(const std::string& folder) : m_back(std::filesystem::current_path()) {
        std::filesystem::current_path(folder);
    }
    ~InFolder() { std::filesystem::current_path(m_back); }

private:
    std::filesystem::path m_back;
};

// Presses Cancel when the given message arrives for bad.bin.
std::function<void(ScriptedHost&, const ScriptedHost::Message&)> CancelForBadAt(unsigned id) {
    return [id, armed = false](ScriptedHost&, const ScriptedHost::Message& m) mutable {
        if (m.id == WM_EXTRACT_FILENAME) armed = m.text == "bad.bin";
        if (armed && m.id == id) g_cancelRequested = 1;
    };
}

}  // namespace

TEST_F(HostileTest, FailedFileIsRemovedWhateverTheDestination) {
    // Below a relative destination every output path begins with '.', as a
    // stored path does; only the entry's own state tells whether it was created.
    struct Destination {
        const char* typed;  // as the user typed it
        std::string cwd;
        std::string out;    // where it lands, below the test folder
    };
    const Destination destinations[] = {
        {".\\out", dir.path(), "out"},
        {"..\\x\\out", dir / "y", "x/out"},
        {".", dir / "out", "out"},
        {"", dir.path(), "out"},  // absolute: the test folder's out
    };
    auto bad = [](const Bytes& prefix, const Bytes& coded, auto change) {
        pack::StoredEntry e = CodedEntry(".\\sub\\bad.bin", prefix, coded, Pattern(50));
        change(e);
        return e;
    };
    auto keep = [](pack::StoredEntry&) {};
    const rlim_t limit = 64 * 1024;
    Bytes truncated = pack::BuildArchive(FakeStub(), {First(), bad(Pattern(10), Pattern(6000, 7), keep)}, {});
    truncated.resize(truncated.size() - 300);
    struct Kind {
        const char* name;
        Bytes image;
        Boxes boxes;
        Files left;
        bool fullDisk = false;  // run in a child whose files cannot grow past the limit
        std::function<void(ScriptedHost&, const ScriptedHost::Message&)> onMessage = nullptr;
        // Cancel inside bad.bin's n-th write (or read of the archive) from its start.
        int cancelAccess = 0;
        bool cancelOnRead = false;
    };
    auto image = [](const pack::StoredEntry& e) { return pack::BuildArchive(FakeStub(), {First(), e, After()}, {}); };
    const Kind kinds[] = {
        {"CRC error", image(bad(Pattern(10), Pattern(6000, 7), [](auto& e) { e.crc ^= 1; })),
         {WriteError("bad.bin", "CRC error")}, {"first.txt"}},
        {"short entry", image(bad(Pattern(10), Pattern(6000, 7), [](auto& e) { e.storedSize = e.rawPrefixSize + 40; })),
         {ReadError("Unexpected end of file")}, {"first.txt"}},
        {"truncated data", truncated, {ReadError("Error while reading archive")}, {"first.txt"}},
        {"full disk", image(bad(Pattern(10), Pattern(3 * limit), keep)),
         {WriteError("bad.bin", "Error while writing file")}, {"first.txt"}, true},
        {"Cancel before the first block", image(bad(Pattern(10), Pattern(6000, 7), keep)), {}, {"first.txt"}, false,
         CancelForBadAt(WM_EXTRACT_FILENAME)},
        {"Cancel between two steps", image(bad(Pattern(10), Pattern(400000, 7), keep)), {}, {"first.txt"}, false,
         CancelForBadAt(WM_EXTRACT_FILEPROGRESS)},
        // Writes: the prefix, then the two real blocks.
        {"Cancel at the last real block", image(bad(Pattern(10), Pattern(3000, 7), keep)), {}, {"first.txt"}, false,
         nullptr, 2},
        {"Cancel at the first filler block", image(bad(Pattern(10), Pattern(3000, 7), keep)), {},
         {"first.txt", "sub/bad.bin"}, false, nullptr, 3},
        // Reads: the raw data, then the step of filler.
        {"Cancel in a raw entry's filler", image(pack::RawEntry(".\\sub\\bad.bin", Pattern(700))), {},
         {"first.txt", "sub/bad.bin"}, false, nullptr, 2, true},
    };
    for (const Destination& d : destinations) {
        for (const Kind& k : kinds) {
            SCOPED_TRACE(std::string(d.typed) + ", " + k.name);
            NextCase();
            std::filesystem::remove_all(dir / "x");
            std::filesystem::create_directories(dir / "x/out");
            std::filesystem::create_directories(dir / "y");
            InFolder in(d.cwd);
            if (*d.typed)
                std::strcpy(g_szDestDir, d.typed);
            else
                SetCorePath(g_szDestDir, dir / "out");
            host.onMessage = k.onMessage;
            std::unique_ptr<CancelDuringFileAccess> cancel;
            if (k.cancelAccess) {
                const std::string folder = k.cancelOnRead ? dir.path() : dir / (d.out + "/sub");
                host.onMessage = [&cancel, folder, n = k.cancelAccess](ScriptedHost&, const ScriptedHost::Message& m) {
                    if (m.id == WM_EXTRACT_FILENAME && m.text == "bad.bin")
                        cancel = std::make_unique<CancelDuringFileAccess>(folder, n);
                };
            }
            if (k.fullDisk)
                EXPECT_EQ(ExtractInChild(k.image, [] { LimitFileSize(limit); }), k.boxes);
            else {
                Extract(k.image);
                EXPECT_EQ(host.boxes, k.boxes);
            }
            cancel.reset();
            ExpectLeftBehind(k.left, "tmp", d.out);
        }
    }
}
