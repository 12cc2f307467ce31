#include "archive/stored_path.h"

bool HasStoredPathForm(const char* path) { return path[0] == '.' && path[1] == '\\'; }

bool IsSafeRelativePath(const char* relative) {
    bool onlyDotsAndSpaces = true;
    bool componentEmpty = true;
    for (const char* p = relative;; ++p) {
        const char c = *p;
        if (c == '\\' || c == '\0') {
            if (!componentEmpty && onlyDotsAndSpaces) return false;
            if (c == '\0') return true;
            onlyDotsAndSpaces = true;
            componentEmpty = true;
            continue;
        }
        if (c == ':' || c == '/') return false;
        componentEmpty = false;
        if (c != '.' && c != ' ') onlyDotsAndSpaces = false;
    }
}
