// The dialogs' logic without Win32: the extraction dialog's run from loading to
// its end, the destination and key dialogs' OK, and start-up's paths.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "archive/archive_reader.h"
#include "archive/crypt.h"
#include "common/globals.h"
#include "common/messages.h"
#include "common/win_values.h"
#include "pack/archive_writer.h"
#include "pack/encoder.h"
#include "support/scripted_host.h"
#include "ui/logic/extract_logic.h"
#include "ui/logic/prompt_logic.h"

namespace {

using Box = ScriptedHost::Box;

const Box kCatalogBox{"File error", "Couldn't load the catalog for the archive.", MB_ICONEXCLAMATION};

Box Fatal(const std::string& text) { return {"Fatal Error!", text, MB_ICONERROR}; }

pack::Bytes Text(const std::string& s) { return pack::Bytes(s.begin(), s.end()); }

// Records what the logic asks of its window, in order, and answers from a script.
class RecordingWindow : public ExtractWindow {
public:
    void SetCaption(const char* text) override { events.push_back("caption " + std::string(text)); }
    void SetFileProgress(int percent) override { events.push_back("file " + std::to_string(percent)); }
    void SetAllProgress(int percent) override { events.push_back("all " + std::to_string(percent)); }
    void SetFileName(const char* text) override { events.push_back("name " + std::string(text)); }
    bool ChooseDestination() override {
        events.push_back("destination");
        return destinationOk;
    }
    bool StartWorker(CArchiveReader* reader) override {
        events.push_back("worker");
        workerReader = reader;
        return workerStarts;
    }
    void End(int result) override { events.push_back("end " + std::to_string(result)); }
    CArchiveReader* NewReader() override { return readerAllocates ? ExtractWindow::NewReader() : nullptr; }

    bool destinationOk = true;
    bool workerStarts = true;
    bool readerAllocates = true;
    CArchiveReader* workerReader = nullptr;
    std::vector<std::string> events;
};

// A temporary folder holding one archive; g_szModulePath names it in the
// program's own form ('\' separators) so that the reader's name is its last part.
class ExtractDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/trelk-ui-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        g_cancelRequested = 0;
        g_errorRaised = 0;
    }
    void TearDown() override {
        for (const std::string& f : m_files) std::remove(f.c_str());
        std::filesystem::remove_all(m_dir);
    }

    // Writes the image under name and points the module path at it.
    void UseArchive(const std::string& name, const pack::Bytes& image) { UseArchiveIn(m_dir, name, image); }
    void UseArchiveIn(const std::string& dir, const std::string& name, const pack::Bytes& image) {
        const std::string path = dir + "/" + name;
        FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(std::fwrite(image.data(), 1, image.size(), f), image.size());
        std::fclose(f);
        m_files.push_back(path);
        UseModulePath(path);
    }
    void UseModulePath(std::string path) {
        for (char& c : path) if (c == '/') c = '\\';
        CopyBounded(g_szModulePath, kPathSize, path.c_str());
    }

    static pack::Bytes Image(const std::vector<pack::StoredEntry>& entries, const pack::ArchiveOptions& options = {}) {
        return pack::BuildArchive(Text("MZ stub bytes"), entries, options);
    }
    static std::vector<pack::StoredEntry> ThreeEntries() {
        return {pack::RawEntry(".\\docs\\a.txt", Text("alpha")),
                pack::RawEntry(".\\docs\\empty.txt", {}),
                pack::RawEntry(".\\data\\big.bin", pack::Bytes(1000, 7))};
    }

    ScriptedHost m_host;
    RecordingWindow m_window;
    std::string m_dir;
    std::vector<std::string> m_files;
};

TEST_F(ExtractDialogTest, OverallPercentTakesTheProductFirstAndTruncates) {
    struct Case { int64_t done, total; int percent; };
    const Case cases[] = {
        {0, 0, 0}, {5, 0, 0}, {0, 1005, 0}, {5, 1005, 0}, {2, 3, 66}, {1, 3, 33},
        {1005, 1005, 100}, {-1, 3, -33},
        // Far past what done * 100 could hold in 32 bits.
        {int64_t(3) << 40, int64_t(4) << 40, 75},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ExtractDialogLogic::OverallPercent(c.done, c.total), c.percent) << c.done << "/" << c.total;
}

