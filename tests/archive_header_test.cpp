#include <cstring>

#include "common/win_values.h"
#include "support/fixtures.h"

using pack::Bytes;

namespace {

const char kInvalid[] = "Error while reading the archive setup.exe.\nThis is an invalid or corrupted archive";
const char kHeaderCut[] = "Error while reading the archive setup.exe.\nCould not read the archive header";
const char kTooNew[] =
    "Error while reading the archive setup.exe.\nThe current version of the program\ncannot process this archive";

ScriptedHost::Box Fatal(const char* text) { return {"Fatal Error!", text, MB_ICONERROR}; }

std::vector<pack::StoredEntry> OneFile() { return {pack::RawEntry(".\\a.txt", Pattern(10))}; }

}  // namespace

class HeaderTest : public CoreTest {};

TEST_F(HeaderTest, MarkerPositions) {
    const Bytes marker = pack::MarkerSearchForm();
    const Bytes body = pack::BuildArchiveBody(OneFile(), {});
    auto withMarkerAt = [&](size_t at) {
        Bytes image = FakeStub(at);
        image.insert(image.end(), marker.begin(), marker.end());
        image.insert(image.end(), body.begin(), body.end());
        return image;
    };
    struct Case {
        const char* name;
        Bytes image;
        int32_t offset;  // expected archive start, 0 when no catalog
        const char* box;
    };
    Bytes markerLast = withMarkerAt(200);
    markerLast.resize(212);
    // A second archive behind the first must not win over it.
    Bytes twoMarkers = withMarkerAt(100);
    const Bytes other = pack::BuildArchiveBody({pack::RawEntry(".\\other.txt", Pattern(4))}, {});
    twoMarkers.insert(twoMarkers.end(), marker.begin(), marker.end());
    twoMarkers.insert(twoMarkers.end(), other.begin(), other.end());
    const Case cases[] = {
        {"after zero bytes", withMarkerAt(3000), 3012, nullptr},
        {"at the very start", withMarkerAt(0), 12, nullptr},
        {"first of two", twoMarkers, 112, nullptr},
        {"ends on the window's last byte", withMarkerAt(kWindowSize - 12), kWindowSize, nullptr},
        {"crosses the window's end", withMarkerAt(kWindowSize - 11), 0, kInvalid},
        {"beyond the window", withMarkerAt(kWindowSize + 5), 0, kInvalid},
        {"no archive at all", FakeStub(5000), 0, kInvalid},
        {"marker is the last 12 bytes", markerLast, 0, kHeaderCut},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host.boxes.clear();
        FreeCatalog(catalog);
        Load(c.image);
        if (c.box) {
            EXPECT_EQ(catalog, nullptr);
            EXPECT_EQ(host.boxes, std::vector<ScriptedHost::Box>{Fatal(c.box)});
        } else {
            ASSERT_NE(catalog, nullptr);
            EXPECT_TRUE(host.boxes.empty());
            EXPECT_EQ(reader->m_archiveOffset, c.offset);
            EXPECT_STREQ(catalog->path, ".\\a.txt");
        }
        EXPECT_EQ(reader->m_fdIn, -1);
    }
}

TEST_F(HeaderTest, FindMarkerRefusesEmptyWindow) {
    reader = new CArchiveReader;
    const unsigned char byte = 0;
    EXPECT_FALSE(reader->FindMarker(&byte, 0));
    EXPECT_FALSE(reader->FindMarker(&byte, -1));
}

