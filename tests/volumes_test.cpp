#include <sys/stat.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "common/messages.h"
#include "common/win_values.h"
#include "support/fixtures.h"
#include "volumes/volume_name.h"

using pack::Bytes;
using Trace = std::vector<std::string>;

namespace {

ScriptedHost::Box ReadError(const std::string& msg) {
    return {"Fatal Error!", "Error while reading the archive setup.exe.\n" + msg, MB_ICONERROR};
}

std::string Core(const std::string& path) {
    std::string out = path;
    for (char& c : out)
        if (c == '/') c = '\\';
    return out;
}

}  // namespace

TEST(VolumeNames, LetterAndNumberFromTheLastDot) {
    struct Case { const char* archive; int n; const char* want; };
    const Case cases[] = {
        {"D:\\dl\\setup.exe", 0, "D:\\dl\\setup.exe"},  {"D:\\dl\\setup.exe", 1, "D:\\dl\\setup.A01"},
        {"D:\\dl\\setup.exe", 99, "D:\\dl\\setup.A99"}, {"D:\\dl\\setup.exe", 100, "D:\\dl\\setup.B00"},
        {"D:\\dl\\setup.exe", 255, "D:\\dl\\setup.C55"}, {"D:\\dl\\setup.exe", 2599, "D:\\dl\\setup.Z99"},
        {"D:\\dl\\setup", 1, "D:\\dl\\setup.A01"},       {"D:\\v1.2\\setup", 3, "D:\\v1.A03"},
    };
    for (const Case& c : cases) {
        char path[kPathSize];
        ASSERT_TRUE(VolumePath(c.archive, c.n, path, kPathSize));
        EXPECT_STREQ(path, c.want);
    }
    char path[kPathSize];
    const std::string longName = "C:\\" + std::string(254, 'x');  // no extension: 4 characters are added
    EXPECT_FALSE(VolumePath(longName.c_str(), 1, path, kPathSize));
}

class VolumesTest : public CoreTest {
protected:
    VolumesTest() {
        mkdir((dir / "out").c_str(), 0700);
        mkdir((dir / "tmp").c_str(), 0700);
        SetCorePath(g_szTempDir, dir / "tmp");
    }

    std::vector<pack::StoredEntry> Entries() {
        return {CodedEntry(".\\music\\a.wav", Pattern(44), Pattern(30000, 2), Pattern(3)),
                pack::RawEntry(".\\b.bin", Pattern(20000, 3))};
    }
    Bytes Prefix() {
        Bytes p = FakeStub();
        const Bytes marker = pack::MarkerSearchForm();
        p.insert(p.end(), marker.begin(), marker.end());
        return p;
    }
    // Writes setup.exe, setup.A01, ... (an empty one stands for a missing file)
    // and runs the whole extraction.
    void Extract(const std::vector<Bytes>& volumes) {
        ASSERT_FALSE(volumes.empty());
        for (size_t n = 0; n < volumes.size(); ++n) {
            char name[kPathSize];
            ASSERT_TRUE(VolumePath(exePath.c_str(), int(n), name, kPathSize));
            if (!volumes[n].empty()) WriteFileBytes(name, volumes[n]);
        }
        ASSERT_NE(Load(volumes[0]), nullptr) << "the catalog must load from volume 0";
        EnqueueAll();
        ExtractWorker(reader);
        EXPECT_EQ(reader->m_fdIn, -1);
        EXPECT_EQ(reader->m_fdOut, -1);
        EXPECT_EQ(reader->m_pszTempPath, nullptr);
        EXPECT_TRUE(std::filesystem::is_empty(dir / "tmp")) << "a temporary file was left behind";
    }
    void ExpectExtracted() {
        Bytes a = Pattern(44);
        for (const Bytes& part : {Pattern(30000, 2), Pattern(3)}) a.insert(a.end(), part.begin(), part.end());
        EXPECT_EQ(ReadFileBytes(dir / "out/music/a.wav"), a);
        EXPECT_EQ(ReadFileBytes(dir / "out/b.bin"), Pattern(20000, 3));
    }
    std::vector<std::string> FileNames(const Trace& trace) {
        std::vector<std::string> out;
        for (const std::string& t : trace)
            if (t.rfind("FILENAME ", 0) == 0) out.push_back(t.substr(9));
        return out;
    }
    std::vector<Bytes> Split(size_t volumeSize, const pack::ArchiveOptions& options = {}) {
        return pack::BuildSplitArchive(FakeStub(), Entries(), options, volumeSize);
    }
};

TEST_F(VolumesTest, OneVolumeWithTheLastBitInVolumeZero) {
    const auto volumes = Split(1 << 20);
    ASSERT_EQ(volumes.size(), 1u);
    Extract(volumes);
    EXPECT_TRUE(host.boxes.empty());
    ExpectExtracted();
    EXPECT_EQ(FileNames(host.Trace()), (std::vector<std::string>{Core(exePath), "a.wav", "b.bin"}));
}

