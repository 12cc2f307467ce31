#include "pack/pack_checks.h"

#include <algorithm>
#include <array>
#include <map>

#include "archive/crypt.h"
#include "archive/stored_path.h"
#include "platform/code_page.h"

namespace pack {
namespace {

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }


bool IsForbiddenOnWindows(unsigned char c) {
    return c < 0x20 || c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*';
}

// All the magic check sees of a key. The magic's four bytes are enciphered
// with key bytes 0 to 3 and then masked with every key byte j at j mod 4, so
// those first four cancel: byte b sees the XOR of key bytes j = b mod 4, j >= 4.
std::array<uint8_t, 4> MagicMask(const std::string& cleaned) {
    unsigned char key[kKeySize];
    DeriveKey(cleaned.c_str(), key);
    std::array<uint8_t, 4> mask{};
    for (int j = 4; j < kKeySize; ++j) mask[size_t(j % 4)] ^= key[j];
    return mask;
}

bool IsSignificantKeyChar(char c) { return uint8_t(c) > 0x20 && uint8_t(c) < 0x7F; }

}  // namespace

std::string NameProblem(const std::string& name) {
    if (name.find('\\') != std::string::npos)
        return "a '\\' in a name would make it a folder on Windows";
    // The extractor's rule; a device name, which it refuses too, is named below.
    const bool device = IsDeviceName(name.c_str(), name.size());
    if (!IsSafeRelativePath(name.c_str())) {
        if (name.find_first_of(":/") != std::string::npos) return "':' and '/' are not allowed in names";
        if (!device) return "a name made only of dots and spaces could climb out of the destination folder";
    }
    if (std::any_of(name.begin(), name.end(), [](char c) { return IsForbiddenOnWindows(uint8_t(c)); }))
        return "Windows does not allow control characters or any of < > \" | ? * in names";
    if (device) return "Windows opens a device (CON, NUL, COM1, ...) for this name, not a file";
    if (name.back() == '.' || name.back() == ' ') {
        std::string trimmed = name;
        while (trimmed.back() == '.' || trimmed.back() == ' ') trimmed.pop_back();
        return "Windows drops the dots and spaces that end a name (it would be extracted as \"" + trimmed + "\")";
    }
    return {};
}

std::string ArchivedName(const std::string& stored, const platform::CodePage* codePage, std::string& archived) {
    archived = stored;
    if (!codePage) return {};
    if (!platform::IsValidUtf8(stored)) return "its name is not valid UTF-8, the encoding of names here";
    if (!codePage->FromUtf8(stored, archived))
        return "its name cannot be written in " + codePage->Title() +
               ", in which the archive stores names; give --codepage with one that can";
    // A byte of a character that is also the code of '\' splits the name for the extractor.
    if (std::count(archived.begin(), archived.end(), '\\') != std::count(stored.begin(), stored.end(), '\\'))
        return "in " + codePage->Title() + " its name has a byte that the extractor takes for a '\\' between folders";
    return {};
}

std::string StoredPathProblem(const std::string& archived, const std::string& shown) {
    const std::string& stored = shown.empty() ? archived : shown;
    if (!HasStoredPathForm(archived.c_str()) || !IsSafeRelativePath(archived.c_str() + 2))
        return "the extractor refuses the stored path " + stored;
    if (archived.size() > kMaxStoredPath)
        return "the stored path " + stored + " has " + std::to_string(archived.size()) +
               " characters; even below a drive root it would pass the 259 characters of an output path";
    return {};
}

bool IsLongStoredPath(const std::string& stored) { return stored.size() > kLongStoredPath; }

namespace {

// A Windows program starts with an MZ header whose field at 0x3C points to
// the PE signature.
bool IsPeImage(const Bytes& image) {
    constexpr size_t kPeOffsetField = 0x3C;
    if (image.size() < kPeOffsetField + 4 || image[0] != 'M' || image[1] != 'Z') return false;
    uint64_t pe = 0;
    for (int i = 0; i < 4; ++i) pe |= uint64_t(image[kPeOffsetField + size_t(i)]) << (8 * i);
    static const uint8_t kSignature[4] = {'P', 'E', 0, 0};
    return pe + 4 <= image.size() && std::equal(kSignature, kSignature + 4, image.begin() + std::ptrdiff_t(pe));
}

}  // namespace

