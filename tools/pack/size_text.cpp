#include "pack/size_text.h"

namespace pack {

bool ParseSize(const char* text, uint64_t& size) {
    const char* p = text;
    uint64_t value = 0;
    if (*p < '0' || *p > '9') return false;
    for (; *p >= '0' && *p <= '9'; ++p) {
        const uint64_t digit = uint64_t(*p - '0');
        if (value > (UINT64_MAX - digit) / 10) return false;
        value = value * 10 + digit;
    }
    int shift = 0;
    switch (*p) {
        case '\0': break;
        case 'k': case 'K': shift = 10; ++p; break;
        case 'm': case 'M': shift = 20; ++p; break;
        case 'g': case 'G': shift = 30; ++p; break;
        default: return false;
    }
    if (*p != '\0' || value == 0 || value > (UINT64_MAX >> shift)) return false;
    size = value << shift;
    return true;
}

}  // namespace pack
