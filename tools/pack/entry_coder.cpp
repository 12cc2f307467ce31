#include "pack/entry_coder.h"

#include <algorithm>
#include <cerrno>
#include <future>

#include "common/crc32.h"
#include "pack/crc_combine.h"
#include "pack/thread_pool.h"
#include "pack/wave.h"

namespace pack {
namespace {

constexpr uint64_t kBatchBlocks = 512;   // 768 KiB of words read and coded at a time
constexpr uint64_t kMinTaskBlocks = 16;  // less is not worth a thread's while
constexpr size_t kCopyChunk = 1 << 20;   // raw parts are read in pieces of this size
constexpr uint8_t kFlaggedFiller = 0x40;

uint64_t BlockCount(uint64_t words) { return (words + kBlockWords - 1) / kBlockWords; }

CodeResult ReadFailure() { return errno == 0 ? CodeResult::Changed : CodeResult::ReadFailed; }

// Filler blocks after the last block, to the end of its step of 100; a whole
// step when there are no blocks, since the extractor reads one whatever the size.
size_t FillerCount(uint64_t blocks) {
    return blocks == 0 ? kBlocksPerStep : size_t((kBlocksPerStep - blocks % kBlocksPerStep) % kBlocksPerStep);
}

bool WriteFiller(uint64_t blocks, FillerKind kind, DataSink& sink) {
    Bytes filler;
    for (size_t i = 0; i < FillerCount(blocks); ++i)
        AppendFiller(kind == FillerKind::Alternating && i % 2 == 1 ? FillerKind::Padded : kind, filler);
    return sink.Write(filler.data(), filler.size());
}

}  // namespace

void AppendFiller(FillerKind kind, Bytes& out) {
    if (kind == FillerKind::Padded)
        out.insert(out.end(), {0x00, 0x00});
    else
        out.push_back(kFlaggedFiller);
}

size_t FillerBytes(uint64_t blocks, FillerKind kind) {
    const size_t count = FillerCount(blocks);
    switch (kind) {
        case FillerKind::Flagged: return count;
        case FillerKind::Padded: return 2 * count;
        case FillerKind::Alternating: return count + count / 2;
    }
    return count;
}

// Pass one's findings: every block's header byte and what the entry will take.
struct EntryCoder::Analysis {
    std::vector<uint8_t> headers;
    uint64_t blockBytes = 0;  // header bytes and payloads of every block
    uint32_t crc = 0;         // running value over the whole file
};

// One thread's share of a batch: a run of whole blocks.
struct EntryCoder::Task {
    uint64_t firstBlock = 0;
    uint64_t blocks = 0;
    std::vector<uint16_t> words;  // the three words before the run (the history), then the run's
    Bytes out;                    // pass two: the run's blocks as written
    size_t outBytes = 0;
    uint64_t blockBytes = 0;
    uint32_t crc = 0;             // running value over the run's bytes
    uint64_t length = 0;          // the run's bytes
};

// Goes over the coded words of a plan batch by batch: reads a batch on the
// calling thread, lets the tasks work on their runs of it, then finishes the
// tasks in order on the calling thread again.
class EntryCoder::Pass {
public:
    Pass(EntryCoder& coder, ByteSource& source, const EntryPlan& plan) : m_coder(coder), m_source(source), m_plan(plan) {}

