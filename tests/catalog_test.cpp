#include <cstring>

#include <memory>

#include "common/win_values.h"
#include "platform/platform.h"
#include "support/fixtures.h"

using pack::Bytes;

namespace {

const char kBadDescriptor[] =
    "Error while reading the archive setup.exe.\nError while reading catalog.\nCould not read a file descriptor";
const char kUnsafe[] =
    "Error while reading the archive setup.exe.\nError while reading catalog.\nUnsafe file path in the archive";

ScriptedHost::Box Fatal(const char* text) { return {"Fatal Error!", text, MB_ICONERROR}; }

}  // namespace

class CatalogTest : public CoreTest {};

TEST_F(CatalogTest, ListRunsBackwardsAndQueueForwards) {
    std::vector<pack::StoredEntry> entries = {
        pack::RawEntry(".\\d1.txt", Pattern(1)),
        pack::RawEntry(".\\sub\\d2.bin", Pattern(2)),
        pack::RawEntry(".\\a\\b\\c.txt", Pattern(3)),
    };
    ASSERT_NE(Load(pack::BuildArchive(FakeStub(), entries, {})), nullptr);
    std::vector<std::string> list;
    for (CatalogEntry* e = catalog; e; e = e->next) {
        list.push_back(e->path);
        EXPECT_EQ(e->reader, reader);
        EXPECT_EQ(e->status, 1u);
        EXPECT_EQ(e->destPrefixLen, 0);
        if (e->next) {
            EXPECT_EQ(e->next->prev, e);
        }
    }
    EXPECT_EQ(catalog->prev, nullptr);
    EXPECT_EQ(list, (std::vector<std::string>{".\\a\\b\\c.txt", ".\\sub\\d2.bin", ".\\d1.txt"}));

    EnqueueAll();
    std::vector<std::string> queue;
    for (QueueNode* n = reader->m_queueHead; n; n = n->next) {
        queue.push_back(n->entry->displayName);
        if (n->next) {
            EXPECT_EQ(n->next->prev, n);
        }
    }
    EXPECT_EQ(reader->m_queueHead->prev, nullptr);
    EXPECT_EQ(queue, (std::vector<std::string>{"d1.txt", "d2.bin", "c.txt"}));
}

TEST_F(CatalogTest, DescriptorFieldsAndNames) {
    pack::StoredEntry e = pack::RawEntry(".\\docs\\read me.txt", Pattern(5));
    e.fileSize = -7;  // values are taken as stored
    e.codedSize = 0x12345678;
    e.crc = 0xDEADBEEF;
    e.dataOffset = int64_t(0x123456789ABLL);
    e.storedSize = int32_t(0x80000000u);
    pack::StoredEntry zero = pack::RawEntry(".\\x\0y", {});
    zero.path = std::string(".\\x\0y", 5);
    ASSERT_NE(Load(pack::BuildArchive(FakeStub(), {e, zero}, {})), nullptr);
    const CatalogEntry* last = catalog;
    const CatalogEntry* first = catalog->next;
    EXPECT_EQ(first->fileSize, -7);
    EXPECT_EQ(first->storedSize, INT32_MIN);
    EXPECT_EQ(first->rawPrefixSize, 5);
    EXPECT_EQ(first->codedSize, 0x12345678);
    EXPECT_EQ(first->dataOffset, int64_t(0x123456789ABLL));
    EXPECT_EQ(first->crc, 0xDEADBEEFu);
    EXPECT_STREQ(first->path, ".\\docs\\read me.txt");
    EXPECT_STREQ(first->displayName, "read me.txt");
    // A zero byte inside the stored path ends it.
    EXPECT_STREQ(last->path, ".\\x");
    EXPECT_STREQ(last->displayName, "x");
}

TEST_F(CatalogTest, DescriptorWithoutBackslashOrName) {
    // ReadDescriptor itself accepts these; the catalog then refuses them.
    struct Case { std::string path; const char* displayName; };
    const Case cases[] = {{"plain.txt", "plain.txt"}, {"", ""}};
    for (const Case& c : cases) {
        const Bytes body = pack::BuildArchiveBody({pack::RawEntry(c.path, {})}, {});
        WriteFileBytes(exePath, body);
        auto r = std::make_unique<CArchiveReader>();
        r->m_fdIn = platform::OpenRead(g_szModulePath);
        platform::Seek(r->m_fdIn, 9);
        CatalogEntry entry{};
        EXPECT_TRUE(r->ReadDescriptor(&entry));
        EXPECT_STREQ(entry.path, c.path.c_str());
        EXPECT_STREQ(entry.displayName, c.displayName);
        delete[] entry.path;
        delete[] entry.displayName;
        platform::Close(r->m_fdIn);
    }
}

