#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pack/archive_writer.h"
#include "platform/code_page.h"

// What trelk-pack refuses: everything the extractor would refuse or could not
// extract. Each check returns the refusal's text, or an empty string.
namespace pack {

constexpr int64_t kMaxFileSize = INT32_MAX;  // the catalog's sizes are signed 32-bit
constexpr size_t kMaxEntries = INT16_MAX;    // the entry count is signed 16-bit
constexpr size_t kMarkerWindow = 1048576;    // the extractor finds the marker in this many first bytes
constexpr size_t kMaxKeyLength = 259;        // the key dialog's edit limit
constexpr size_t kSignificantKeyChars = 43;  // characters of a key that count
// Output paths hold 259 characters: below a drive root ("C:\" and the '\' the
// extractor adds) the path behind ".\" has 255 left.
constexpr size_t kMaxStoredPath = 2 + 255;
constexpr size_t kLongStoredPath = 200;      // warned about: may not fit below a deep folder

// Why one file or folder name cannot be stored: a '\' (another folder on
// Windows), ':' or '/', a name made only of dots and spaces, a character
// Windows forbids, or a device name (CON, NUL, COM1, ...), which Windows would
// open instead of a file.
std::string NameProblem(const std::string& name);

// The stored path as the archive holds it: bytes in the code page the stub
// reads names in, converted from the local UTF-8 (unchanged without a code
// page). Why it cannot be, or an empty string.
std::string ArchivedName(const std::string& stored, const platform::CodePage* codePage, std::string& archived);

// The stored path as a whole, as archived, checked with the extractor's own
// rule and its path length; named in the messages as shown (default: as archived).
std::string StoredPathProblem(const std::string& archived, const std::string& shown = {});
bool IsLongStoredPath(const std::string& stored);

// A stub that is not a Windows program (an MZ header pointing to a PE
// signature), that holds the marker's search form (the extractor would take the
// first occurrence) or leaves the marker past the extractor's window.
// fileSize is the file's own size when only its front was read.
std::string StubProblem(const Bytes& stub, const std::string& stubPath, std::optional<uint64_t> fileSize = {});

// A key with nothing that counts (the table alone would be the key), or longer
// than the key dialog takes.
std::string KeyProblem(const std::string& key);
size_t SignificantKeyChars(const std::string& key);

// How many keys that differ from this one in a single character would pass
// the extractor's key check: one of the first 43 significant characters
// replaced by another printable character other than space, letters counted
// once (case does not count). The check compares the archive's magic, which
// sees only four XOR sums of the derived key's bytes, so many such typos
// pass it and then extract wrong names or data instead of being refused.
size_t WeakKeyChanges(const std::string& key);

// Smallest --split that leaves room in volume 0 for the stub, the marker, the
// volume framing, the header and the catalog.
uint64_t MinimumVolumeSize(size_t stubSize, size_t catalogEnd);

// Two sources that would land on the same file on Windows (names compared
// without case), or a file standing where another file's folder must go.
struct StoredSource {
    std::string stored;
    std::string source;
};
std::vector<std::string> CollisionProblems(const std::vector<StoredSource>& files);

}  // namespace pack