    // While the tasks work on one batch, this thread reads the next one into
    // the other buffer, so that reading and coding overlap.
    template <class Work, class Finish>
    CodeResult Run(Work work, Finish finish) {
        const uint64_t blocks = BlockCount(m_plan.words);
        if (blocks == 0) return CodeResult::Done;
        Batch batches[2];
        if (!Read(batches[0], 0, blocks)) return ReadFailure();
        for (size_t i = 0;; ++i) {
            Batch& batch = batches[i % 2];
            const size_t tasks = Split(batch);
            auto run = [&](size_t t) {
                Task& task = m_coder.m_tasks[t];
                Prepare(task, batch);
                work(task);
            };
            std::vector<std::future<void>> running;
            if (m_coder.m_pool && tasks > 1) {
                for (size_t t = 0; t < tasks; ++t) running.push_back(m_coder.m_pool->Submit([&run, t] { run(t); }));
            } else {
                for (size_t t = 0; t < tasks; ++t) run(t);
            }
            Batch& next = batches[(i + 1) % 2];
            const bool more = batch.first + batch.count < blocks;
            const bool read = !more || Read(next, batch.first + batch.count, blocks);
            const int readError = errno;
            for (std::future<void>& r : running) r.wait();
            for (size_t t = 0; t < tasks; ++t)
                if (!finish(m_coder.m_tasks[t])) return CodeResult::WriteFailed;
            errno = readError;
            if (!read) return ReadFailure();
            if (!more) return CodeResult::Done;
        }
    }

    // The words of block b of the task's run, and how many there are.
    const uint16_t* Words(const Task& task, uint64_t b, int& count) const {
        const uint64_t word = b * kBlockWords;
        count = int(std::min<uint64_t>(kBlockWords, m_plan.words - word));
        return task.words.data() + 3 + (word - task.firstBlock * kBlockWords);
    }

    BlockHistory StartHistory(const Task& task) const {
        if (task.firstBlock == 0) return {};
        const uint16_t* w = task.words.data();
        return {w[2], w[1], w[0]};
    }

private:
    uint64_t Threads() const { return m_coder.m_pool ? uint64_t(m_coder.m_pool->Threads()) : 1; }

    // Some blocks of the plan's words, read with the three words before them
    // when there are any.
    struct Batch {
        uint64_t first = 0;
        uint64_t count = 0;
        uint64_t lead = 0;       // words of history read before the first block
        uint64_t firstWord = 0;  // the first word read
        std::vector<uint8_t> bytes;
    };

    bool Read(Batch& batch, uint64_t firstBlock, uint64_t blocks) {
        batch.first = firstBlock;
        batch.count = std::min(kBatchBlocks, blocks - firstBlock);
        const uint64_t firstWord = firstBlock * kBlockWords;
        const uint64_t endWord = std::min(m_plan.words, (firstBlock + batch.count) * kBlockWords);
        batch.lead = std::min<uint64_t>(3, firstWord);
        batch.firstWord = firstWord - batch.lead;
        batch.bytes.resize(size_t(2 * (endWord - batch.firstWord)));
        return m_source.ReadAt(m_plan.prefix + 2 * batch.firstWord, batch.bytes.data(), batch.bytes.size());
    }

    // Shares the batch's blocks out among the tasks; how many there are.
    size_t Split(const Batch& batch) {
        const size_t tasks = size_t(std::min<uint64_t>(Threads(), (batch.count + kMinTaskBlocks - 1) / kMinTaskBlocks));
        m_coder.m_tasks.resize(std::max(m_coder.m_tasks.size(), tasks));
        for (size_t t = 0; t < tasks; ++t) {
            Task& task = m_coder.m_tasks[t];
            task.firstBlock = batch.first + batch.count * t / tasks;
            task.blocks = batch.first + batch.count * (t + 1) / tasks - task.firstBlock;
        }
        return tasks;
    }

