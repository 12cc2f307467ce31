#pragma once
#include <cstdint>

namespace pack {

// Reads a size such as "4096", "720k", "100M" or "2G" (k, M and G are powers
// of 1024, either case). False for anything else, for 0 and on overflow.
bool ParseSize(const char* text, uint64_t& size);

}  // namespace pack