TEST_F(HeaderTest, Outcomes) {
    struct Case {
        const char* name;
        pack::ArchiveOptions options;
        const char* box;  // nullptr: no box
        bool loads;
    };
    auto opts = [](auto change) {
        pack::ArchiveOptions o;
        change(o);
        return o;
    };
    const Case cases[] = {
        {"valid", {}, nullptr, true},
        {"wrong magic", opts([](auto& o) { o.magic = "TRKB"; }), kInvalid, false},
        {"version 10 accepted", opts([](auto& o) { o.version = 10; }), nullptr, true},
        {"version 11 refused", opts([](auto& o) { o.version = 11; }), kTooNew, false},
        {"version 0x80 is negative and accepted", opts([](auto& o) { o.version = int8_t(0x80); }), nullptr, true},
        {"sub-version is not checked", opts([](auto& o) { o.subVersion = 99; }), nullptr, true},
        {"entry count 0", opts([](auto& o) { o.entryCount = 0; }), nullptr, false},
        {"entry count 0x8000 is negative", opts([](auto& o) { o.entryCount = int16_t(0x8000); }), nullptr, false},
        {"flag bits 2 to 7 change nothing", opts([](auto& o) { o.extraFlags = 0xFC & ~2; }), nullptr, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host.boxes.clear();
        FreeCatalog(catalog);
        Load(pack::BuildArchive(FakeStub(), OneFile(), c.options));
        EXPECT_EQ(catalog != nullptr, c.loads);
        if (c.box)
            EXPECT_EQ(host.boxes, std::vector<ScriptedHost::Box>{Fatal(c.box)});
        else
            EXPECT_TRUE(host.boxes.empty());
        EXPECT_EQ(reader->m_fdIn, -1);
    }
}

TEST_F(HeaderTest, HeaderCutShortAtEveryByte) {
    const Bytes full = pack::BuildArchive(FakeStub(), OneFile(), {});
    const size_t start = FakeStub().size() + 12;
    for (size_t keep = 0; keep < 9; ++keep) {  // flags, magic, count, versions
        SCOPED_TRACE(keep);
        host.boxes.clear();
        Load(Bytes(full.begin(), full.begin() + long(start + keep)));
        EXPECT_EQ(catalog, nullptr);
        // A magic cut short reads as a failed read, not as a wrong magic.
        EXPECT_EQ(host.boxes, std::vector<ScriptedHost::Box>{Fatal(kHeaderCut)});
    }
}

TEST_F(HeaderTest, SplitFlagSkipsThreeBytesBeforeTheMagic) {
    // Volume 0 of a split archive: flags, volume number, then the body's bytes from its second on.
    Bytes body = pack::BuildArchiveBody(OneFile(), {});
    Bytes image = FakeStub();
    const Bytes marker = pack::MarkerSearchForm();
    image.insert(image.end(), marker.begin(), marker.end());
    image.push_back(0x02 | 0x04);
    image.push_back(0);
    image.push_back(0);
    image.insert(image.end(), body.begin(), body.end());
    ASSERT_NE(Load(image), nullptr);
    EXPECT_EQ(reader->m_flags, 6);
    EXPECT_STREQ(catalog->path, ".\\a.txt");
}

TEST_F(HeaderTest, ExecutableThatCannotBeOpened) {
    reader = new CArchiveReader;  // g_szModulePath names a file never written
    EXPECT_EQ(reader->LoadCatalog(), nullptr);
    EXPECT_EQ(host.boxes, std::vector<ScriptedHost::Box>{
                              Fatal("Error while reading the archive setup.exe.\nCould not open archive file")});
    EXPECT_EQ(reader->m_fdIn, -1);
}

TEST_F(HeaderTest, EncryptedArchives) {
    pack::ArchiveOptions enc;
    enc.encrypted = true;
    enc.key = "Open Sesame";
    struct Case {
        const char* name;
        std::deque<std::string> keys;  // empty: the key dialog is cancelled
        bool damageMagic;
        const char* box;
        bool loads;
        uint8_t cancel;
    };
    const Case cases[] = {
        {"right key", {"open sesame"}, false, nullptr, true, 0},
        {"wrong key", {"open sesamE!"}, false, kInvalid, false, 0},
        {"cancelled key dialog", {}, false, nullptr, false, 1},
        {"damaged archive still asks for the key first", {"open sesame"}, true, kInvalid, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_cancelRequested = 0;
        host.boxes.clear();
        host.keyPrompts = 0;
        host.keys = c.keys;
        Bytes image = pack::BuildArchive(FakeStub(), OneFile(), enc);
        if (c.damageMagic) image[FakeStub().size() + 12 + 2] ^= 0x55;
        FreeCatalog(catalog);
        Load(image);
        EXPECT_EQ(host.keyPrompts, 1);
        EXPECT_EQ(catalog != nullptr, c.loads);
        if (c.box)
            EXPECT_EQ(host.boxes, std::vector<ScriptedHost::Box>{Fatal(c.box)});
        else
            EXPECT_TRUE(host.boxes.empty());
        EXPECT_EQ(g_cancelRequested, c.cancel);
    }
}

TEST_F(HeaderTest, UnencryptedArchiveNeverAsksForAKey) {
    ASSERT_NE(Load(pack::BuildArchive(FakeStub(), OneFile(), {})), nullptr);
    EXPECT_EQ(host.keyPrompts, 0);
}
