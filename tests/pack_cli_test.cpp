#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "pack/input_tree.h"
#include "pack/pack_checks.h"
#include "pack/progress.h"
#include "pack/size_text.h"
#include "pack/stub_places.h"
#include "support/fixtures.h"

namespace {

TEST(ParseSize, ReadsBytesAndBinarySuffixes) {
    const struct {
        const char* text;
        bool ok;
        uint64_t size;
    } cases[] = {
        {"4096", true, 4096},        {"1", true, 1},
        {"720k", true, 737280},      {"720K", true, 737280},
        {"2M", true, 2097152},       {"2m", true, 2097152},
        {"1G", true, 1073741824},    {"18446744073709551615", true, UINT64_MAX},
        {"0", false, 0},             {"0k", false, 0},
        {"", false, 0},              {"k", false, 0},
        {"-5", false, 0},            {"12q", false, 0},
        {"1.44M", false, 0},         {"10kb", false, 0},
        {" 10", false, 0},           {"18446744073709551616", false, 0},
        {"17179869184G", false, 0},  // 2^64 bytes
    };
    for (const auto& c : cases) {
        uint64_t size = 7;
        EXPECT_EQ(pack::ParseSize(c.text, size), c.ok) << c.text;
        EXPECT_EQ(size, c.ok ? c.size : 7) << c.text;
    }
}

TEST(NameProblem, RefusesWhatWindowsOrTheExtractorCannotTake) {
    const struct {
        const char* name;
        const char* problem;  // the start of the text, or "" when the name is fine
    } cases[] = {
        {"readme.txt", ""},   {".profile", ""},       {"a b", ""},        {"..a", ""},
        {"nul1.txt", ""},     {"console", ""},        {"com0", ""},       {"lpt10", ""},
        {"a\\b", "a '\\'"},   {"\\", "a '\\'"},      {"c:", "':' and '/'"}, {"a:b", "':' and '/'"},
        {".", "a name made only"}, {"..", "a name made only"}, {"...", "a name made only"},
        {". .", "a name made only"}, {" ", "a name made only"},
        {"what?", "Windows does not allow"}, {"a*b", "Windows does not allow"}, {"a<b", "Windows does not allow"},
        {"a>b", "Windows does not allow"},   {"a|b", "Windows does not allow"}, {"a\"b", "Windows does not allow"},
        {"tab\there", "Windows does not allow"}, {"\x1f", "Windows does not allow"},
        {"NUL", "Windows opens a device"},   {"nul.txt", "Windows opens a device"}, {"Con", "Windows opens a device"},
        {"aux.tar.gz", "Windows opens a device"}, {"prn ", "Windows opens a device"},
        {"COM1", "Windows opens a device"},  {"lpt9.log", "Windows opens a device"},
        {"trailing dot.", "Windows drops the dots and spaces that end a name (it would be extracted as \"trailing dot\")"},
        {"space ", "Windows drops the dots and spaces"}, {"both. .", "Windows drops the dots and spaces"},
        {"ünïcödé.txt", ""},
    };
    for (const auto& c : cases) {
        const std::string problem = pack::NameProblem(c.name);
        EXPECT_EQ(problem.substr(0, std::string(c.problem).size()), c.problem) << c.name;
        EXPECT_EQ(problem.empty(), *c.problem == '\0') << c.name << ": " << problem;
    }
}

TEST(StoredPathProblem, RefusesWhatNoOutputPathCanHold) {
    const std::string at257 = ".\\" + std::string(255, 'a');
    EXPECT_EQ(pack::StoredPathProblem(at257), "");
    EXPECT_EQ(pack::StoredPathProblem(at257 + "b"),
              "the stored path " + at257 + "b has 258 characters; even below a drive root it would pass the 259 "
              "characters of an output path");
    EXPECT_EQ(pack::StoredPathProblem(".\\a\\..\\b"), "the extractor refuses the stored path .\\a\\..\\b");
    EXPECT_EQ(pack::StoredPathProblem("a\\b"), "the extractor refuses the stored path a\\b");
    EXPECT_FALSE(pack::IsLongStoredPath(".\\" + std::string(198, 'a')));
    EXPECT_TRUE(pack::IsLongStoredPath(".\\" + std::string(199, 'a')));
}

TEST(ArchivedName, IsTheNameInTheCodePageTheStubReadsNamesIn) {
    platform::CodePage western, japanese, cyrillic;
    ASSERT_TRUE(western.Open(1252));
    ASSERT_TRUE(japanese.Open(932));
    ASSERT_TRUE(cyrillic.Open(1251));
    const struct {
        const platform::CodePage* codePage;
        const char* stored;
        const char* archived;  // nullptr: refused with the problem
        const char* problem;
    } cases[] = {
        {&western, ".\\plain\\name.txt", ".\\plain\\name.txt", ""},
        {&western, ".\\café\\Straße €.txt", ".\\caf\xe9\\Stra\xdf" "e \x80.txt", ""},
        {&western, ".\\ünïcödé.txt", ".\\\xfcn\xef" "c\xf6" "d\xe9.txt", ""},
        {&western, ".\\日本語.txt", nullptr,
         "its name cannot be written in code page 1252 (Western European), in which the archive stores names; give "
         "--codepage with one that can"},
        {&japanese, ".\\日本語.txt", ".\\\x93\xfa\x96\x7b\x8c\xea.txt", ""},
        // The second byte of 表 in this code page is the code of '\\'.
        {&japanese, ".\\表.txt", nullptr, "in code page 932 (Japanese) its name has a byte that the extractor takes for a '\\' between folders"},
        {&cyrillic, ".\\Привет", ".\\\xcf\xf0\xe8\xe2\xe5\xf2", ""},
        {&cyrillic, ".\\café", nullptr,
         "its name cannot be written in code page 1251 (Cyrillic), in which the archive stores names; give --codepage "
         "with one that can"},
        {&western, ".\\latin1-\xe9", nullptr, "its name is not valid UTF-8, the encoding of names here"},
    };
    for (const auto& c : cases) {
        std::string archived;
        EXPECT_EQ(pack::ArchivedName(c.stored, c.codePage, archived), c.problem) << c.stored;
        if (c.archived) {
            EXPECT_EQ(archived, c.archived) << c.stored;
        }
    }
}

TEST(FindStub, TakesTheFirstPlaceThatHoldsOneAndNamesThemAllWhenNone) {
    TempDir dir;
    ASSERT_EQ(mkdir((dir / "bin").c_str(), 0777), 0);
    const auto places = pack::StubPlaces(dir / "bin/trelk-pack", "../share/trelk/trelk-sfx.exe", dir / "build/stub.exe");
    EXPECT_EQ(places, (std::vector<std::string>{dir / "bin/../share/trelk/trelk-sfx.exe", dir / "bin/trelk-sfx.exe",
                                                 dir / "build/stub.exe"}));
    std::string problem;
    EXPECT_EQ(pack::FindStub(places, problem), "");
    EXPECT_EQ(problem, "no stub found: looked for it at " + places[0] + ", " + places[1] + " and " + places[2] +
                           "; give --stub FILE");
    WriteFileBytes(dir / "bin/trelk-sfx.exe", FakeStub());
    EXPECT_EQ(pack::FindStub(places, problem), places[1]);
    ASSERT_EQ(mkdir((dir / "share").c_str(), 0777), 0);
    ASSERT_EQ(mkdir((dir / "share/trelk").c_str(), 0777), 0);
    WriteFileBytes(dir / "share/trelk/trelk-sfx.exe", FakeStub());
    EXPECT_EQ(pack::FindStub(places, problem), places[0]);
    EXPECT_EQ(pack::StubPlaces("", "x", "b"), std::vector<std::string>{"b"});
}

TEST(StubProblem, RefusesTheMarkerAndStubsPastTheWindow) {
    pack::Bytes stub = FakeStub(4096);
    EXPECT_EQ(pack::StubProblem(stub, "s.exe"), "");
    const pack::Bytes marker = pack::MarkerSearchForm();
    pack::Bytes marked = stub;
    marked.insert(marked.begin() + 1000, marker.begin(), marker.end());
    EXPECT_EQ(pack::StubProblem(marked, "s.exe"),
              "the stub s.exe holds the marker's search form at offset 1000; the extractor would look for the archive there");
    pack::Bytes partial = stub;  // all but the last byte of the marker is no marker
    partial.insert(partial.end(), marker.begin(), marker.end() - 1);
    EXPECT_EQ(pack::StubProblem(partial, "s.exe"), "");
    EXPECT_EQ(pack::StubProblem(FakeStub(1048564), "big.exe"), "");
    EXPECT_EQ(pack::StubProblem(FakeStub(1048565), "big.exe"),
              "the stub big.exe has 1048565 bytes; the extractor looks for the marker in the first 1048576 bytes, so a "
              "stub may have at most 1048564");
}

TEST(KeyProblem, RefusesKeysWithNothingThatCountsOrTooLongToType) {
    EXPECT_EQ(pack::KeyProblem("a"), "");
    EXPECT_EQ(pack::KeyProblem(std::string(259, 'k')), "");
    EXPECT_EQ(pack::KeyProblem(std::string(260, 'k')), "the key has 260 characters; the key dialog takes at most 259");
    for (const std::string key : {"", "   ", "\t\n", "\xe9\xe8"})
        EXPECT_EQ(pack::KeyProblem(key), "the key has no characters that count (printable characters other than space)")
            << key;
    EXPECT_EQ(pack::SignificantKeyChars("Open Sesame!\xe9"), 11u);
}

TEST(WeakKeyChanges, CountsTheTyposThatPassTheKeyCheck) {
    // Ten characters: a change at any position but the fourth passes, each of
    // the 67 other characters (68 printable ones other than space, letters once).
    EXPECT_EQ(pack::WeakKeyChanges("abcdefghij"), 9u * 67);
    // Case and spaces do not count, in the key or in the typo.
    EXPECT_EQ(pack::WeakKeyChanges("A bcDEfghi J"), 9u * 67);
    // From 43 characters on every key byte comes from one character, and the
    // first four cancel out of the check: a change there always passes.
    EXPECT_EQ(pack::WeakKeyChanges(std::string(43, 'k')), 4u * 67);
    EXPECT_EQ(pack::WeakKeyChanges(std::string(43, 'k') + "beyond"), 4u * 67);
    // Other lengths spread each character over all four sums: no typo passes.
    EXPECT_EQ(pack::WeakKeyChanges("abcdefghijk"), 0u);
    EXPECT_EQ(pack::WeakKeyChanges("k"), 0u);
}

class WeakKeyReaderTest : public CoreTest {};

TEST_F(WeakKeyReaderTest, TheCountIsWhatTheExtractorAccepts) {
    // Every single-character typo typed into the real reader: those that do not
    // get "This is an invalid or corrupted archive" are the ones counted.
    const std::string key = "abcdefghij";
    pack::ArchiveOptions options;
    options.encrypted = true;
    options.key = key;
    WriteFileBytes(exePath, pack::BuildArchive(FakeStub(), {pack::RawEntry(".\\a.txt", Pattern(20))}, options));
    const std::string invalid = "Error while reading the archive setup.exe.\nThis is an invalid or corrupted archive";
    size_t accepted = 0;
    std::vector<size_t> perPosition(key.size());
    for (size_t i = 0; i < key.size(); ++i) {
        for (char c = '!'; c <= '~'; ++c) {
            if ((c >= 'a' && c <= 'z') || c == key[i] - 'a' + 'A') continue;
            std::string typo = key;
            typo[i] = c;
            host.boxes.clear();
            host.keys = {typo};
            FreeCatalog(std::make_unique<CArchiveReader>()->LoadCatalog());
            const bool refused = !host.boxes.empty() && host.boxes[0].text == invalid;
            accepted += !refused;
            perPosition[i] += !refused;
        }
    }
    EXPECT_EQ(accepted, pack::WeakKeyChanges(key));
    EXPECT_EQ(perPosition, (std::vector<size_t>{67, 67, 67, 0, 67, 67, 67, 67, 67, 67}));
}

TEST(MinimumVolumeSize, LeavesRoomForStubMarkerFramingAndCatalog) {
    std::vector<pack::StoredEntry> entries(2);
    entries[0].path = ".\\a";
    entries[1].path = ".\\bc";
    const uint64_t minimum = pack::MinimumVolumeSize(100, pack::CatalogEnd(entries));
    EXPECT_EQ(minimum, 100u + 12 + 7 + 9 + 33 + 34);
    const pack::Bytes stub = FakeStub(100);
    EXPECT_FALSE(pack::BuildSplitArchive(stub, entries, {}, minimum).empty());
    EXPECT_TRUE(pack::BuildSplitArchive(stub, entries, {}, minimum - 1).empty());
}

TEST(CollisionProblems, FindsFilesOnOnePathOnWindows) {
    EXPECT_TRUE(pack::CollisionProblems({{".\\a", "x/a"}, {".\\b\\a", "x/b/a"}, {".\\ab", "x/ab"}}).empty());
    EXPECT_EQ(pack::CollisionProblems({{".\\f", "a/f"}, {".\\f", "b/f"}}),
              std::vector<std::string>{"a/f and b/f would both be extracted as .\\f"});
    EXPECT_EQ(pack::CollisionProblems({{".\\D\\Read", "D/Read"}, {".\\d\\read", "d/read"}}),
              std::vector<std::string>{"D/Read and d/read would both be extracted as .\\d\\read (Windows ignores case in names, and dots and spaces at their end)"});
    // Letters beyond ASCII fold too, and the dots and spaces that end a name go.
    EXPECT_EQ(pack::CollisionProblems({{".\\Été\\Ü", "a/Été/Ü"}, {".\\été\\ü", "b/été/ü"}, {".\\Fin.", "c/Fin."},
                                       {".\\fin .", "d/fin ."}}),
              (std::vector<std::string>{
                  "a/Été/Ü and b/été/ü would both be extracted as .\\été\\ü (Windows ignores case in names, and dots and "
                  "spaces at their end)",
                  "c/Fin. and d/fin . would both be extracted as .\\fin . (Windows ignores case in names, and dots and "
                  "spaces at their end)"}));
    EXPECT_EQ(pack::CollisionProblems({{".\\X", "a/X"}, {".\\x\\y\\z", "b/x/y/z"}}),
              std::vector<std::string>{"a/X stands where b/x/y/z needs the folder .\\x"});
    EXPECT_EQ(pack::CollisionProblems({{".\\x\\y\\z", "b/x/y/z"}, {".\\x\\y", "a/y"}}),
              std::vector<std::string>{"a/y stands where b/x/y/z needs the folder .\\x\\y"});
}

TEST(ProgressLine, FitsTheWidthAndKeepsTheEndOfTheName) {
    EXPECT_EQ(pack::ProgressLine(1, 4, 512 * 1024, 2 * 1024 * 1024, ".\\a\\b.txt", 80),
              "[#####...............]  1/4 files  0.5/2.0 MB  .\\a\\b.txt");
    EXPECT_EQ(pack::ProgressLine(4, 4, 0, 0, "", 80), "[####################]  4/4 files  0.0/0.0 MB");
    EXPECT_EQ(pack::ProgressLine(1, 2, 0, 0, ".\\x", 80), "[##########..........]  1/2 files  0.0/0.0 MB  .\\x");
    const std::string line = pack::ProgressLine(0, 1, 0, 10, ".\\folder\\deeper\\file.bin", 56);
    EXPECT_EQ(line.size(), 56u);
    EXPECT_EQ(line, "[....................]  0/1 files  0.0/0.0 MB  ...le.bin");
    EXPECT_EQ(pack::ProgressLine(0, 1, 0, 10, "x", 10), "[.........");
}

class InputTreeTest : public ::testing::Test {
protected:
    void File(const std::string& relative, const std::string& text = "x") {
        WriteFileBytes(dir / relative, pack::Bytes(text.begin(), text.end()));
    }
    void Folder(const std::string& relative) { ASSERT_EQ(mkdir((dir / relative).c_str(), 0777), 0); }
    void Link(const std::string& target, const std::string& relative) {
        ASSERT_EQ(symlink(target.c_str(), (dir / relative).c_str()), 0);
    }
    std::vector<std::string> Stored(const std::vector<pack::InputFile>& files) {
        std::vector<std::string> out;
        for (const pack::InputFile& f : files) out.push_back(f.stored + " <- " + f.source.substr(dir.path().size() + 1));
        return out;
    }

