// CRC-32C (Castagnoli), the checksum of every journal this engine writes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mdb {

// The processor's instruction when it has one, else tables.
uint32_t Crc32(const void* data, size_t n, uint32_t crc = 0);
// Always the tables, for tests that hold both ways to one definition.
uint32_t Crc32Portable(const void* data, size_t n, uint32_t crc = 0);

}  // namespace mdb
