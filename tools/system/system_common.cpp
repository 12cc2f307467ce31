#include <algorithm>
#include <cerrno>

#include "system/system.h"

namespace sys {

bool ReadFirstLine(const std::string& path, std::string& line) {
    const int fd = OpenRead(path);
    if (fd < 0) return false;
    line.clear();
    char chunk[4096];
    bool failed = false;
    constexpr uint64_t kLongest = 65536;  // a line longer than this is no key anyone types
    for (uint64_t at = 0, size = 0;
         FileSize(fd, size) && at < std::min(size, kLongest) && line.find('\n') == std::string::npos;) {
        const size_t n = size_t(std::min<uint64_t>(sizeof chunk, size - at));
        if (!ReadAt(fd, at, chunk, n)) {
            failed = errno != 0;
            break;
        }
        line.append(chunk, n);
        at += n;
    }
    const int error = errno;
    Close(fd);
    errno = error;
    line = line.substr(0, line.find('\n'));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return !failed;
}

bool MakeFolders(const std::string& path) {
    for (size_t at = 1; at <= path.size(); ++at) {
        if (at < path.size() && path[at] != '/' && path[at] != '\\') continue;
        const std::string part = path.substr(0, at);
        // A drive ("C:") is there already.
        if (part.size() == 2 && part[1] == ':') continue;
        if (!MakeFolder(part)) return false;
    }
    Status st;
    if (GetStatus(path, true, st) && st.kind == Kind::Folder) return true;
    errno = ENOTDIR;
    return false;
}

}  // namespace sys