TEST_F(ExtractDialogTest, FailedLoadsShowTheReadersBoxThenTheCatalogBoxAndEnd) {
    pack::ArchiveOptions encrypted;
    encrypted.encrypted = true;
    encrypted.key = "right";
    pack::ArchiveOptions noEntries;
    noEntries.entryCount = 0;
    struct Case {
        const char* what;
        pack::Bytes image;  // empty: no file at all
        std::vector<std::string> keys;
        std::vector<Box> boxes;
    };
    const std::vector<Case> cases = {
        {"missing file", {}, {}, {Fatal("Error while reading the archive s.exe.\nCould not open archive file"), kCatalogBox}},
        {"no marker", Text("MZ just a program"), {},
         {Fatal("Error while reading the archive s.exe.\nThis is an invalid or corrupted archive"), kCatalogBox}},
        {"wrong key", Image(ThreeEntries(), encrypted), {"wrong"},
         {Fatal("Error while reading the archive s.exe.\nThis is an invalid or corrupted archive"), kCatalogBox}},
        {"empty catalog", Image(ThreeEntries(), noEntries), {}, {kCatalogBox}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedHost host;
        host.keys.assign(c.keys.begin(), c.keys.end());
        RecordingWindow window;
        if (c.image.empty()) UseModulePath(m_dir + "/s.exe");
        else UseArchive("s.exe", c.image);
        {
            ExtractDialogLogic logic(window);
            logic.OnExtractStart();
            EXPECT_EQ(logic.CatalogHead(), nullptr);
        }
        EXPECT_EQ(host.boxes, c.boxes);
        EXPECT_EQ(window.events, std::vector<std::string>{"end 2"});
        EXPECT_EQ(g_cancelRequested, 0);
    }
}

TEST_F(ExtractDialogTest, CancelledKeyDialogEndsWithoutAnyBox) {
    pack::ArchiveOptions encrypted;
    encrypted.encrypted = true;
    encrypted.key = "right";
    UseArchive("s.exe", Image(ThreeEntries(), encrypted));
    ExtractDialogLogic logic(m_window);
    logic.OnExtractStart();  // m_host has no key to type: the dialog is cancelled
    EXPECT_EQ(m_host.keyPrompts, 1);
    EXPECT_TRUE(m_host.boxes.empty());
    EXPECT_EQ(g_cancelRequested, 1);
    EXPECT_EQ(m_window.events, std::vector<std::string>{"end 2"});
}

TEST_F(ExtractDialogTest, LoadedCatalogIsQueuedInArchiveOrderAndTotalled) {
    UseArchive("setup.exe", Image(ThreeEntries()));
    m_window.destinationOk = false;
    ExtractDialogLogic logic(m_window);
    logic.OnExtractStart();

    ASSERT_NE(logic.CatalogHead(), nullptr);
    EXPECT_EQ(logic.TotalBytes(), 1005);
    EXPECT_EQ(logic.DoneBytes(), 0);
    std::vector<std::string> queued;
    for (QueueNode* n = logic.CatalogHead()->reader->m_queueHead; n; n = n->next) queued.push_back(n->entry->path);
    EXPECT_EQ(queued, (std::vector<std::string>{".\\docs\\a.txt", ".\\docs\\empty.txt", ".\\data\\big.bin"}));
    // The caption is set before the destination is asked; a refused destination ends quietly.
    EXPECT_EQ(m_window.events,
              (std::vector<std::string>{"caption Trelk - setup.exe", "file 0", "destination", "end 2"}));
    EXPECT_TRUE(m_host.boxes.empty());
}

TEST_F(ExtractDialogTest, AcceptedDestinationStartsTheWorkerThenFollowsItsMessages) {
    UseArchive("setup.exe", Image(ThreeEntries()));
    ExtractDialogLogic logic(m_window);
    logic.OnExtractStart();
    ASSERT_NE(logic.CatalogHead(), nullptr);
    EXPECT_EQ(m_window.workerReader, logic.CatalogHead()->reader);

    // The list runs from the last descriptor to the first.
    CatalogEntry* big = logic.CatalogHead();
    CatalogEntry* empty = big->next;
    CatalogEntry* a = empty->next;
    const char name[] = "a.txt";
    logic.OnWorkerMessage(WM_EXTRACT_FILENAME, intptr_t(name));
    logic.OnWorkerMessage(WM_EXTRACT_FILEPROGRESS, 100);
    logic.OnWorkerMessage(WM_EXTRACT_FILEDONE, intptr_t(a));
    logic.OnWorkerMessage(WM_EXTRACT_FILEDONE, intptr_t(empty));
    logic.OnCancel();  // only raises the flag: the dialog stays open for the worker
    EXPECT_EQ(g_cancelRequested, 1);
    logic.OnWorkerMessage(WM_EXTRACT_FILEDONE, intptr_t(big));
    EXPECT_FALSE(logic.OnWorkerMessage(WM_EXTRACT_START, 0));
    logic.OnWorkerMessage(WM_EXTRACT_FINISHED, 0);

    EXPECT_EQ(logic.DoneBytes(), 1005);
    EXPECT_EQ(m_window.events,
              (std::vector<std::string>{"caption Trelk - setup.exe", "file 0", "destination", "worker", "name a.txt",
                                        "file 100", "all 0", "all 0", "all 100", "end 2"}));
    EXPECT_TRUE(m_host.boxes.empty());
}

TEST_F(ExtractDialogTest, OnlyEmptyFilesKeepTheOverallBarAtZero) {
    UseArchive("s.exe", Image({pack::RawEntry(".\\x", {}), pack::RawEntry(".\\y", {})}));
    ExtractDialogLogic logic(m_window);
    logic.OnExtractStart();
    ASSERT_NE(logic.CatalogHead(), nullptr);
    m_window.events.clear();
    for (CatalogEntry* e = logic.CatalogHead(); e; e = e->next) logic.OnWorkerMessage(WM_EXTRACT_FILEDONE, intptr_t(e));
    EXPECT_EQ(m_window.events, (std::vector<std::string>{"all 0", "all 0"}));
}

TEST_F(ExtractDialogTest, ReaderOrWorkerThatCannotStartEndsTheDialogWithABox) {
    struct Case { bool allocates, starts; Box box; std::vector<std::string> events; };
    const Case cases[] = {
        {false, true, Fatal("Not enough memory to open the archive."), {"end 2"}},
        {true, false, Fatal("Could not start the extraction."),
         {"caption Trelk - s.exe", "file 0", "destination", "worker", "end 2"}},
    };
    UseArchive("s.exe", Image(ThreeEntries()));
    for (const Case& c : cases) {
        ScriptedHost host;
        RecordingWindow window;
        window.readerAllocates = c.allocates;
        window.workerStarts = c.starts;
        {
            ExtractDialogLogic logic(window);
            logic.OnExtractStart();
        }
        EXPECT_EQ(host.boxes, std::vector<Box>{c.box});
        EXPECT_EQ(window.events, c.events);
    }
}

TEST_F(ExtractDialogTest, CaptionIsCutToFitItsBuffer) {
    // "/tmp/" and a name of the longest length a Linux file name may have.
    const std::string name(250, 'n');
    const std::string longName = name + ".exe";
    UseArchiveIn("/tmp", longName, Image(ThreeEntries()));
    m_window.destinationOk = false;
    {
        ExtractDialogLogic logic(m_window);
        logic.OnExtractStart();
    }
    ASSERT_FALSE(m_window.events.empty());
    EXPECT_EQ(m_window.events[0], "caption " + ("Trelk - " + longName).substr(0, kPathSize - 1));
}

// Sees whether the entries are still alive when the reader goes.
std::string g_nameSeenByReader;
class ProbeReader : public CArchiveReader {
public:
    ~ProbeReader() override { g_nameSeenByReader = m_queueHead ? m_queueHead->entry->displayName : "(no queue)"; }
};
class ProbeWindow : public RecordingWindow {
public:
    CArchiveReader* NewReader() override { return new ProbeReader; }
};

TEST_F(ExtractDialogTest, DestructionDeletesTheReaderBeforeTheEntries) {
    UseArchive("s.exe", Image(ThreeEntries()));
    ProbeWindow window;
    g_nameSeenByReader.clear();
    {
        ExtractDialogLogic logic(window);
        logic.OnExtractStart();
        ASSERT_NE(logic.CatalogHead(), nullptr);
    }
    EXPECT_EQ(g_nameSeenByReader, "a.txt");
}

// The real worker, run on the test thread: its messages reach the logic
// through the host as the window's would, so the whole run is deterministic.
ExtractDialogLogic* g_runningLogic = nullptr;
class EngineWindow : public RecordingWindow {
public:
    bool StartWorker(CArchiveReader* reader) override {
        events.push_back("worker");
        ExtractWorker(reader);
        return true;
    }
};

TEST_F(ExtractDialogTest, RealWorkerDrivesTheDialogToItsEnd) {
    UseArchive("setup.exe", Image(ThreeEntries()));
    const std::string out = m_dir + "/out";
    ASSERT_TRUE(std::filesystem::create_directory(out));
    CopyBounded(g_szDestDir, kPathSize, out.c_str());
    CopyBounded(g_szTempDir, kPathSize, out.c_str());
    EngineWindow window;
    ExtractDialogLogic logic(window);
    g_runningLogic = &logic;
    m_host.onMessage = [](ScriptedHost&, const ScriptedHost::Message& m) {
        g_runningLogic->OnWorkerMessage(m.id, m.lParam);
    };
    logic.OnExtractStart();
    m_host.onMessage = nullptr;

    std::vector<std::string> seen;  // names, overall positions and the end, as the user sees them
    for (const std::string& e : window.events)
        if (e.rfind("name ", 0) == 0 || e.rfind("all ", 0) == 0 || e.rfind("end ", 0) == 0) seen.push_back(e);
    EXPECT_EQ(seen, (std::vector<std::string>{"name a.txt", "all 0", "name empty.txt", "all 0", "name big.bin",
                                              "all 100", "end 2"}));
    EXPECT_TRUE(m_host.boxes.empty());
    EXPECT_EQ(logic.DoneBytes(), 1005);
    std::ifstream a(out + "/docs/a.txt", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(a), {}), "alpha");
    EXPECT_EQ(std::filesystem::file_size(out + "/data/big.bin"), 1000u);
}

