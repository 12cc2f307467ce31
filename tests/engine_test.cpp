#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>

#include "common/messages.h"
#include "common/win_values.h"
#include "support/fixtures.h"

using pack::Bytes;
using Trace = std::vector<std::string>;

namespace {

ScriptedHost::Box WriteError(const std::string& name, const std::string& msg) {
    return {"Fatal Error!", "Error while writing the file " + name + ".\n" + msg, MB_ICONERROR};
}
ScriptedHost::Box ReadError(const std::string& msg) {
    return {"Fatal Error!", "Error while reading the archive setup.exe.\n" + msg, MB_ICONERROR};
}
ScriptedHost::Box OverwritePrompt(const std::string& name) {
    return {"Overwrite?", "The file " + name + " already exists.\nDo you want to overwrite it?", 0x23};
}

// Little-endian words of a wave with some noise: what the coder is made for.
Bytes Audio(size_t bytes, unsigned seed = 3) {
    Bytes out(bytes);
    const Bytes noise = Pattern(bytes, seed);
    for (size_t i = 0; i + 1 < bytes; i += 2) {
        const auto w = uint16_t(int16_t(8000 * std::sin(double(i) / 40.0) + (noise[i] & 31)));
        out[i] = uint8_t(w);
        out[i + 1] = uint8_t(w >> 8);
    }
    return out;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

}  // namespace

class EngineTest : public CoreTest {
protected:
    EngineTest() { mkdir((dir / "out").c_str(), 0700); }

