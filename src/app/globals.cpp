#include "common/globals.h"

#include <cstring>

char g_szModulePath[kPathSize];
char g_szDestDir[kPathSize];
char g_szTempDir[kPathSize];
std::atomic<uint8_t> g_cancelRequested{0};
std::atomic<uint8_t> g_errorRaised{0};

void CopyBounded(char* dest, int size, const char* text) {
    if (size <= 0) return;
    size_t n = std::strlen(text);
    if (n > size_t(size - 1)) n = size_t(size - 1);
    std::memcpy(dest, text, n);
    dest[n] = '\0';
}
