// RC4, used by the format to mask the header block and encoded pages.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mdb {

// XORs data with the RC4 key stream of `key` (applying it twice restores).
void Rc4Apply(const uint8_t* key, size_t key_len, uint8_t* data, size_t n);

}  // namespace mdb