TEST_F(VolumesTest, ThreeVolumesPlainAndEncrypted) {
    pack::ArchiveOptions enc;
    enc.encrypted = true;
    enc.key = "split key";
    for (const pack::ArchiveOptions& options : {pack::ArchiveOptions{}, enc}) {
        SCOPED_TRACE(options.encrypted);
        host.keys = {"SPLITKEY"};
        host.messages.clear();
        std::filesystem::remove_all(dir / "out");
        std::filesystem::create_directory(dir / "out");
        const auto volumes = Split(FakeStub().size() + 20000, options);
        ASSERT_EQ(volumes.size(), 3u);
        FreeCatalog(catalog);
        catalog = nullptr;
        Extract(volumes);
        EXPECT_TRUE(host.boxes.empty());
        ExpectExtracted();
        const std::string base = Core(dir / "setup");
        EXPECT_EQ(FileNames(host.Trace()),
                  (std::vector<std::string>{base + ".exe", base + ".A01", base + ".A02", "a.wav", "b.bin"}));
    }
}

TEST_F(VolumesTest, ProgressPerChunkRestartsForEachVolume) {
    // Payloads of 40,000 and 5 bytes: three chunks, then one.
    const Bytes body = pack::BuildArchiveBody(Entries(), {});
    const auto volumes = pack::FrameVolumes(Prefix(), body, {40000, 0});
    Extract(volumes);
    Trace trace = host.Trace();
    trace.resize(6);
    EXPECT_EQ(trace, (Trace{"FILENAME " + Core(exePath), "PROGRESS 40", "PROGRESS 81", "PROGRESS 100",
                            "FILENAME " + Core(dir / "setup.A01"), "PROGRESS 100"}));
    ExpectExtracted();
}

TEST_F(VolumesTest, EmptyPayloadSendsNoProgress) {
    const Bytes body = pack::BuildArchiveBody(Entries(), {});
    // Volume 1 holds nothing: exactly 7 bytes, whose CRC is that of volume 0's payload.
    auto volumes = pack::FrameVolumes(Prefix(), body, {30000, 0, 1 << 20});
    ASSERT_EQ(volumes[1].size(), 7u);
    Extract(volumes);
    EXPECT_TRUE(host.boxes.empty());
    ExpectExtracted();
    const Trace trace = host.Trace();
    const auto at = std::find(trace.begin(), trace.end(), "FILENAME " + Core(dir / "setup.A01"));
    ASSERT_NE(at, trace.end());
    EXPECT_EQ(*(at + 1), "FILENAME " + Core(dir / "setup.A02"));
}

