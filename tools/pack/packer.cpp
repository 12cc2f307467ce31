#include "pack/packer.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <deque>
#include <future>
#include <memory>

#include "pack/byte_source.h"
#include "pack/thread_pool.h"

namespace pack {
namespace {

constexpr uint64_t kSmallFile = 1 << 20;       // coded whole in memory, one file a thread
constexpr uint64_t kBytesInFlight = 8 << 20;   // small files read ahead of the writing, at most
constexpr size_t kJobsPerThread = 4;           // and at most this many a thread
constexpr int64_t kMaxStoredSize = INT32_MAX;  // the catalog's sizes are signed 32-bit

// A small file coded on a worker: its stored bytes wait here to be written.
struct SmallJob {
    const InputFile* file = nullptr;
    Bytes stored;
    EntryFacts facts;
    CodeResult result = CodeResult::Done;
    int error = 0;
    std::future<void> done;
};

class StreamSink : public DataSink {
public:
    explicit StreamSink(ArchiveStream& stream) : m_stream(stream) {}
    bool Write(const uint8_t* data, size_t n) override { return m_stream.Append(data, n); }

private:
    ArchiveStream& m_stream;
};

// The file opened and checked against what the walk saw of it.
CodeResult OpenInput(const InputFile& file, FileSource& source) {
    if (!source.Open(file.source)) return CodeResult::ReadFailed;
    return source.Size() == file.size ? CodeResult::Done : CodeResult::Changed;
}

void CodeSmall(SmallJob& job) {
    Bytes content;
    {
        FileSource file;
        job.result = OpenInput(*job.file, file);
        if (job.result == CodeResult::Done) {
            content.resize(size_t(file.Size()));
            if (!file.ReadAt(0, content.data(), content.size()))
                job.result = errno == 0 ? CodeResult::Changed : CodeResult::ReadFailed;
            else if (!file.Unchanged())
                job.result = CodeResult::Changed;
        }
        job.error = errno;
    }
    if (job.result != CodeResult::Done) return;
    MemorySource source(content);
    BytesSink sink(job.stored);
    EntryCoder coder;
    job.result = coder.CodeFile(source, sink, job.facts);
}

class Packer {
public:
    Packer(const std::vector<InputFile>& files, ArchiveStream& stream, int threads, PackObserver& observer,
           std::vector<CatalogRecord>& records, PackProblem& problem)
        : m_files(files), m_stream(stream), m_observer(observer), m_records(records), m_problem(problem),
          m_pool(threads) {}

    bool Run() {
        for (const InputFile& file : m_files) {
            if (file.size <= kSmallFile) {
                if (!Queue(file)) return false;
            } else if (!Drain(0) || !CodeLarge(file)) {
                return false;
            }
        }
        return Drain(0);
    }

private:
    bool Queue(const InputFile& file) {
        auto job = std::make_unique<SmallJob>();
        job->file = &file;
        SmallJob* j = job.get();
        job->done = m_pool.Submit([j] { CodeSmall(*j); });
        m_queued.push_back(std::move(job));
        m_queuedBytes += file.size;
        return Drain(kBytesInFlight);
    }

    // Writes the oldest coded files until no more than `keep` bytes wait.
    bool Drain(uint64_t keep) {
        const size_t maxJobs = kJobsPerThread * size_t(m_pool.Threads());
        while (!m_queued.empty() && (m_queuedBytes > keep || m_queued.size() > maxJobs || keep == 0)) {
            std::unique_ptr<SmallJob> job = std::move(m_queued.front());
            m_queued.pop_front();
            m_queuedBytes -= job->file->size;
            job->done.wait();
            errno = job->error;
            if (!Check(*job->file, job->result)) return false;
            const int64_t offset = m_stream.BeginEntry();
            if (!m_stream.Append(job->stored.data(), job->stored.size())) return Check(*job->file, CodeResult::WriteFailed);
            if (!Record(*job->file, offset, job->facts)) return false;
        }
        return true;
    }

    bool CodeLarge(const InputFile& file) {
        FileSource source;
        if (const CodeResult opened = OpenInput(file, source); opened != CodeResult::Done) return Check(file, opened);
        const int64_t offset = m_stream.BeginEntry();
        StreamSink sink(m_stream);
        EntryCoder coder(EncodeOptions{}, &m_pool);
        coder.onProgress = [&](uint64_t done) { m_observer.Progress(m_records.size(), m_bytesDone + done, file.stored); };
        EntryFacts facts;
        return Check(file, coder.CodeFile(source, sink, facts)) && Record(file, offset, facts);
    }

    bool Check(const InputFile& file, CodeResult result) {
        switch (result) {
            case CodeResult::Done: return true;
            case CodeResult::ReadFailed:
                m_problem = {PackProblem::Input, "cannot read " + file.source + ": " + std::strerror(errno)};
                return false;
            case CodeResult::Changed:
                m_problem = {PackProblem::Input, file.source + " changed while it was being packed"};
                return false;
            case CodeResult::WriteFailed: m_problem = {PackProblem::Output, ""}; return false;
        }
        return false;
    }

    bool Record(const InputFile& file, int64_t offset, const EntryFacts& facts) {
        if (int64_t(facts.storedSize) > kMaxStoredSize) {
            m_problem = {PackProblem::Refusal, file.source + " would take " + std::to_string(facts.storedSize) +
                                                   " bytes in the archive; an entry holds at most " +
                                                   std::to_string(kMaxStoredSize)};
            return false;
        }
        m_records.push_back({file.archived, int32_t(facts.fileSize), int32_t(facts.storedSize),
                             int32_t(facts.rawPrefixSize), int32_t(facts.codedSize), offset, facts.crc, {}});
        m_bytesDone += file.size;
        m_observer.Packed(file, facts);
        m_observer.Progress(m_records.size(), m_bytesDone, file.stored);
        return true;
    }

    const std::vector<InputFile>& m_files;
    ArchiveStream& m_stream;
    PackObserver& m_observer;
    std::vector<CatalogRecord>& m_records;
    PackProblem& m_problem;
    std::deque<std::unique_ptr<SmallJob>> m_queued;
    uint64_t m_queuedBytes = 0;
    uint64_t m_bytesDone = 0;
    // Last, so that it goes first: its threads finish the jobs still queued
    // before the jobs themselves go.
    ThreadPool m_pool;
};

}  // namespace

bool PackFiles(const std::vector<InputFile>& files, ArchiveStream& stream, int threads, PackObserver& observer,
               std::vector<CatalogRecord>& records, PackProblem& problem) {
    return Packer(files, stream, threads, observer, records, problem).Run();
}

}  // namespace pack
