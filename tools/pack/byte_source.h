#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "pack/archive_writer.h"

namespace pack {

// Where a file's bytes are read from: the file itself, or memory.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual uint64_t Size() const = 0;
    // Reads exactly n bytes at offset; false when they cannot all be read
    // (errno 0 when the source has become shorter).
    virtual bool ReadAt(uint64_t offset, void* buffer, size_t n) = 0;
    // Whether the source still has the size it had at first.
    virtual bool Unchanged() const { return true; }
};

class MemorySource : public ByteSource {
public:
    explicit MemorySource(const Bytes& bytes) : m_bytes(bytes) {}
    uint64_t Size() const override { return m_bytes.size(); }
    bool ReadAt(uint64_t offset, void* buffer, size_t n) override;

private:
    const Bytes& m_bytes;
};

// A file opened for reading; its size is the one it had when opened.
class FileSource : public ByteSource {
public:
    FileSource() = default;
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    // False (errno set) when the file cannot be opened.
    bool Open(const std::string& path);
    uint64_t Size() const override { return m_size; }
    bool ReadAt(uint64_t offset, void* buffer, size_t n) override;
    bool Unchanged() const override;

private:
    int m_fd = -1;
    uint64_t m_size = 0;
};

}  // namespace pack
