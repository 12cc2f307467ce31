// The streaming writer's parts: CRC arithmetic, the two-pass entry coder on
// threads, files that change under it, progress within a file, and output
// that only gets its name once it is whole.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <string>
#include <vector>

#include "common/crc32.h"
#include "pack/crc_combine.h"
#include "pack/entry_coder.h"
#include "pack/output_files.h"
#include "pack/packer.h"
#include "pack/thread_pool.h"
#include "support/fixtures.h"

using pack::Bytes;

namespace {

uint32_t ValueOf(const Bytes& bytes, size_t from = 0, size_t to = SIZE_MAX) {
    CCrc32 crc;
    return crc.Update(bytes.data() + from, std::min(to, bytes.size()) - from);
}

TEST(CrcCombine, AgreesWithTheCrcOfTheWholeBytes) {
    const Bytes data = Pattern(300000, 4);
    for (size_t split : {size_t(0), size_t(1), size_t(7), size_t(4096), size_t(123457), data.size()}) {
        SCOPED_TRACE(split);
        EXPECT_EQ(pack::CrcConcat(ValueOf(data, 0, split), ValueOf(data, split), data.size() - split), ValueOf(data));
    }
    for (uint64_t zeros : {0ull, 1ull, 3ull, 1000ull, 65537ull}) {
        Bytes padded = data;
        padded.resize(data.size() + zeros, 0);
        EXPECT_EQ(pack::CrcAfterZeros(ValueOf(data), zeros), ValueOf(padded)) << zeros;
    }
    // Bytes changed in the middle, with data before and after them.
    Bytes changed = data;
    const Bytes delta = Pattern(5000, 9);
    for (size_t i = 0; i < delta.size(); ++i) changed[1000 + i] ^= delta[i];
    EXPECT_EQ(ValueOf(data) ^ pack::CrcOfChange(delta.data(), delta.size(), data.size() - 6000), ValueOf(changed));
}

// Audio-like words, a header before them and an odd byte after: every part of an entry.
Bytes WaveLike(size_t words) {
    Bytes out = Pattern(44, 2);
    for (size_t i = 0; i < words; ++i) {
        const auto w = uint16_t(int16_t(7000 * std::sin(double(i) / 30.0) + double(i % 13)));
        out.insert(out.end(), {uint8_t(w), uint8_t(w >> 8)});
    }
    out.push_back(0x5A);
    return out;
}

TEST(EntryCoder, WritesTheSameBytesOnAnyNumberOfThreads) {
    // Batches of 512 blocks, the last one short, split among odd numbers of threads.
    const size_t words = 768 * 1300 + 101;
    const Bytes file = WaveLike(words);
    const pack::EntryPlan plan{44, words};
    const pack::StoredEntry alone = pack::CodedEntry(".\\f", file, 44, words);
    for (int threads : {1, 2, 3, 4}) {
        pack::ThreadPool pool(threads);
        pack::EntryCoder coder({}, &pool);
        pack::MemorySource source(file);
        Bytes stored;
        pack::BytesSink sink(stored);
        pack::EntryFacts facts;
        ASSERT_EQ(coder.CodePlan(source, plan, sink, facts), pack::CodeResult::Done);
        EXPECT_EQ(stored, alone.data) << threads << " threads";
        EXPECT_EQ(facts.crc, pack::Crc32Of(file));
        EXPECT_EQ(facts.storedSize, stored.size());
        EXPECT_EQ(facts.codedSize, 2 * words);
    }
}

// A file that someone changes while it is being packed.
class ChangingSource : public pack::ByteSource {
public:
    ChangingSource(Bytes bytes, size_t changeAfterReads, bool shrink)
        : m_bytes(std::move(bytes)), m_changeAfter(changeAfterReads), m_shrink(shrink) {}
    uint64_t Size() const override { return m_size; }
    bool ReadAt(uint64_t offset, void* buffer, size_t n) override {
        if (++m_reads == m_changeAfter) {
            if (m_shrink)
                m_bytes.resize(m_bytes.size() / 2);
            else
                m_bytes[m_bytes.size() / 3] ^= 1;
        }
        errno = 0;
        if (offset + n > m_bytes.size()) return false;
        std::copy(m_bytes.begin() + std::ptrdiff_t(offset), m_bytes.begin() + std::ptrdiff_t(offset + n),
                  static_cast<uint8_t*>(buffer));
        return true;
    }
    bool Unchanged() const override { return m_bytes.size() == m_size; }

private:
    Bytes m_bytes;
    uint64_t m_size = m_bytes.size();
    size_t m_changeAfter;
    bool m_shrink;
    size_t m_reads = 0;
};

TEST(EntryCoder, FindsFilesThatChangeBetweenItsPasses) {
    const Bytes wave = WaveLike(768 * 900);
    const Bytes noise = Pattern(300001, 8);
    const struct {
        const char* name;
        Bytes bytes;
        size_t changeAfterReads;
        bool shrink;
    } cases[] = {
        // The first pass reads the prefix, two batches and the tail; a change after it shows in the CRC.
        {"a byte changed between the passes", wave, 5, false},
        {"shorter in the second pass", wave, 5, true},
        {"shorter while it is read", wave, 2, true},
        // Analysed as coded (reads 1 to 3), found smaller raw: the second pass copies it.
        {"a stored file changed", noise, 4, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ChangingSource source(c.bytes, c.changeAfterReads, c.shrink);
        Bytes stored;
        pack::BytesSink sink(stored);
        pack::EntryCoder coder;
        pack::EntryFacts facts;
        EXPECT_EQ(coder.CodeFile(source, sink, facts), pack::CodeResult::Changed);
    }
}

class RecordingObserver : public pack::PackObserver {
public:
    void Progress(size_t filesDone, uint64_t bytesDone, const std::string& current) override {
        calls.push_back({filesDone, bytesDone, current});
    }
    void Packed(const pack::InputFile&, const pack::EntryFacts&) override {}
    struct Call {
        size_t files;
        uint64_t bytes;
        std::string current;
    };
    std::vector<Call> calls;
};

TEST(PackFiles, ReportsProgressWithinALargeFile) {
    TempDir dir;
    const Bytes big = WaveLike(768 * 3000);  // 4.6 MB: coded batch by batch
    WriteFileBytes(dir / "big.raw", big);
    WriteFileBytes(dir / "small.txt", Pattern(100));
    const std::vector<pack::InputFile> files = {{dir / "small.txt", ".\\small.txt", ".\\small.txt", 100},
                                                {dir / "big.raw", ".\\big.raw", ".\\big.raw", big.size()}};
    pack::MemoryVolumes volumes;
    pack::ArchiveStream stream(volumes, {}, 0);
    ASSERT_TRUE(stream.Begin(pack::ImagePrefix(FakeStub()), {".\\small.txt", ".\\big.raw"}));
    RecordingObserver observer;
    std::vector<pack::CatalogRecord> records;
    pack::PackProblem problem;
    ASSERT_TRUE(pack::PackFiles(files, stream, 2, observer, records, problem));
    ASSERT_TRUE(stream.Finish(records));

    size_t within = 0;
    uint64_t last = 0;
    for (const auto& call : observer.calls) {
        EXPECT_GE(call.bytes, last) << "progress goes back";
        last = call.bytes;
        if (call.files == 1 && call.bytes > 100 && call.bytes < 100 + big.size()) {
            EXPECT_EQ(call.current, ".\\big.raw");
            ++within;
        }
    }
    EXPECT_GE(within, 5u) << "the bar must move while the large file is coded";
    EXPECT_EQ(observer.calls.back().files, 2u);
    EXPECT_EQ(observer.calls.back().bytes, 100 + big.size());
    // And what was written is the archive the in-memory writer makes of the same files.
    EXPECT_EQ(volumes.volumes.at(0), pack::BuildArchive(FakeStub(), {pack::EncodeFile(".\\small.txt", Pattern(100)),
                                                                      pack::EncodeFile(".\\big.raw", big)},
                                                        {}));
}

TEST(OutputFiles, GivesTheNameOnlyToAWholeArchive) {
    TempDir dir;
    const std::string out = dir / "setup.exe";
    WriteFileBytes(out, Pattern(10));
    const Bytes old = ReadFileBytes(out);
    const Bytes data = Pattern(5000, 3);
    {
        pack::OutputFiles files(out);
        ASSERT_TRUE(files.Create(0));
        ASSERT_TRUE(files.Append(data.data(), data.size()));
        EXPECT_EQ(ReadFileBytes(out), old) << "the old archive stays until the new one is whole";
        // Never committed: as after any failure.
    }
    EXPECT_EQ(dir.Files(), std::vector<std::string>{"setup.exe"}) << "a temporary file was left";
    EXPECT_EQ(ReadFileBytes(out), old);

    const mode_t mask = umask(022);
    {
        pack::OutputFiles files(out);
        ASSERT_TRUE(files.Create(0));
        ASSERT_TRUE(files.Append(data.data(), data.size()));
        ASSERT_TRUE(files.Create(1));
        ASSERT_TRUE(files.Append(data.data(), 10));
        ASSERT_TRUE(files.Patch(0, 2, data.data() + 100, 3));
        ASSERT_TRUE(files.Commit());
    }
    umask(mask);
    EXPECT_EQ(dir.Files(), (std::vector<std::string>{"setup.A01", "setup.exe"}));
    Bytes patched = data;
    std::copy(data.begin() + 100, data.begin() + 103, patched.begin() + 2);
    EXPECT_EQ(ReadFileBytes(out), patched);
    EXPECT_EQ(ReadFileBytes(dir / "setup.A01"), Bytes(data.begin(), data.begin() + 10));
    struct stat st;
    ASSERT_EQ(stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    ASSERT_EQ(stat((dir / "setup.A01").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
}

}  // namespace