    // Builds the archive, loads it, queues it as the dialog does and runs the worker.
    void Extract(const std::vector<pack::StoredEntry>& entries, const pack::ArchiveOptions& options = {}) {
        ASSERT_NE(Load(pack::BuildArchive(FakeStub(), entries, options)), nullptr);
        EnqueueAll();
        EXPECT_EQ(ExtractWorker(reader), 0u);
        EXPECT_EQ(reader->m_fdIn, -1);
        EXPECT_EQ(reader->m_fdOut, -1);
    }
    Bytes Out(const std::string& rel) { return ReadFileBytes(dir / ("out/" + rel)); }
    // Files below the temporary folder other than the archive and the output.
    std::vector<std::string> OutFiles() {
        std::vector<std::string> out;
        for (const std::string& f : dir.Files())
            if (f.rfind("out/", 0) == 0) out.push_back(f.substr(4));
        return out;
    }
};

TEST_F(EngineTest, TwoFilesInSubFoldersAndOneAtTheTop) {
    const Bytes a = Audio(5000), b = Pattern(777), c = Audio(1536);
    Extract({CodedEntry(".\\docs\\a.wav", Pattern(44), a, {}), pack::RawEntry(".\\docs\\img\\b.bin", b),
             CodedEntry(".\\c.raw", {}, c, {})});
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_EQ(OutFiles(), (std::vector<std::string>{"c.raw", "docs/a.wav", "docs/img/b.bin"}));
    EXPECT_EQ(Out("docs/a.wav"), Concat({Pattern(44), a}));
    EXPECT_EQ(Out("docs/img/b.bin"), b);
    EXPECT_EQ(Out("c.raw"), c);
    EXPECT_EQ(host.Trace(), (Trace{"FILENAME a.wav", "PROGRESS 100", "DONE a.wav", "FILENAME b.bin", "PROGRESS 100",
                                   "DONE b.bin", "FILENAME c.raw", "PROGRESS 100", "DONE c.raw", "FINISHED"}));
    // Extracted entries stay in the output state.
    const CatalogEntry* first = reader->m_queueHead->entry;
    EXPECT_EQ(std::string(first->path), std::string(g_szDestDir) + "\\docs\\a.wav");
    EXPECT_EQ(first->destPrefixLen, int(std::strlen(g_szDestDir)) + 1);
}

TEST_F(EngineTest, DestinationEndingInBackslash) {
    std::strcat(g_szDestDir, "\\");
    Extract({pack::RawEntry(".\\x\\a.txt", Pattern(10))});
    EXPECT_EQ(Out("x/a.txt"), Pattern(10));
    const CatalogEntry* e = reader->m_queueHead->entry;
    EXPECT_EQ(e->destPrefixLen, int(std::strlen(g_szDestDir)) + 1);
    EXPECT_EQ(std::string(e->path).substr(size_t(e->destPrefixLen) - 2, 2), "\\\\");
}

TEST_F(EngineTest, LayoutsOfStoredData) {
    struct Case {
        const char* name;
        Bytes prefix, coded, tail;
        Trace progress;
    };
    const Case cases[] = {
        {"raw prefix only", Pattern(3000), {}, {}, {"PROGRESS 100"}},
        {"coded only", {}, Audio(3000), {}, {"PROGRESS 100"}},
        {"prefix, coded and a tail", Pattern(44), Audio(20000), Pattern(999, 9), {"PROGRESS 100"}},
        {"tail larger than the buffer's refill mark", {}, Audio(1000), Pattern(200000, 5), {"PROGRESS 100"}},
        {"two steps", {}, Audio(307200), Pattern(3), {"PROGRESS 50", "PROGRESS 100"}},
        {"step and a bit", {}, Audio(153602), {}, {"PROGRESS 99", "PROGRESS 100"}},
        {"one word", {}, Audio(2), Pattern(1), {"PROGRESS 100"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NextCase();
        Extract({CodedEntry(".\\f.bin", c.prefix, c.coded, c.tail)});
        EXPECT_TRUE(host.boxes.empty());
        EXPECT_EQ(Out("f.bin"), Concat({c.prefix, c.coded, c.tail}));
        Trace want = {"FILENAME f.bin"};
        want.insert(want.end(), c.progress.begin(), c.progress.end());
        want.insert(want.end(), {"DONE f.bin", "FINISHED"});
        EXPECT_EQ(host.Trace(), want);
    }
}

TEST_F(EngineTest, BothKindsOfFillerBlocks) {
    const Bytes coded = Audio(3000);
    for (pack::FillerKind kind : {pack::FillerKind::Flagged, pack::FillerKind::Padded, pack::FillerKind::Alternating}) {
        pack::EncodeOptions options;
        options.filler = kind;
        std::vector<uint16_t> words(coded.size() / 2);
        std::memcpy(words.data(), coded.data(), coded.size());
        pack::StoredEntry e = CodedEntry(".\\f.bin", {}, coded, {});
        e.data = pack::EncodeWords(words.data(), words.size(), options);
        NextCase();
        Extract({e});
        EXPECT_TRUE(host.boxes.empty());
        EXPECT_EQ(Out("f.bin"), coded);
    }
}

TEST_F(EngineTest, EncryptedEntriesRunTheKeyStreamAcrossPrefixBlocksAndTail) {
    pack::ArchiveOptions enc;
    enc.encrypted = true;
    enc.key = "Tr3lk key";
    host.keys = {"tr3lkkey"};
    const Bytes a = Audio(160000), b = Pattern(70000, 4);
    Extract({CodedEntry(".\\a.wav", Pattern(44), a, Pattern(77000, 2)), pack::RawEntry(".\\s\\b.bin", b)}, enc);
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_EQ(Out("a.wav"), Concat({Pattern(44), a, Pattern(77000, 2)}));
    EXPECT_EQ(Out("s/b.bin"), b);
}

TEST_F(EngineTest, KeyPositionOfAnEntryFollowsItsDataOffset) {
    struct Case { int64_t dataOffset; int keyPos; };
    for (const Case& c : {Case{1, 0}, Case{43, 42}, Case{44, 0}, Case{0, 42}, Case{-1, 41}, Case{-86, 42}, Case{INT64_MIN, 0}, Case{INT64_MAX, 40}}) {
        reader = reader ? reader : new CArchiveReader;
        pack::StoredEntry e = pack::RawEntry(".\\k.bin", {});
        CatalogEntry entry{};
        entry.dataOffset = c.dataOffset;
        entry.path = DuplicateText(".\\k.bin");
        entry.displayName = DuplicateText("k.bin");
        QueueNode node{nullptr, nullptr, &entry};
        reader->m_current = &node;
        reader->StartEntry();
        EXPECT_EQ(reader->m_keyPos, c.keyPos) << c.dataOffset;
        reader->AbortExtraction();
        reader->m_current = nullptr;
        delete[] entry.path;
        delete[] entry.displayName;
    }
}

TEST_F(EngineTest, CrcMismatchDeletesTheFileAndStopsTheRun) {
    pack::StoredEntry bad = CodedEntry(".\\sub\\bad.wav", Pattern(10), Audio(4000), {});
    bad.crc ^= 1;
    Extract({pack::RawEntry(".\\good.txt", Pattern(5)), bad, pack::RawEntry(".\\later.txt", Pattern(6))});
    EXPECT_EQ(host.boxes, std::vector<ScriptedHost::Box>{WriteError("bad.wav", "CRC error")});
    EXPECT_EQ(OutFiles(), std::vector<std::string>{"good.txt"});
    EXPECT_EQ(host.Trace(), (Trace{"FILENAME good.txt", "PROGRESS 100", "DONE good.txt", "FILENAME bad.wav",
                                   "PROGRESS 100", "FINISHED"}));
    const CatalogEntry* e = reader->m_queueHead->next->entry;
    EXPECT_STREQ(e->path, ".\\sub\\bad.wav");  // back to its stored path
    EXPECT_EQ(e->status, 5u);
}

TEST_F(EngineTest, DamagedOrInconsistentEntriesEndInTheEnginesOwnReports) {
    auto entry = [](auto change) {
        pack::StoredEntry e = CodedEntry(".\\e.bin", Pattern(100), Audio(6000), Pattern(50));
        change(e);
        return e;
    };
    struct Case {
        const char* name;
        pack::StoredEntry e;
        ScriptedHost::Box box;
    };
    const Case cases[] = {
        {"stored entry shorter than its blocks", entry([](auto& e) { e.storedSize = e.rawPrefixSize + 40; }),
         ReadError("Unexpected end of file")},
        {"odd coded size", entry([](auto& e) { e.codedSize += 1; }), ReadError("Unexpected end of file")},
        {"data beyond the end of the file", entry([](auto& e) { e.dataOffset = 1 << 30; }),
         ReadError("Error while reading archive")},
        {"negative stored size", entry([](auto& e) { e.storedSize = -5; }), ReadError("Unexpected end of file")},
        {"negative coded size", entry([](auto& e) { e.codedSize = -6000; }), WriteError("e.bin", "CRC error")},
        {"negative prefix", entry([](auto& e) { e.rawPrefixSize = -100; }), WriteError("e.bin", "CRC error")},
        {"huge prefix", entry([](auto& e) { e.rawPrefixSize = 0x7FFFFFFF; }), ReadError("Error while reading archive")},
        // Read one byte early, the blocks no longer line up.
        {"zero offset", entry([](auto& e) { e.dataOffset = 0; }), ReadError("Unexpected end of file")},
        // The seek fails: a read error.
        {"huge negative offset", entry([](auto& e) { e.dataOffset = INT64_MIN; }),
         ReadError("Error while reading archive")},
        {"huge offset", entry([](auto& e) { e.dataOffset = INT64_MAX; }), ReadError("Error while reading archive")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NextCase();
        Extract({c.e, pack::RawEntry(".\\after.txt", Pattern(3))});
        EXPECT_EQ(host.boxes, std::vector<ScriptedHost::Box>{c.box});
        EXPECT_TRUE(OutFiles().empty());
        EXPECT_EQ(host.Trace().back(), "FINISHED");
    }
}

TEST_F(EngineTest, CodedSizeZeroReadsOneStepOfFillerAndReportsFullProgress) {
    pack::StoredEntry e = CodedEntry(".\\t.bin", Pattern(9), {}, Pattern(4));
    Extract({e});
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_EQ(Out("t.bin"), Concat({Pattern(9), Pattern(4)}));
    EXPECT_EQ(host.Trace(), (Trace{"FILENAME t.bin", "PROGRESS 100", "DONE t.bin", "FINISHED"}));
}

TEST_F(EngineTest, LargeRawPrefixIsCopiedInPieces) {
    const Bytes big = Pattern(3 * 1024 * 1024 + 12345, 8);
    pack::ArchiveOptions enc;
    enc.encrypted = true;
    enc.key = "k";
    host.keys = {"k"};
    Extract({pack::RawEntry(".\\big.bin", big)}, enc);
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_EQ(Out("big.bin"), big);
}

TEST_F(EngineTest, OverwritePrompt) {
    struct Case {
        int answer;
        bool replaced;
    };
    for (const Case& c : {Case{IDYES, true}, Case{IDNO, false}, Case{IDCANCEL, false}}) {
        SCOPED_TRACE(c.answer);
        NextCase();
        host.answers = {c.answer};
        mkdir((dir / "out/d").c_str(), 0700);
        WriteFileBytes(dir / "out/d/keep.txt", Bytes{'o', 'l', 'd'});
        Extract({pack::RawEntry(".\\first.txt", Pattern(2)), pack::RawEntry(".\\d\\keep.txt", Pattern(3)),
                 pack::RawEntry(".\\last.txt", Pattern(4))});
        EXPECT_EQ(host.boxes, std::vector<ScriptedHost::Box>{OverwritePrompt("keep.txt")});
        EXPECT_EQ(Out("first.txt"), Pattern(2));
        EXPECT_EQ(Out("d/keep.txt"), c.replaced ? Pattern(3) : (Bytes{'o', 'l', 'd'}));
        EXPECT_EQ(FileExists(dir / "out/last.txt"), c.replaced);
        EXPECT_EQ(g_cancelRequested, c.replaced ? 0 : 1);
    }
}

// trelk-extract skips a file by taking its entry out of the queue before the
// engine starts it; the engine itself never skips (above: No ends the run).
TEST_F(EngineTest, EntriesTakenOutOfTheQueueBeforeTheyStartAreLeftAlone) {
    WriteFileBytes(dir / "out/first.txt", Bytes{'o', 'n', 'e'});
    WriteFileBytes(dir / "out/third.txt", Bytes{'t', 'r', 'e'});
    const std::vector<pack::StoredEntry> entries = {
        pack::RawEntry(".\\first.txt", Pattern(1)), pack::RawEntry(".\\second.txt", Pattern(2)),
        pack::RawEntry(".\\third.txt", Pattern(3)), pack::RawEntry(".\\fourth.txt", Pattern(4))};
    ASSERT_NE(Load(pack::BuildArchive(FakeStub(), entries, {})), nullptr);
    EnqueueAll();
    // The first one before the run, the third once the second is done: the
    // moment before the engine starts the entry after it.
    reader->DequeueEntry(reader->m_queueHead);
    host.onMessage = [&](ScriptedHost&, const ScriptedHost::Message& m) {
        if (m.id == WM_EXTRACT_FILEDONE) {
            QueueNode* next = reader->m_current->next;
            if (next && std::strcmp(next->entry->displayName, "third.txt") == 0) reader->DequeueEntry(next);
        }
    };
    ExtractWorker(reader);
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_EQ(host.Trace(), (Trace{"FILENAME second.txt", "PROGRESS 100", "DONE second.txt", "FILENAME fourth.txt",
                                   "PROGRESS 100", "DONE fourth.txt", "FINISHED"}));
    EXPECT_EQ(Out("first.txt"), (Bytes{'o', 'n', 'e'}));
    EXPECT_EQ(Out("second.txt"), Pattern(2));
    EXPECT_EQ(Out("third.txt"), (Bytes{'t', 'r', 'e'}));
    EXPECT_EQ(Out("fourth.txt"), Pattern(4));
    EXPECT_EQ(reader->m_queueHead->entry->displayName, std::string("second.txt"));
    EXPECT_EQ(reader->m_queueHead->prev, nullptr);
    EXPECT_EQ(reader->m_queueHead->next->entry->displayName, std::string("fourth.txt"));
    EXPECT_EQ(reader->m_queueHead->next->prev, reader->m_queueHead);
}

TEST_F(EngineTest, FilesThatCannotBeCreated) {
    struct Case {
        const char* name;
        void (*setup)(const std::string& out);
        std::deque<int> answers;
        std::vector<ScriptedHost::Box> boxes;
    };
    const Case cases[] = {
        {"read-only existing file after Yes",
         [](const std::string& out) {
             WriteFileBytes(out + "/a.txt", Pattern(1));
             chmod((out + "/a.txt").c_str(), 0444);
         },
         {IDYES}, {OverwritePrompt("a.txt"), WriteError("a.txt", "Could not create file")}},
        {"a folder where the file must go", [](const std::string& out) { mkdir((out + "/a.txt").c_str(), 0700); },
         {IDYES}, {OverwritePrompt("a.txt"), WriteError("a.txt", "Could not create file")}},
        {"a file where a folder must go (second entry)", [](const std::string& out) {
             WriteFileBytes(out + "/sub", Pattern(1));
         }, {}, {WriteError("b.txt", "Could not create file")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir fresh;
        SetCorePath(g_szDestDir, fresh.path());
        c.setup(fresh.path());
        NextCase();
        host.answers = c.answers;
        const bool second = std::strstr(c.name, "second") != nullptr;
        std::vector<pack::StoredEntry> entries = {pack::RawEntry(second ? ".\\ok.txt" : ".\\a.txt", Pattern(2)),
                                                  pack::RawEntry(".\\sub\\b.txt", Pattern(3))};
        Extract(entries);
        EXPECT_EQ(host.boxes, c.boxes);
        EXPECT_EQ(reader->m_queueHead->entry->status & 4, second ? 0u : 4u);
    }
}

TEST_F(EngineTest, DestinationThatDoesNotExist) {
    SetCorePath(g_szDestDir, dir / "missing");
    Extract({pack::RawEntry(".\\a.txt", Pattern(2))});
    EXPECT_EQ(host.boxes, std::vector<ScriptedHost::Box>{WriteError("a.txt", "Could not create file")});
    EXPECT_FALSE(FileExists(dir / "missing"));
    EXPECT_EQ(host.Trace(), Trace{"FINISHED"});
}

TEST_F(EngineTest, OverlongOutputPathCannotBeCreated) {
    const std::string deep = ".\\" + std::string(120, 'a') + "\\" + std::string(120, 'b') + ".txt";
    Extract({pack::RawEntry(deep, Pattern(2))});
    EXPECT_EQ(host.boxes, std::vector<ScriptedHost::Box>{WriteError(std::string(120, 'b') + ".txt", "Could not create file")});
    EXPECT_TRUE(OutFiles().empty());
}

namespace {

// Presses Cancel when the n-th message with the given id arrives.
template <unsigned Id, int N>
void CancelAt(ScriptedHost&, const ScriptedHost::Message& m) {
    static int seen = 0;
    if (m.id == WM_EXTRACT_FINISHED) seen = 0;
    if (m.id == Id && ++seen == N) g_cancelRequested = 1;
}

}  // namespace

TEST_F(EngineTest, CancelBeforeTheFirstBlock) {
    host.onMessage = CancelAt<WM_EXTRACT_FILENAME, 1>;
    Extract({CodedEntry(".\\a.wav", Pattern(40), Audio(4000), {})});
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_TRUE(OutFiles().empty());
    EXPECT_EQ(host.Trace(), (Trace{"FILENAME a.wav", "FINISHED"}));
}

TEST_F(EngineTest, CancelDuringTheThirdOfFiveEntries) {
    host.onMessage = CancelAt<WM_EXTRACT_FILEPROGRESS, 3>;
    std::vector<pack::StoredEntry> entries;
    for (int i = 1; i <= 5; ++i) {
        const std::string name = ".\\f" + std::to_string(i) + ".wav";
        entries.push_back(CodedEntry(name, {}, Audio(i == 3 ? 400000 : 2000, unsigned(i)), {}));
    }
    Extract(entries);
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_EQ(OutFiles(), (std::vector<std::string>{"f1.wav", "f2.wav"}));
    EXPECT_EQ(host.Trace(), (Trace{"FILENAME f1.wav", "PROGRESS 100", "DONE f1.wav", "FILENAME f2.wav", "PROGRESS 100",
                                   "DONE f2.wav", "FILENAME f3.wav", "PROGRESS 38", "FINISHED"}));
}

TEST_F(EngineTest, CancelWhileAStepCompletesAnEntry) {
    // Cancel arrives with the last progress of the first entry: it is still
    // finished and reported, the next one is started and then removed.
    host.onMessage = CancelAt<WM_EXTRACT_FILEPROGRESS, 1>;
    Extract({pack::RawEntry(".\\one.txt", Pattern(5)), pack::RawEntry(".\\two.txt", Pattern(6)),
             pack::RawEntry(".\\three.txt", Pattern(7))});
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_EQ(OutFiles(), std::vector<std::string>{"one.txt"});
    EXPECT_EQ(host.Trace(), (Trace{"FILENAME one.txt", "PROGRESS 100", "DONE one.txt", "FILENAME two.txt", "FINISHED"}));
    EXPECT_STREQ(reader->m_queueHead->next->entry->path, ".\\two.txt");
}

TEST_F(EngineTest, CancelInsideTheBlockLoop) {
    // Cancel pressed while the worker is inside a step. Seen before the last
    // real block, the entry is removed; seen once the coded part is complete
    // (at its first filler block, or in a raw entry's filler), the entry is
    // finished, checked and reported done, and the run ends with the next one.
    const Trace removed = {"FILENAME one.bin", "PROGRESS 51", "FINISHED"};
    const Trace finished = {"FILENAME one.bin", "PROGRESS 100", "DONE one.bin", "FILENAME two.txt", "FINISHED"};
    const Bytes prefix = Pattern(44), coded = Audio(3000), tail = Pattern(99, 2), raw = Pattern(700, 3);
    struct Case {
        const char* name;
        pack::StoredEntry one;
        bool reads;  // count reads of the archive, else writes of the output
        int access;  // the access in which Cancel is pressed, from the entry's start
        Trace trace;
        Bytes left;  // one.bin as it stays, empty when removed
    };
    const Case cases[] = {
        // Writes: the prefix, the first block (768 words), the last (732).
        {"at the last real block", CodedEntry(".\\one.bin", prefix, coded, tail), false, 2, removed, {}},
        {"at the first filler block", CodedEntry(".\\one.bin", prefix, coded, tail), false, 3, finished,
         Concat({prefix, coded, tail})},
        // Reads: the raw data, then the step of filler in one refill.
        {"in a raw entry's filler", pack::RawEntry(".\\one.bin", raw), true, 2, finished, raw},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NextCase();
        std::unique_ptr<CancelDuringFileAccess> cancel;
        const std::string folder = c.reads ? dir.path() : dir / "out";
        host.onMessage = [&](ScriptedHost&, const ScriptedHost::Message& m) {
            if (m.id == WM_EXTRACT_FILENAME && m.text == "one.bin")
                cancel = std::make_unique<CancelDuringFileAccess>(folder, c.access);
        };
        Extract({c.one, pack::RawEntry(".\\two.txt", Pattern(6)), pack::RawEntry(".\\three.txt", Pattern(7))});
        cancel.reset();
        EXPECT_EQ(host.boxes, std::vector<ScriptedHost::Box>{});
        EXPECT_EQ(host.Trace(), c.trace);
        if (c.left.empty()) {
            EXPECT_EQ(OutFiles(), std::vector<std::string>{});
        } else {
            EXPECT_EQ(OutFiles(), std::vector<std::string>{"one.bin"});
            EXPECT_EQ(Out("one.bin"), c.left);
        }
    }
}

TEST_F(EngineTest, CancelStopsALongRawPrefixAtTheNextPiece) {
    // The entry is abandoned whatever is left of its prefix: the copy need not
    // run to its end (four pieces of 1 MiB at most) before the file is removed.
    std::unique_ptr<CancelDuringFileAccess> cancel;
    host.onMessage = [&](ScriptedHost&, const ScriptedHost::Message& m) {
        if (m.id == WM_EXTRACT_FILENAME) cancel = std::make_unique<CancelDuringFileAccess>(dir.path(), 1);
    };
    Extract({pack::RawEntry(".\\big.bin", Pattern(3 * 1024 * 1024 + 12345, 8)), pack::RawEntry(".\\two.txt", Pattern(6))});
    EXPECT_EQ(cancel->Accesses(), 1);  // the archive was read once, for the first piece
    cancel.reset();
    EXPECT_EQ(host.boxes, std::vector<ScriptedHost::Box>{});
    EXPECT_EQ(host.Trace(), (Trace{"FILENAME big.bin", "FINISHED"}));
    EXPECT_EQ(OutFiles(), std::vector<std::string>{});
}

TEST_F(EngineTest, EmptyQueueRunsNoStep) {
    ASSERT_NE(Load(pack::BuildArchive(FakeStub(), {pack::RawEntry(".\\a.txt", Pattern(2))}, {})), nullptr);
    EXPECT_EQ(ExtractWorker(reader), 0u);
    EXPECT_EQ(host.Trace(), Trace{"FINISHED"});
    EXPECT_TRUE(OutFiles().empty());
    EXPECT_EQ(reader->m_fdIn, -1);
}

TEST_F(EngineTest, AbortCanRunAgainAndAgain) {
    ASSERT_NE(Load(pack::BuildArchive(FakeStub(), {pack::RawEntry(".\\a.txt", Pattern(2))}, {})), nullptr);
    EnqueueAll();
    reader->PrepareExtraction();
    ASSERT_TRUE(FileExists(dir / "out/a.txt"));
    for (int i = 0; i < 3; ++i) reader->AbortExtraction();
    EXPECT_FALSE(FileExists(dir / "out/a.txt"));
    EXPECT_STREQ(catalog->path, ".\\a.txt");
    EXPECT_EQ(catalog->destPrefixLen, 0);
}

TEST_F(EngineTest, OverwritePromptForALongNameIsCutToItsBuffer) {
    const std::string name = std::string(216, 'n') + ".txt";
    WriteFileBytes(dir / ("out/" + name), Pattern(1));
    host.answers = {IDYES};
    Extract({pack::RawEntry(".\\" + name, Pattern(2))});
    ASSERT_EQ(host.boxes.size(), 1u);
    const std::string& text = host.boxes[0].text;
    EXPECT_EQ(text.size(), 259u);
    EXPECT_EQ(text, "The file " + name.substr(0, 205) + " already exists.\nDo you want to overwrite it?");
    EXPECT_EQ(Out(name), Pattern(2));
}