TEST_F(CatalogTest, RefusedPaths) {
    struct Case { const char* path; const char* box; };
    const Case cases[] = {
        {"", kBadDescriptor},
        {".", kBadDescriptor},
        {"a\\b.txt", kBadDescriptor},
        {"..\\b.txt", kBadDescriptor},
        {".\\..\\evil.txt", kUnsafe},
        {".\\a\\..\\..\\evil.txt", kUnsafe},
        {".\\.\\a.txt", kUnsafe},
        {".\\...\\a.txt", kUnsafe},
        {".\\. .\\a.txt", kUnsafe},
        {".\\a\\.. ", kUnsafe},
        {".\\C:\\Windows\\evil.dll", kUnsafe},
        {".\\a.txt:stream", kUnsafe},
        {".\\a/../../evil.txt", kUnsafe},
        {".\\/etc/passwd", kUnsafe},
        // Names that name the destination folder itself, or a folder.
        {".\\", kUnsafe},
        {".\\a\\", kUnsafe},
        // Windows would open a device instead of a file.
        {".\\CON", kUnsafe},
        {".\\nul.txt", kUnsafe},
        {".\\a\\COM1", kUnsafe},
        {".\\LPT9", kUnsafe},
        {".\\aux\\readme.txt", kUnsafe},
        {".\\Prn .log", kUnsafe},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        host.boxes.clear();
        std::vector<pack::StoredEntry> entries = {pack::RawEntry(".\\good.txt", Pattern(3)), pack::RawEntry(c.path, Pattern(4))};
        EXPECT_EQ(Load(pack::BuildArchive(FakeStub(), entries, {})), nullptr);
        EXPECT_EQ(host.boxes, std::vector<ScriptedHost::Box>{Fatal(c.box)});
    }
}

TEST_F(CatalogTest, AcceptedUnusualPaths) {
    for (const char* path : {".\\..a\\b", ".\\a..\\b.txt", ".\\.hidden", ".\\a b\\c d", ".\\a\\\\b", ".\\nul1.txt", ".\\console\\com10"}) {
        SCOPED_TRACE(path);
        host.boxes.clear();
        EXPECT_NE(Load(pack::BuildArchive(FakeStub(), {pack::RawEntry(path, Pattern(2))}, {})), nullptr);
        EXPECT_TRUE(host.boxes.empty());
        FreeCatalog(catalog);
        catalog = nullptr;
    }
}

TEST_F(CatalogTest, CutShortAtEveryByteOfTheDescriptors) {
    const std::vector<pack::StoredEntry> entries = {pack::RawEntry(".\\one.txt", {}), pack::RawEntry(".\\two.txt", {})};
    const Bytes full = pack::BuildArchive(FakeStub(), entries, {});
    const size_t catalogStart = FakeStub().size() + 12 + 9;
    const size_t catalogEnd = catalogStart + 2 * (30 + 9);
    ASSERT_EQ(full.size(), catalogEnd + 2 * 100);  // two steps of empty blocks follow
    for (size_t end = catalogStart; end < catalogEnd; ++end) {
        SCOPED_TRACE(end - catalogStart);
        host.boxes.clear();
        EXPECT_EQ(Load(Bytes(full.begin(), full.begin() + long(end))), nullptr);
        EXPECT_EQ(host.boxes, std::vector<ScriptedHost::Box>{Fatal(kBadDescriptor)});
    }
}

TEST_F(CatalogTest, NegativeNameLengthIsUnreadable) {
    pack::StoredEntry e = pack::RawEntry(".\\a.txt", Pattern(3));
    e.nameLength = int16_t(0x8000);
    EXPECT_EQ(Load(pack::BuildArchive(FakeStub(), {e}, {})), nullptr);
    EXPECT_EQ(host.boxes, std::vector<ScriptedHost::Box>{Fatal(kBadDescriptor)});
}

TEST_F(CatalogTest, FreeQueueLeavesEntries) {
    ASSERT_NE(Load(pack::BuildArchive(FakeStub(), {pack::RawEntry(".\\a", {}), pack::RawEntry(".\\b", {})}, {})), nullptr);
    EnqueueAll();
    reader->FreeQueue();
    EXPECT_EQ(reader->m_queueHead, nullptr);
    EXPECT_STREQ(catalog->displayName, "b");  // still owned and intact
}
