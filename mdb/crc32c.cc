// CRC-32C, the checksum of the journal.
#include "mdb/crc32c.h"

#include <array>
#include <cstring>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <cpuid.h>
#endif

namespace mdb {
namespace {

// Eight tables, so that the loop takes eight bytes a step: every commit sums
// each page it writes, and a byte at a time that was most of a commit's CPU.
using CrcTables = std::array<std::array<uint32_t, 256>, 8>;
const CrcTables& CrcTable() {
  static const CrcTables tables = [] {
    CrcTables t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0x82F63B78u ^ (c >> 1) : c >> 1;  // CRC-32C
      t[0][i] = c;
    }
    for (uint32_t i = 0; i < 256; ++i)
      for (int k = 1; k < 8; ++k) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    return t;
  }();
  return tables;
}

uint32_t Crc32TablesRaw(const uint8_t* p, size_t n, uint32_t crc) {
  const auto& t = CrcTable();
  for (; n >= 8; n -= 8, p += 8) {
    const uint32_t lo = crc ^ (uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
    crc = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^ t[3][p[4]] ^
          t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
  }
  for (; n > 0; --n, ++p) crc = t[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
  return crc;
}

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
// The processor's own CRC-32C instruction (SSE 4.2), when it has one: the
// same sums, several times faster than the tables.
__attribute__((target("sse4.2"))) uint32_t Crc32Hardware(const uint8_t* p, size_t n, uint32_t crc) {
#ifdef __x86_64__
  // Eight bytes a step where the instruction takes them: half the steps.
  uint64_t c = crc;
  for (; n >= 8; n -= 8, p += 8) {
    uint64_t w;
    memcpy(&w, p, 8);
    c = __builtin_ia32_crc32di(c, w);
  }
  crc = static_cast<uint32_t>(c);
#endif
  for (; n >= 4; n -= 4, p += 4) {
    uint32_t w;
    memcpy(&w, p, 4);
    crc = __builtin_ia32_crc32si(crc, w);
  }
  for (; n > 0; --n, ++p) crc = __builtin_ia32_crc32qi(crc, *p);
  return crc;
}

// Asked the first time a sum is made, not at start-up as the compiler's
// own feature test is: under a hypervisor each cpuid traps, and a program
// that reads a small table and exits should not pay for them.
bool HaveCrcInstruction() {
  static const bool have = [] {
    unsigned a, b, c, d;
    return __get_cpuid(1, &a, &b, &c, &d) && (c & bit_SSE4_2) != 0;
  }();
  return have;
}
#endif

}  // namespace

uint32_t Crc32(const void* data, size_t n, uint32_t crc) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
  if (HaveCrcInstruction()) return ~Crc32Hardware(p, n, ~crc);
#endif
  return ~Crc32TablesRaw(p, n, ~crc);
}

uint32_t Crc32Portable(const void* data, size_t n, uint32_t crc) {
  return ~Crc32TablesRaw(static_cast<const uint8_t*>(data), n, ~crc);
}

}  // namespace mdb