TEST_F(VolumesTest, BrokenChains) {
    const Bytes body = pack::BuildArchiveBody(Entries(), {});
    const std::vector<size_t> three = {20000, 20000, 1 << 20};
    struct Case {
        const char* name;
        std::vector<Bytes> volumes;
        ScriptedHost::Box box;
    };
    auto framed = [&](auto change) {
        auto v = pack::FrameVolumes(Prefix(), body, three);
        change(v);
        return v;
    };
    const Case cases[] = {
        {"missing middle volume", framed([](auto& v) { v[1].clear(); }),
         ReadError("A file of a split archive was not found")},
        {"no last-volume bit anywhere", framed([](auto& v) { v[2][0] &= ~4; }),
         ReadError("A file of a split archive was not found")},
        {"volume shorter than its framing", framed([](auto& v) { v[1].resize(5); }),
         ReadError("Volume #1 - Error while reading split file/volume")},
        {"volume of two bytes", framed([](auto& v) { v[1].resize(2); }),
         ReadError("Volume #1 - Error while reading split file/volume")},
        {"wrong volume number", framed([](auto& v) { v[2][1] = 7; }),
         ReadError("Volume #2 - Volume number mismatch in split file/volume")},
        {"wrong stored CRC", framed([](auto& v) { v[1].back() ^= 1; }),
         ReadError("Volume #1 - CRC error in split file/volume")},
        {"damaged payload", framed([](auto& v) { v[2][100] ^= 1; }),
         ReadError("Volume #2 - CRC error in split file/volume")},
        {"volume 0 cut inside its payload", framed([](auto& v) { v[0].resize(v[0].size() - 3); }),
         ReadError("Volume #0 - CRC error in split file/volume")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(dir / "out");
        std::filesystem::create_directory(dir / "out");
        for (const char* ext : {".A01", ".A02", ".A03"}) std::filesystem::remove(dir / (std::string("setup") + ext));
        host.boxes.clear();
        host.messages.clear();
        FreeCatalog(catalog);
        catalog = nullptr;
        Extract(c.volumes);
        EXPECT_EQ(host.boxes, std::vector<ScriptedHost::Box>{c.box});
        EXPECT_FALSE(std::filesystem::exists(dir / "out/music"));
        EXPECT_EQ(host.Trace().back(), "FINISHED");
    }
}

TEST_F(VolumesTest, CancelDuringAVolume) {
    host.onMessage = [](ScriptedHost&, const ScriptedHost::Message& m) {
        if (m.id == WM_EXTRACT_FILEPROGRESS) g_cancelRequested = 1;
    };
    Extract(Split(FakeStub().size() + 40000));
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_EQ(host.Trace(), (Trace{"FILENAME " + Core(exePath), "PROGRESS 40", "FINISHED"}));
    EXPECT_FALSE(std::filesystem::exists(dir / "out/b.bin"));
}

TEST_F(VolumesTest, RemovableDriveAsksForEveryDiskUntilItIsThere) {
    host.removable = true;
    const auto volumes = Split(FakeStub().size() + 40000);
    ASSERT_EQ(volumes.size(), 2u);
    // Volume 2 is "inserted" only when its prompt shows for the second time.
    host.answers = {IDOK, IDOK, IDOK};
    host.onBox = [&](ScriptedHost& h, const ScriptedHost::Box&) {
        if (h.boxes.size() == 2) std::filesystem::rename(dir / "setup.A01", dir / "away.A01");
        if (h.boxes.size() == 3) std::filesystem::rename(dir / "away.A01", dir / "setup.A01");
    };
    Extract(volumes);
    const std::string drive = Core(exePath).substr(0, 1) + ":";
    auto prompt = [&](int n) {
        return ScriptedHost::Box{"Insert volume disk",
                                 "Please insert in drive " + drive + " the disk with\nvolume #" + std::to_string(n) +
                                     " of the archive",
                                 0x21};
    };
    EXPECT_EQ(host.boxes, (std::vector<ScriptedHost::Box>{prompt(1), prompt(2), prompt(2)}));
    EXPECT_EQ(host.beeps, (std::vector<unsigned>{0x20, 0x20, 0x20}));
    ExpectExtracted();
}

TEST_F(VolumesTest, RemovableDriveCancel) {
    host.removable = true;
    host.answers = {IDOK, IDCANCEL};
    Extract(Split(FakeStub().size() + 40000));
    EXPECT_EQ(host.boxes.size(), 2u);
    EXPECT_EQ(g_cancelRequested, 1);
    EXPECT_FALSE(std::filesystem::exists(dir / "out/b.bin"));
    EXPECT_EQ(host.Trace().back(), "FINISHED");
}

TEST_F(VolumesTest, TemporaryFolderMissing) {
    SetCorePath(g_szTempDir, dir / "no-such-folder");
    Extract(Split(1 << 20));
    EXPECT_EQ(host.boxes, std::vector<ScriptedHost::Box>{ReadError("Error while opening temporary file for writing")});
    EXPECT_EQ(host.Trace(), Trace{"FINISHED"});
}

TEST_F(VolumesTest, TemporaryPathTooLongIsNeverCut) {
    SetCorePath(g_szTempDir, dir / std::string(250 - dir.path().size(), 't'));
    Extract(Split(1 << 20));
    EXPECT_EQ(host.boxes, std::vector<ScriptedHost::Box>{ReadError("Error while opening temporary file for writing")});
}

TEST_F(VolumesTest, NamesRunOutAfterZ99) {
    reader = new CArchiveReader;
    EXPECT_FALSE(reader->OpenVolume(kLastVolumeNumber + 1));
    EXPECT_EQ(host.boxes, std::vector<ScriptedHost::Box>{ReadError("A file of a split archive was not found")});
}

TEST_F(VolumesTest, VolumePathTooLong) {
    SetCorePath(g_szModulePath, dir / std::string(256 - dir.path().size(), 'v'));
    reader = new CArchiveReader;
    EXPECT_FALSE(reader->OpenVolume(1));
    EXPECT_EQ(host.boxes.size(), 1u);
    EXPECT_NE(host.boxes[0].text.find("\nCould not open a file of a split archive"), std::string::npos);
}

TEST_F(VolumesTest, TempFileNameIsTheProcessIdInBase32) {
    reader = new CArchiveReader;
    reader->MakeTempPath();
    std::string id;
    for (unsigned long pid = static_cast<unsigned long>(getpid()); pid; pid /= 32)
        id.insert(id.begin(), "0123456789abcdefghijklmnopqrstuv"[pid % 32]);
    EXPECT_EQ(std::string(reader->m_pszTempPath), Core(dir / "tmp") + "\\s" + id + ".tmp");
}