// Records the destination dialog's boxes.
class RecordingOwner : public BoxOwner {
public:
    int ShowBox(const char* text, const char* caption, unsigned type) override {
        boxes.push_back({caption, text, type});
        return IDOK;
    }
    std::vector<Box> boxes;
};

TEST(DestinationDialog, OkStoresTheTypedTextAndTheTempFolderFollowsOnlyAnEqualText) {
    const std::string longText(300, 'd');
    struct Case {
        const char* dest;
        const char* temp;
        std::string typed;
        bool accepted;
        std::string destAfter, tempAfter;
    };
    const Case cases[] = {
        {"C:\\work", "C:\\work", "C:\\work", true, "C:\\work", "C:\\work"},
        {"C:\\work", "C:\\work", "D:\\out", true, "D:\\out", "D:\\out"},
        {"C:\\work", "C:\\tmp", "D:\\out", true, "D:\\out", "C:\\tmp"},
        {"C:\\work", "c:\\work", "D:\\out", true, "D:\\out", "c:\\work"},
        {"C:\\work", "C:\\work", "   ", true, "   ", "   "},
        {"C:\\work", "C:\\tmp", "D:\\out\\", true, "D:\\out\\", "C:\\tmp"},
        {"C:\\work", "C:\\work", longText, true, longText.substr(0, 259), longText.substr(0, 259)},
        {"C:\\work", "C:\\work", "", false, "C:\\work", "C:\\work"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        CopyBounded(g_szDestDir, kPathSize, c.dest);
        CopyBounded(g_szTempDir, kPathSize, c.temp);
        RecordingOwner owner;
        EXPECT_EQ(AcceptDestination(c.typed.c_str(), owner), c.accepted);
        EXPECT_EQ(g_szDestDir, c.destAfter);
        EXPECT_EQ(g_szTempDir, c.tempAfter);
        const std::vector<Box> expected =
            c.accepted ? std::vector<Box>{}
                       : std::vector<Box>{{"File error", "You must specify a valid destination folder", MB_ICONEXCLAMATION}};
        EXPECT_EQ(owner.boxes, expected);
    }
}

TEST(KeyDialog, OkDerivesTheKeyFromAtMost259TypedCharacters) {
    // Blanks carry no key material, so only the cut decides whether TAIL counts.
    const std::string longKey = std::string(259, ' ') + "TAIL";
    struct Case { std::string typed, derivedFrom; };
    const Case cases[] = {{"", ""}, {"secret", "secret"}, {longKey, ""}};
    for (const Case& c : cases) {
        unsigned char got[kKeySize], expected[kKeySize];
        AcceptKey(c.typed.c_str(), got);
        DeriveKey(c.derivedFrom.c_str(), expected);
        EXPECT_EQ(std::vector<unsigned char>(got, got + kKeySize), std::vector<unsigned char>(expected, expected + kKeySize))
            << c.typed.size();
    }
    // The cut matters: the characters past 259 would change the key.
    unsigned char whole[kKeySize], cut[kKeySize];
    DeriveKey(longKey.c_str(), whole);
    AcceptKey(longKey.c_str(), cut);
    EXPECT_NE(std::vector<unsigned char>(whole, whole + kKeySize), std::vector<unsigned char>(cut, cut + kKeySize));
}

TEST(StartPaths, ModulePathCurrentDirectoryAndTmp) {
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    const char* saved = std::getenv("TMP");
    const std::string savedTmp = saved ? saved : "";
    const std::string longText(300, 'p');
    struct Case {
        const char* argv0;
        const char* tmp;  // null: unset
        std::string module, temp;
    };
    const Case cases[] = {
        {"C:\\Downloads\\setup.exe", nullptr, "C:\\Downloads\\setup.exe", cwd},
        {"setup", "C:\\Temp\\", "setup", "C:\\Temp\\"},
        {"x.exe", cwd, "x.exe", cwd},
        {longText.c_str(), longText.c_str(), longText.substr(0, 259), longText.substr(0, 259)},
    };
    for (const Case& c : cases) {
        if (c.tmp) setenv("TMP", c.tmp, 1);
        else unsetenv("TMP");
        InitStartPaths(c.argv0);
        EXPECT_EQ(g_szModulePath, c.module);
        EXPECT_EQ(g_szDestDir, std::string(cwd));
        EXPECT_EQ(g_szTempDir, c.temp);
    }
    if (saved) setenv("TMP", savedTmp.c_str(), 1);
    else unsetenv("TMP");
}

}  // namespace
