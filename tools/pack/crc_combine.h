#pragma once
#include <cstdint>

// CRC-32 arithmetic on running values (CCrc32::Value): a CRC register is a
// linear function of the bytes it has seen, so pieces computed apart, and
// bytes changed after the fact, can be accounted for without reading the
// data again.
namespace pack {

// The running value after `length` more zero bytes.
uint32_t CrcAfterZeros(uint32_t value, uint64_t length);

// The running value over A then B, from the running values over A and over B
// (each started at CCrc32's start value) and B's length.
uint32_t CrcConcat(uint32_t valueA, uint32_t valueB, uint64_t lengthB);

// What changing bytes to bytes XOR delta does to the running value when
// `after` bytes follow the changed ones: the value is XORed with this.
uint32_t CrcOfChange(const uint8_t* delta, uint64_t length, uint64_t after);

}  // namespace pack
