#include "archive/stored_path.h"

namespace {

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

bool StartsWithFolded(const char* text, const char* lower) {
    for (; *lower; ++text, ++lower)
        if (LowerAscii(*text) != *lower) return false;
    return true;
}

}  // namespace

bool HasStoredPathForm(const char* path) { return path[0] == '.' && path[1] == '\\'; }

bool IsSafeRelativePath(const char* relative) {
    const char* start = relative;
    bool onlyDotsAndSpaces = true;
    for (const char* p = relative;; ++p) {
        const char c = *p;
        if (c == '\\' || c == '\0') {
            const size_t length = size_t(p - start);
            // Empty components in between collapse; an empty last one names a folder.
            if (length > 0 && (onlyDotsAndSpaces || IsDeviceName(start, length))) return false;
            if (c == '\0') return length > 0;
            start = p + 1;
            onlyDotsAndSpaces = true;
            continue;
        }
        if (c == ':' || c == '/') return false;
        if (c != '.' && c != ' ') onlyDotsAndSpaces = false;
    }
}

bool IsDeviceName(const char* component, size_t length) {
    size_t base = 0;
    while (base < length && component[base] != '.') ++base;
    while (base > 0 && component[base - 1] == ' ') --base;
    if (base == 3)
        return StartsWithFolded(component, "con") || StartsWithFolded(component, "prn") ||
               StartsWithFolded(component, "aux") || StartsWithFolded(component, "nul");
    return base == 4 && (StartsWithFolded(component, "com") || StartsWithFolded(component, "lpt")) &&
           component[3] >= '1' && component[3] <= '9';
}
