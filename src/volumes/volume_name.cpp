#include "volumes/volume_name.h"

#include <cstdio>
#include <cstring>

bool VolumePath(const char* archivePath, int n, char* path, int size) {
    if (n == 0) return std::snprintf(path, size_t(size), "%s", archivePath) < size;
    const char* dot = std::strrchr(archivePath, '.');
    const size_t base = dot ? size_t(dot - archivePath) : std::strlen(archivePath);
    const int written = std::snprintf(path, size_t(size), "%.*s.%c%02u", int(base), archivePath, char(65 + n / 100),
                                      unsigned(n % 100));
    return written > 0 && written < size;
}