    TempDir dir;
    pack::Diagnostics diag;
};

TEST_F(InputTreeTest, WalksFoldersInByteOrderWithTheirOwnName) {
    Folder("t");
    Folder("t/sub");
    Folder("t/Sub2");
    File("t/b", "bb");
    File("t/a.txt");
    File("t/sub/z");
    File("t/Sub2/y");
    File("t/_");
    File("top");
    const auto files = pack::CollectInputs({dir / "top", dir / "t/"}, {}, diag);
    EXPECT_EQ(Stored(files), (std::vector<std::string>{".\\top <- top", ".\\t\\Sub2\\y <- t/Sub2/y",
                                                       ".\\t\\_ <- t/_", ".\\t\\a.txt <- t/a.txt", ".\\t\\b <- t/b",
                                                       ".\\t\\sub\\z <- t/sub/z"}));
    EXPECT_EQ(files[4].size, 2u);
    EXPECT_TRUE(diag.warnings.empty() && diag.refusals.empty() && diag.errors.empty());
}

TEST_F(InputTreeTest, FollowsLinksToFilesAndSkipsLinksToFoldersAndTheOutput) {
    Folder("t");
    Folder("t/real");
    File("t/real/f");
    File("t/out.exe");
    Link("real", "t/loop");
    Link("real/f", "t/alias");
    Link("missing", "t/broken");
    struct stat st;
    ASSERT_EQ(stat((dir / "t/out.exe").c_str(), &st), 0);
    const auto files = pack::CollectInputs({dir / "t"}, {{st.st_dev, st.st_ino, "it is the archive being written"}}, diag);
    EXPECT_EQ(Stored(files), (std::vector<std::string>{".\\t\\alias <- t/alias", ".\\t\\real\\f <- t/real/f"}));
    EXPECT_EQ(diag.warnings,
              (std::vector<std::string>{"skipping the link " + (dir / "t/broken") + ": No such file or directory",
                                        "skipping the link " + (dir / "t/loop") + " to a folder (links to folders are not followed)",
                                        "skipping " + (dir / "t/out.exe") + ": it is the archive being written"}));
}

TEST_F(InputTreeTest, RefusesBadNamesAndReportsUnreadablePaths) {
    Folder("t");
    Folder("t/a:b");
    File("t/a:b/inside");
    File("t/fine");
    const auto files = pack::CollectInputs({dir / "t", dir / "missing"}, {}, diag);
    EXPECT_EQ(Stored(files), std::vector<std::string>{".\\t\\fine <- t/fine"});
    EXPECT_EQ(diag.refusals, std::vector<std::string>{"cannot store " + (dir / "t/a:b") + ": ':' and '/' are not allowed in names"});
    EXPECT_EQ(diag.errors, std::vector<std::string>{"cannot read " + (dir / "missing") + ": No such file or directory"});
}

TEST(TopLevelName, TakesTheLastComponentOrTheFolderItStandsFor) {
    EXPECT_EQ(pack::TopLevelName("dir"), "dir");
    EXPECT_EQ(pack::TopLevelName("a/b/dir//"), "dir");
    EXPECT_EQ(pack::TopLevelName("."), "");
    EXPECT_EQ(pack::TopLevelName("a/."), "");
    EXPECT_EQ(pack::TopLevelName("/"), "");
    TempDir dir;
    ASSERT_EQ(mkdir((dir / "inner").c_str(), 0777), 0);
    const std::string outer = dir.path().substr(dir.path().rfind('/') + 1);
    EXPECT_EQ(pack::TopLevelName(dir / "inner/.."), outer);
}

}  // namespace