std::string StubProblem(const Bytes& stub, const std::string& stubPath, std::optional<uint64_t> fileSize) {
    const uint64_t size = fileSize.value_or(stub.size());
    if (!IsPeImage(stub))
        return "the stub " + stubPath + " is not a Windows program (no MZ header with a PE signature)";
    const Bytes marker = MarkerSearchForm();
    const auto found = std::search(stub.begin(), stub.end(), marker.begin(), marker.end());
    if (found != stub.end())
        return "the stub " + stubPath + " holds the marker's search form at offset " +
               std::to_string(found - stub.begin()) + "; the extractor would look for the archive there";
    if (size + marker.size() > kMarkerWindow)
        return "the stub " + stubPath + " has " + std::to_string(size) + " bytes; the extractor looks for the marker in the first " +
               std::to_string(kMarkerWindow) + " bytes, so a stub may have at most " +
               std::to_string(kMarkerWindow - marker.size());
    return {};
}

size_t SignificantKeyChars(const std::string& key) {
    // As the key is derived: printable characters other than space.
    return size_t(std::count_if(key.begin(), key.end(), IsSignificantKeyChar));
}

size_t WeakKeyChanges(const std::string& key) {
    std::string cleaned;
    for (char c : key)
        if (IsSignificantKeyChar(c) && cleaned.size() < kSignificantKeyChars) cleaned += c;
    const std::array<uint8_t, 4> mask = MagicMask(cleaned);
    size_t passing = 0;
    for (char& at : cleaned) {
        const char original = at;
        for (char c = 0x21; c < 0x7F; ++c) {
            // A small letter is the same key as its capital.
            if ((c >= 'a' && c <= 'z') || LowerAscii(c) == LowerAscii(original)) continue;
            at = c;
            if (MagicMask(cleaned) == mask) ++passing;
        }
        at = original;
    }
    return passing;
}

std::string KeyProblem(const std::string& key) {
    if (key.size() > kMaxKeyLength)
        return "the key has " + std::to_string(key.size()) + " characters; the key dialog takes at most " +
               std::to_string(kMaxKeyLength);
    if (SignificantKeyChars(key) == 0)
        return "the key has no characters that count (printable characters other than space)";
    return {};
}

uint64_t MinimumVolumeSize(size_t stubSize, size_t catalogEnd) {
    constexpr size_t kVolumeFraming = 7;  // flags byte, volume number, CRC
    return uint64_t(stubSize) + MarkerSearchForm().size() + kVolumeFraming + catalogEnd;
}

namespace {

// The first `count` components of a stored path (".\" counts as none).
std::string Leading(const std::string& stored, size_t count) {
    size_t end = 1;
    for (size_t i = 0; i < count && end != std::string::npos; ++i) end = stored.find('\\', end + 1);
    return stored.substr(0, end);
}

// The stored path as Windows tells paths apart, component by component.
std::vector<std::string> FoldedComponents(const std::string& stored) {
    std::vector<std::string> out;
    for (size_t at = 2; at <= stored.size();) {
        const size_t end = std::min(stored.find('\\', at), stored.size());
        out.push_back(platform::WindowsFolded(stored.substr(at, end - at)));
        at = end + 1;
    }
    return out;
}

}  // namespace

std::vector<std::string> CollisionProblems(const std::vector<StoredSource>& files) {
    std::vector<std::string> problems;
    std::map<std::string, const StoredSource*> byFile;
    // A folder, the file that needs it and how many components it has.
    std::map<std::string, std::pair<const StoredSource*, size_t>> byFolder;
    for (const StoredSource& f : files) {
        const std::vector<std::string> components = FoldedComponents(f.stored);
        std::string key;
        for (size_t i = 0; i < components.size(); ++i) {
            if (i > 0) byFolder.emplace(key, std::make_pair(&f, i));
            key += "\\" + components[i];
        }
        const auto [at, added] = byFile.emplace(key, &f);
        if (!added) {
            problems.push_back(at->second->source + " and " + f.source + " would both be extracted as " + f.stored +
                               (at->second->stored == f.stored
                                    ? ""
                                    : " (Windows ignores case in names, and dots and spaces at their end)"));
        }
    }
    for (const auto& [key, file] : byFile) {
        const auto folder = byFolder.find(key);
        if (folder != byFolder.end())
            problems.push_back(file->source + " stands where " + folder->second.first->source + " needs the folder " +
                               Leading(folder->second.first->stored, folder->second.second));
    }
    return problems;
}

}  // namespace pack
