#pragma once
#include <gtest/gtest.h>

#include <signal.h>

#include <string>
#include <vector>

#include "archive/archive_reader.h"
#include "pack/archive_writer.h"
#include "pack/encoder.h"
#include "common/globals.h"
#include "support/scripted_host.h"

// A fresh folder below the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }
    // Every file below the folder, relative, sorted ("a/b.txt").
    std::vector<std::string> Files() const;

private:
    std::string m_path;
};

void WriteFileBytes(const std::string& path, const pack::Bytes& bytes);
pack::Bytes ReadFileBytes(const std::string& path);
bool FileExists(const std::string& path);

// Stand-in for the stub image: an MZ header pointing to a PE signature, zero
// bytes among the rest.
pack::Bytes FakeStub(size_t size = 4096);

// Bytes of a given length with a recognisable pattern.
pack::Bytes Pattern(size_t size, unsigned seed = 1);

// Puts a POSIX path into a 260-byte global in the core's form ('\' separators).
void SetCorePath(char* global, const std::string& path);

// Resets the shared flags and globals; every test that runs the core starts here.
class CoreTest : public ::testing::Test {
protected:
    CoreTest();
    ~CoreTest() override;

    // Writes image as the executable and loads its catalog with a new reader.
    CatalogEntry* Load(const pack::Bytes& image);
    // Enqueues the catalog as the dialog does: from the head along next.
    void EnqueueAll();
    // Starts a case of a table afresh: empty destination folder "out", no
    // boxes or messages, flags cleared, no catalog.
    void NextCase();

    TempDir dir;
    ScriptedHost host;
    std::string exePath;
    CArchiveReader* reader = nullptr;
    CatalogEntry* catalog = nullptr;
};

// An entry built from its three parts: raw prefix, the bytes to code (an even
// count of little-endian words) and raw tail.
pack::StoredEntry CodedEntry(const std::string& path, const pack::Bytes& prefix, const pack::Bytes& coded,
                             const pack::Bytes& tail);

// Presses Cancel from inside the worker's n-th read or write of a file lying
// directly in `folder`, counted from construction. The dialog's thread may
// press Cancel at any moment, also between two of the worker's polls; the
// kernel's directory notification interrupts that very call with a signal to
// this thread, so the moment is exact and the core needs no hook for it.
class CancelDuringFileAccess {
public:
    CancelDuringFileAccess(const std::string& folder, int n);
    ~CancelDuringFileAccess();
    // Reads and writes in the folder so far, the one with Cancel included.
    int Accesses() const;
    CancelDuringFileAccess(const CancelDuringFileAccess&) = delete;
    CancelDuringFileAccess& operator=(const CancelDuringFileAccess&) = delete;

private:
    int m_fd;
    struct sigaction m_previous;
};