    // The task's words (history first) from the batch's bytes, and its CRC.
    void Prepare(Task& task, const Batch& batch) {
        const uint64_t firstWord = task.firstBlock * kBlockWords;
        const uint64_t endWord = std::min(m_plan.words, (task.firstBlock + task.blocks) * kBlockWords);
        const uint8_t* bytes = batch.bytes.data();
        task.words.assign(3, 0);
        const uint64_t lead = task.firstBlock == batch.first ? batch.lead : 3;
        for (uint64_t i = 0; i < lead; ++i) {
            const size_t at = size_t(2 * (firstWord - lead + i - batch.firstWord));
            task.words[size_t(3 - lead + i)] = uint16_t(bytes[at] | bytes[at + 1] << 8);
        }
        const size_t from = size_t(2 * (firstWord - batch.firstWord));
        const size_t count = size_t(endWord - firstWord);
        task.words.resize(3 + count);
        for (size_t i = 0; i < count; ++i)
            task.words[3 + i] = uint16_t(bytes[from + 2 * i] | bytes[from + 2 * i + 1] << 8);
        CCrc32 crc;
        task.crc = crc.Update(bytes + from, 2 * count);
        task.length = 2 * count;
        task.blockBytes = 0;
        task.outBytes = 0;
    }

    EntryCoder& m_coder;
    ByteSource& m_source;
    const EntryPlan& m_plan;
};

EntryCoder::EntryCoder(const EncodeOptions& options, ThreadPool* pool) : m_options(options), m_pool(pool) {}

EntryCoder::~EntryCoder() = default;

CodeResult EntryCoder::CodeFile(ByteSource& source, DataSink& sink, EntryFacts& facts) {
    const uint64_t size = source.Size();
    const EntryPlan raw{size, 0};
    EntryPlan coded{0, size / 2};
    if (const std::optional<WaveData> wave = FindWaveSamples(source)) coded = {wave->offset, wave->size / 2};
    if (coded.words == 0) return Write(source, raw, nullptr, sink, facts);
    Analysis analysis;
    if (const CodeResult r = Analyse(source, coded, analysis); r != CodeResult::Done) return r;
    // Coded only when that is smaller than storing the whole file.
    const uint64_t codedStored = size - 2 * coded.words + analysis.blockBytes +
                                 FillerBytes(BlockCount(coded.words), m_options.filler);
    const uint64_t rawStored = size + FillerBytes(0, m_options.filler);
    return Write(source, codedStored < rawStored ? coded : raw, &analysis, sink, facts);
}

CodeResult EntryCoder::CodePlan(ByteSource& source, const EntryPlan& plan, DataSink& sink, EntryFacts& facts) {
    if (plan.words == 0) return Write(source, plan, nullptr, sink, facts);
    Analysis analysis;
    if (const CodeResult r = Analyse(source, plan, analysis); r != CodeResult::Done) return r;
    return Write(source, plan, &analysis, sink, facts);
}

namespace {

// Reads a raw part in pieces, adding it to the running CRC and, when there is
// a sink, writing it; told how far it has come.
CodeResult CopyRaw(ByteSource& source, uint64_t from, uint64_t length, CCrc32& crc, DataSink* sink,
                   const std::function<void(uint64_t)>& progress) {
    Bytes chunk(size_t(std::min<uint64_t>(length, kCopyChunk)));
    for (uint64_t done = 0; done < length;) {
        const size_t n = size_t(std::min<uint64_t>(length - done, kCopyChunk));
        if (!source.ReadAt(from + done, chunk.data(), n)) return ReadFailure();
        crc.Update(chunk.data(), n);
        if (sink && !sink->Write(chunk.data(), n)) return CodeResult::WriteFailed;
        done += n;
        progress(done);
    }
    return CodeResult::Done;
}

}  // namespace

CodeResult EntryCoder::Analyse(ByteSource& source, const EntryPlan& plan, Analysis& analysis) {
    const uint64_t coded = 2 * plan.words;
    auto progress = [&](uint64_t done) {
        if (onProgress) onProgress(done / 2);
    };
    CCrc32 crc;
    if (const CodeResult r = CopyRaw(source, 0, plan.prefix, crc, nullptr, progress); r != CodeResult::Done) return r;
    analysis.headers.assign(size_t(BlockCount(plan.words)), 0);
    uint32_t running = crc.Value();
    uint64_t done = plan.prefix;
    Pass pass(*this, source, plan);
    const CodeResult r = pass.Run(
        [&](Task& task) {
            BlockHistory history = pass.StartHistory(task);
            for (uint64_t b = task.firstBlock; b < task.firstBlock + task.blocks; ++b) {
                int count;
                const uint16_t* words = pass.Words(task, b, count);
                const BlockChoice choice = ChooseBlock(words, count, history, m_options);
                analysis.headers[size_t(b)] = choice.header;
                task.blockBytes += 1 + choice.payloadBytes;
                history = HistoryAfter(words, count, history, choice.header);
            }
        },
        [&](const Task& task) {
            running = CrcConcat(running, task.crc, task.length);
            analysis.blockBytes += task.blockBytes;
            done += task.length;
            progress(done);
            return true;
        });
    if (r != CodeResult::Done) return r;
    CCrc32 tail;
    const uint64_t tailStart = plan.prefix + coded;
    if (const CodeResult t = CopyRaw(source, tailStart, source.Size() - tailStart, tail, nullptr,
                                     [&](uint64_t n) { progress(tailStart + n); });
        t != CodeResult::Done)
        return t;
    analysis.crc = CrcConcat(running, tail.Value(), source.Size() - tailStart);
    return CodeResult::Done;
}

CodeResult EntryCoder::Write(ByteSource& source, const EntryPlan& plan, const Analysis* analysis, DataSink& sink,
                             EntryFacts& facts) {
    const uint64_t size = source.Size();
    const uint64_t coded = 2 * plan.words;
    // Read twice, a byte counts half each time; read once, whole.
    const uint64_t base = analysis ? size / 2 : 0;
    auto progress = [&](uint64_t done) {
        if (onProgress) onProgress(base + (analysis ? done / 2 : done));
    };
    CCrc32 crc;
    if (const CodeResult r = CopyRaw(source, 0, plan.prefix, crc, &sink, progress); r != CodeResult::Done) return r;
    uint32_t running = crc.Value();
    uint64_t stored = plan.prefix, done = plan.prefix;
    if (plan.words > 0) {
        Pass pass(*this, source, plan);
        const CodeResult r = pass.Run(
            [&](Task& task) {
                task.out.resize(size_t(task.blocks) * kMaxBlockBytes + kBlockSlack);
                uint8_t* out = task.out.data();
                BlockHistory history = pass.StartHistory(task);
                for (uint64_t b = task.firstBlock; b < task.firstBlock + task.blocks; ++b) {
                    int count;
                    const uint16_t* words = pass.Words(task, b, count);
                    const uint8_t header = analysis->headers[size_t(b)];
                    out = WriteBlock(words, count, history, header, out);
                    history = HistoryAfter(words, count, history, header);
                }
                task.outBytes = size_t(out - task.out.data());
            },
            [&](const Task& task) {
                running = CrcConcat(running, task.crc, task.length);
                stored += task.outBytes;
                done += task.length;
                progress(done);
                return sink.Write(task.out.data(), task.outBytes);
            });
        if (r != CodeResult::Done) return r;
    }
    const uint64_t blocks = BlockCount(plan.words);
    if (!WriteFiller(blocks, m_options.filler, sink)) return CodeResult::WriteFailed;
    stored += FillerBytes(blocks, m_options.filler);
    CCrc32 tail;
    const uint64_t tailStart = plan.prefix + coded;
    if (const CodeResult t = CopyRaw(source, tailStart, size - tailStart, tail, &sink,
                                     [&](uint64_t n) { progress(tailStart + n); });
        t != CodeResult::Done)
        return t;
    stored += size - tailStart;
    const uint32_t value = CrcConcat(running, tail.Value(), size - tailStart);
    if ((analysis && analysis->crc != value) || !source.Unchanged()) return CodeResult::Changed;
    facts.fileSize = size;
    facts.storedSize = stored;
    facts.rawPrefixSize = plan.prefix;
    facts.codedSize = coded;
    facts.crc = ~value;
    return CodeResult::Done;
}

}  // namespace pack
