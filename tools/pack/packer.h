#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "pack/archive_stream.h"
#include "pack/entry_coder.h"
#include "pack/input_tree.h"

namespace pack {

// What the user is shown while the files are packed; called on the thread
// that runs PackFiles.
class PackObserver {
public:
    virtual ~PackObserver() = default;
    // bytesDone counts the files done and the part of the current one coded so far.
    virtual void Progress(size_t filesDone, uint64_t bytesDone, const std::string& current) = 0;
    virtual void Packed(const InputFile& file, const EntryFacts& facts) = 0;
};

struct PackProblem {
    enum Kind { None, Input, Refusal, Output } kind = None;
    std::string text;  // for Input and Refusal; an Output problem is the output's to tell
};

// Codes the files in order into a stream that has begun, on `threads`
// threads, and gives the catalog's records. Small files are coded whole on
// the threads while earlier ones are written; a large one has its blocks
// shared by all of them. The bytes are the same for any number of threads.
bool PackFiles(const std::vector<InputFile>& files, ArchiveStream& stream, int threads, PackObserver& observer,
               std::vector<CatalogRecord>& records, PackProblem& problem);

}  // namespace pack
