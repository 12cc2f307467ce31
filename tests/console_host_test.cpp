// trelk-extract's own parts: its command line, the NAMEs that pick entries,
// the overwrite answers, and the console host's answers to the disk prompt.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/win_values.h"
#include "extract/console_host.h"
#include "extract/entry_names.h"
#include "extract/options.h"
#include "support/fixtures.h"
#include "volumes/volume_name.h"

namespace {

struct CommandLine {
    explicit CommandLine(std::vector<std::string> args) : words(std::move(args)) {
        words.insert(words.begin(), "trelk-extract");
        for (std::string& w : words) argv.push_back(&w[0]);
        argv.push_back(nullptr);
    }
    int argc() const { return int(words.size()); }
    std::vector<std::string> words;
    std::vector<char*> argv;
};

TEST(ExtractOptions, WhatIsWrongWithACommandLineInOneLine) {
    struct Case {
        std::vector<std::string> args;
        Parsed outcome;
        std::string problem;
    };
    const Case cases[] = {
        {{}, Parsed::Usage, "no archive given"},
        {{"-q"}, Parsed::Usage, "no archive given"},
        {{"-x", "a.exe"}, Parsed::Usage, "unknown option -x"},
        {{"-qx", "a.exe"}, Parsed::Usage, "unknown option -x"},
        {{"--bogus=1", "a.exe"}, Parsed::Usage, "unknown option --bogus"},
        {{"a.exe", "-d"}, Parsed::Usage, "-d needs a value"},
        {{"a.exe", "--key-file"}, Parsed::Usage, "--key-file needs a value"},
        {{"-d", "", "a.exe"}, Parsed::Usage, "-d needs a folder"},
        {{"--key-file=", "a.exe"}, Parsed::Usage, "--key-file needs a file"},
        {{"-l", "-t", "a.exe"}, Parsed::Usage, "give -l or -t, not both"},
        {{"-o", "-n", "a.exe"}, Parsed::Usage, "give -o or -n, not both"},
        {{"-k", "x", "--key-file", "f", "a.exe"}, Parsed::Usage, "give -k or --key-file, not both"},
        {{"a.exe", "--help"}, Parsed::Help, ""},
        {{"--version", "-x"}, Parsed::Version, ""},
    };
    for (const Case& c : cases) {
        CommandLine line(c.args);
        SCOPED_TRACE(::testing::PrintToString(c.args));
        Options o;
        std::string problem;
        EXPECT_EQ(ParseOptions(line.argc(), line.argv.data(), o, problem), c.outcome);
        EXPECT_EQ(problem, c.problem);
    }
    EXPECT_EQ(UsageLine("no archive given"), "trelk-extract: no archive given; try --help\n");
}

TEST(ExtractOptions, OptionsMayStandAnywhereAndNamesFollowTheArchive) {
    CommandLine line({"-t", "setup.exe", "docs/*", "-q", "b.txt", "--volumes-present", "-d", "out", "--", "-n"});
    Options o;
    std::string problem;
    ASSERT_EQ(ParseOptions(line.argc(), line.argv.data(), o, problem), Parsed::Run);
    EXPECT_EQ(o.mode, Mode::Test);
    EXPECT_EQ(o.archive, "setup.exe");
    EXPECT_EQ(o.names, (std::vector<std::string>{"docs/*", "b.txt", "-n"}));
    EXPECT_EQ(o.dest, std::optional<std::string>("out"));
    EXPECT_TRUE(o.quiet);
    EXPECT_TRUE(o.volumesPresent);
    EXPECT_EQ(o.overwrite, Overwrite::Ask);
    EXPECT_FALSE(o.key);

    struct Case {
        std::vector<std::string> args;
        Mode mode;
        Overwrite overwrite;
        std::optional<std::string> key;
    };
    const Case cases[] = {
        {{"a.exe"}, Mode::Extract, Overwrite::Ask, std::nullopt},
        {{"-l", "a.exe"}, Mode::List, Overwrite::Ask, std::nullopt},
        {{"-o", "a.exe"}, Mode::Extract, Overwrite::Always, std::nullopt},
        {{"-n", "a.exe"}, Mode::Extract, Overwrite::Skip, std::nullopt},
        {{"-k", "", "a.exe"}, Mode::Extract, Overwrite::Ask, std::string()},
    };
    for (const Case& c : cases) {
        CommandLine each(c.args);
        Options p;
        ASSERT_EQ(ParseOptions(each.argc(), each.argv.data(), p, problem), Parsed::Run);
        EXPECT_EQ(p.mode, c.mode);
        EXPECT_EQ(p.overwrite, c.overwrite);
        EXPECT_EQ(p.key, c.key);
    }
}

TEST(EntryNames, StoredNamesWithEitherSeparatorOrPatterns) {
    struct Case {
        std::vector<std::string> names;
        std::vector<const char*> picked, left;
        std::vector<std::string> unmatched;
    };
    const Case cases[] = {
        {{}, {".\\a.txt", ".\\docs\\b.wav"}, {}, {}},
        {{"docs/a.txt"}, {".\\docs\\a.txt"}, {".\\docs\\b.txt", ".\\a.txt", ".\\x\\docs\\a.txt"}, {}},
        {{"docs\\a.txt"}, {".\\docs\\a.txt"}, {".\\docs\\b.txt"}, {}},
        // '*' runs across folders, as unzip's does.
        {{"*.txt"}, {".\\a.txt", ".\\docs\\deep\\b.txt"}, {".\\a.wav", ".\\a.txt.bak"}, {}},
        {{"docs/*"}, {".\\docs\\a.txt", ".\\docs\\deep\\b"}, {".\\docs", ".\\doc\\a"}, {}},
        {{"?.wav", "nothing", "b.txt"}, {".\\a.wav", ".\\b.txt"}, {".\\ab.wav"}, {"nothing"}},
        // The exact name wins over what the brackets would mean as a pattern.
        {{"a[1].txt"}, {".\\a[1].txt", ".\\a1.txt"}, {".\\a2.txt"}, {}},
        {{"x"}, {}, {".\\a.txt"}, {"x"}},
        // Classes, ranges and their negation; '*' that must give back what it took.
        {{"take[0-9].wav"}, {".\\take3.wav"}, {".\\takeA.wav", ".\\take12.wav"}, {}},
        {{"[!a]*"}, {".\\b", ".\\zz"}, {".\\a", ".\\abc"}, {}},
        {{"*a*b"}, {".\\ab", ".\\xaxb", ".\\aab"}, {".\\ba", ".\\abc"}, {}},
        {{"[ab"}, {".\\[ab"}, {".\\a"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.names));
        EntrySelection selection(c.names);
        for (const char* p : c.picked) EXPECT_TRUE(selection.Picks(p)) << p;
        for (const char* p : c.left) EXPECT_FALSE(selection.Picks(p)) << p;
        EXPECT_EQ(selection.Unmatched(), c.unmatched);
    }
    EXPECT_EQ(ShownName("docs\\deep\\a.txt"), "docs/deep/a.txt");
}

TEST(OverwriteAnswers, LettersAsUnzipUsersKnowThemAndWholeWords) {
    struct Case {
        const char* typed;
        OverwriteAnswer answer;
    };
    const Case cases[] = {
        {"y", OverwriteAnswer::Yes},     {"Y", OverwriteAnswer::Yes},     {"yes", OverwriteAnswer::Yes},
        {"n", OverwriteAnswer::No},      {"No", OverwriteAnswer::No},     {"N", OverwriteAnswer::None},
        {"none", OverwriteAnswer::None}, {"A", OverwriteAnswer::All},     {"a", OverwriteAnswer::All},
        {"ALL", OverwriteAnswer::All},   {"c", OverwriteAnswer::Cancel},  {"cancel", OverwriteAnswer::Cancel},
        {"", OverwriteAnswer::Unknown},  {"yep", OverwriteAnswer::Unknown}, {" y", OverwriteAnswer::Unknown},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseOverwriteAnswer(c.typed), c.answer) << '"' << c.typed << '"';
}

std::string Contents(FILE* f) {
    std::fflush(f);
    std::rewind(f);
    std::string text;
    for (int c; (c = std::fgetc(f)) != EOF;) text += char(c);
    return text;
}

// The console host on a drive that says it is removable, with the prompts it
// is shown recorded as the volume numbers they ask for.
class RemovableConsole : public ConsoleHost {
public:
    using ConsoleHost::ConsoleHost;
    bool IsRemovableDrive(const char*) override { return true; }
    int ShowMessage(const char* text, const char* caption, unsigned type) override {
        if ((type & 0x0F) == MB_OKCANCEL) {
            const std::string t = text;
            prompts.push_back(std::stoi(t.substr(t.find('#') + 1)));
            if (onPrompt) onPrompt(prompts.size());
        }
        return ConsoleHost::ShowMessage(text, caption, type);
    }
    std::vector<int> prompts;
    std::function<void(size_t)> onPrompt;
};

class VolumesPresentTest : public CoreTest {
protected:
    VolumesPresentTest() : out(std::tmpfile()), err(std::tmpfile()) {
        mkdir((dir / "out").c_str(), 0700);
        mkdir((dir / "tmp").c_str(), 0700);
        SetCorePath(g_szTempDir, dir / "tmp");
        const auto volumes = pack::BuildSplitArchive(
            FakeStub(), {pack::RawEntry(".\\a.bin", Pattern(30000)), pack::RawEntry(".\\b.bin", Pattern(100))}, {},
            FakeStub().size() + 20000);
        EXPECT_EQ(volumes.size(), 2u);
        for (size_t n = 0; n < volumes.size(); ++n) {
            char name[kPathSize];
            VolumePath(exePath.c_str(), int(n), name, kPathSize);
            WriteFileBytes(name, volumes[n]);
        }
        options.volumesPresent = true;
    }
    ~VolumesPresentTest() override {
        std::fclose(out);
        std::fclose(err);
    }
    // Runs the console host as trelk-extract would.
    std::vector<int> Run(std::function<void(size_t)> onPrompt = {}) {
        RemovableConsole console(options, out, err);
        console.onPrompt = std::move(onPrompt);
        EXPECT_TRUE(console.Run());
        EXPECT_TRUE(std::filesystem::is_empty(dir / "tmp")) << "a temporary file was left behind";
        return console.prompts;
    }
    Options options;
    FILE* out;
    FILE* err;
};

TEST_F(VolumesPresentTest, EveryDiskPromptIsAnsweredOk) {
    EXPECT_EQ(Run(), (std::vector<int>{1, 2}));
    EXPECT_EQ(Contents(err), "");
    EXPECT_EQ(Contents(out), "  extracted: a.bin\n  extracted: b.bin\n");
    EXPECT_EQ(ReadFileBytes(dir / "out/b.bin"), Pattern(100));
    EXPECT_EQ(g_errorRaised, 0);
    EXPECT_EQ(g_cancelRequested, 0);
}

TEST_F(VolumesPresentTest, AVolumeMissingAtTheFirstLookIsLookedForOnceMore) {
    std::filesystem::rename(dir / "setup.A01", dir / "away");
    EXPECT_EQ(Run([&](size_t n) {
                  if (n == 3) std::filesystem::rename(dir / "away", dir / "setup.A01");
              }),
              (std::vector<int>{1, 2, 2}));
    EXPECT_EQ(Contents(err), "");
    EXPECT_EQ(ReadFileBytes(dir / "out/b.bin"), Pattern(100));
}

TEST_F(VolumesPresentTest, AVolumeThatNeverComesIsTheStubsOwnReportWithItsCause) {
    std::filesystem::remove(dir / "setup.A01");
    EXPECT_EQ(Run(), (std::vector<int>{1, 2, 2, 2}));
    EXPECT_EQ(Contents(err), "Fatal Error!: Error while reading the archive setup.exe.\n"
                             "A file of a split archive was not found\n"
                             "cause: " + dir.path() + "/setup.A01: No such file or directory\n");
    EXPECT_EQ(Contents(out), "");
    EXPECT_TRUE(std::filesystem::is_empty(dir / "out"));
    EXPECT_EQ(g_errorRaised, 1);
}

}  // namespace
