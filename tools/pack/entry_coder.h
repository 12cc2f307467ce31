#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "pack/archive_writer.h"
#include "pack/block_coder.h"
#include "pack/byte_source.h"

namespace pack {

class ThreadPool;

// Where an entry's stored bytes go, in order.
class DataSink {
public:
    virtual ~DataSink() = default;
    virtual bool Write(const uint8_t* data, size_t n) = 0;
};

class BytesSink : public DataSink {
public:
    explicit BytesSink(Bytes& out) : m_out(out) {}
    bool Write(const uint8_t* data, size_t n) override {
        m_out.insert(m_out.end(), data, data + n);
        return true;
    }

private:
    Bytes& m_out;
};

// How a file lies in its entry: `prefix` bytes stored as they are, then
// `words` little-endian words coded, then the rest stored as the raw tail.
struct EntryPlan {
    uint64_t prefix = 0;
    uint64_t words = 0;
};

// What the catalog says of a written entry.
struct EntryFacts {
    uint64_t fileSize = 0;
    uint64_t storedSize = 0;
    uint64_t rawPrefixSize = 0;
    uint64_t codedSize = 0;  // bytes of coded words
    uint32_t crc = 0;
};

enum class CodeResult {
    Done,
    ReadFailed,   // errno says why
    Changed,      // the file is not what it was when first read
    WriteFailed,  // the sink refused
};

// Appends a filler block of the given kind (Alternating counts as Flagged).
void AppendFiller(FillerKind kind, Bytes& out);

// The bytes of the filler blocks that end the coded part of `blocks` blocks
// at its step of 100 (a whole step when there are none).
size_t FillerBytes(uint64_t blocks, FillerKind kind);

// Codes entries in two passes over their files: the first chooses every
// block and so learns the stored size, the second writes the blocks so
// chosen. A pool's threads share the blocks of each pass; the bytes written
// are the same for any number of them.
class EntryCoder {
public:
    explicit EntryCoder(const EncodeOptions& options = {}, ThreadPool* pool = nullptr);
    ~EntryCoder();
    EntryCoder(const EntryCoder&) = delete;
    EntryCoder& operator=(const EntryCoder&) = delete;

    // A 16-bit PCM wave keeps its headers as the raw prefix, its samples
    // coded and whatever follows them as the raw tail; any other file is
    // coded whole. Either is stored raw instead (the whole file as the raw
    // prefix and one step of filler) unless coding makes it smaller.
    CodeResult CodeFile(ByteSource& source, DataSink& sink, EntryFacts& facts);

    // The entry as the plan lays it out.
    CodeResult CodePlan(ByteSource& source, const EntryPlan& plan, DataSink& sink, EntryFacts& facts);

    // Told how many of the file's bytes are done, counting both passes as
    // half each (a raw entry, read once, counts whole).
    std::function<void(uint64_t)> onProgress;

private:
    struct Analysis;
    struct Task;
    class Pass;

    CodeResult Analyse(ByteSource& source, const EntryPlan& plan, Analysis& analysis);
    CodeResult Write(ByteSource& source, const EntryPlan& plan, const Analysis* analysis, DataSink& sink,
                     EntryFacts& facts);

    EncodeOptions m_options;
    ThreadPool* m_pool;
    std::vector<Task> m_tasks;
};

}  // namespace pack
