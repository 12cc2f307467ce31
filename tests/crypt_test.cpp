#include <cstring>
#include <memory>
#include <numeric>

#include "support/fixtures.h"

namespace {

std::vector<unsigned char> Key(const char* text) {
    std::vector<unsigned char> key(kKeySize);
    DeriveKey(text, key.data());
    return key;
}

}  // namespace

TEST(DeriveKey, CleaningIgnoresSpacesControlsCaseAndHighBytes) {
    const auto expected = Key("OPENSESAME");
    for (const char* text : {"open sesame", "Open\tSesame", " o p e n s e s a m e ", "OpenSesame\x7f", "open\x80\xffsesame\n"})
        EXPECT_EQ(Key(text), expected) << text;
    EXPECT_NE(Key("open sesame!"), expected);
}

TEST(DeriveKey, OneCharacterActsOnEveryByte) {
    const auto key = Key("k");  // cleaned to 'K'
    const unsigned char ch = 'K';
    for (int j = 0; j < kKeySize; ++j) {
        const unsigned char table = g_keyTable[j];
        const unsigned char want = (j & 1) ? table ^ uint8_t(256 - ch) : ch ^ uint8_t(256 - table);
        EXPECT_EQ(key[size_t(j)], want) << j;
    }
}

TEST(DeriveKey, CharactersBeyondTheFortyThirdHaveNoEffect) {
    const std::string base(43, 'Q');
    EXPECT_EQ(Key((base + "extra").c_str()), Key(base.c_str()));
    EXPECT_NE(Key((base.substr(0, 42) + "R").c_str()), Key(base.c_str()));
}

TEST(DeriveKey, EmptyCleanedTextGivesTheTable) {
    const std::vector<unsigned char> table(g_keyTable, g_keyTable + kKeySize);
    for (const char* text : {"", "   ", "\t\n", "\x80\x81"}) EXPECT_EQ(Key(text), table);
}

TEST(DecryptStream, RunsOnFromItsPositionAndWraps) {
    auto reader = std::make_unique<CArchiveReader>();
    std::iota(reader->m_key, reader->m_key + kKeySize, 1);  // key byte i is i + 1
    reader->m_keyPos = 40;
    unsigned char buffer[50] = {};
    reader->DecryptStream(buffer, 50);
    std::vector<int> used(buffer, buffer + 50);
    std::vector<int> want;
    for (int i = 40; i < 43; ++i) want.push_back(i + 1);
    for (int i = 0; i < 43; ++i) want.push_back(i + 1);
    for (int i = 0; i < 4; ++i) want.push_back(i + 1);
    EXPECT_EQ(used, want);
    EXPECT_EQ(reader->m_keyPos, 4);
}

TEST(MaskWithKey, FoldsAllKeyBytesIntoFourAndLeavesThePosition) {
    auto reader = std::make_unique<CArchiveReader>();
    for (int i = 0; i < kKeySize; ++i) reader->m_key[i] = uint8_t(1u << (i % 8));
    reader->m_keyPos = 17;
    unsigned char magic[4] = {};
    reader->MaskWithKey(magic, 4);
    unsigned char want[4] = {};
    for (int i = 0; i < kKeySize; ++i) want[i % 4] ^= reader->m_key[i];
    EXPECT_EQ(0, std::memcmp(magic, want, 4));
    EXPECT_EQ(reader->m_keyPos, 17);
}

class EncryptedCatalogTest : public CoreTest {};

TEST_F(EncryptedCatalogTest, KeyStreamRunsFromHeaderThroughEveryDescriptor) {
    pack::ArchiveOptions enc;
    enc.encrypted = true;
    enc.key = "k3y";
    std::vector<pack::StoredEntry> entries;
    size_t stream = 8;  // the header took positions 0 to 7
    for (const char* path : {".\\first.txt", ".\\second\\file.bin", ".\\3"}) {
        entries.push_back(pack::RawEntry(path, Pattern(3)));
        stream += 30 + std::strlen(path);
    }
    host.keys = {"K3Y"};
    ASSERT_NE(Load(pack::BuildArchive(FakeStub(), entries, enc)), nullptr);
    EXPECT_EQ(reader->m_keyPos, int(stream % kKeySize));
    EXPECT_STREQ(reader->m_magic, "TRKA");
    std::vector<std::string> paths;
    for (CatalogEntry* e = catalog; e; e = e->next) {
        paths.push_back(e->path);
        EXPECT_EQ(e->rawPrefixSize, 3);
    }
    EXPECT_EQ(paths, (std::vector<std::string>{".\\3", ".\\second\\file.bin", ".\\first.txt"}));
}

TEST_F(EncryptedCatalogTest, FlagsByteIsStoredPlain) {
    pack::ArchiveOptions enc;
    enc.encrypted = true;
    enc.key = "x";
    const pack::Bytes image = pack::BuildArchive(FakeStub(), {pack::RawEntry(".\\a", {})}, enc);
    EXPECT_EQ(image[FakeStub().size() + 12], 0x01);
}
