#pragma once
// The checksum of a checkpoint: CRC-32 as zip, PNG and most tools compute it
// (reflected polynomial 0xEDB88320, starting from and ending with all bits
// inverted), so that a script checks a file with one library call.
#include <cstddef>
#include <cstdint>

// The CRC-32 of `len` bytes following on from `crc`, the value of the bytes
// before them (0 for none): Crc32(Crc32(0, a, la), b, lb) is the CRC-32 of
// a and b one after the other.
std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t len);

// The same, eight bytes a step through tables, without the carry-less
// multiplication the processor may have; for tests that compare the two.
std::uint32_t Crc32_By_Tables(std::uint32_t crc, const void* data, std::size_t len);
