#pragma once
#include <cstdint>

#include "pack/encoder.h"

// The block encoder at its plainest: every order and every k walked code by
// code, bits written one at a time. The oracle for the fast one.
void ReferenceEncodeBlock(const uint16_t* words, int count, pack::BlockHistory& history,
                          const pack::EncodeOptions& options, pack::Bytes& out);
