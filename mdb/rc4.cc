#include "mdb/rc4.h"

#include <utility>

namespace mdb {

void Rc4Apply(const uint8_t* key, size_t key_len, uint8_t* data, size_t n) {
  uint8_t s[256];
  for (int i = 0; i < 256; ++i) s[i] = uint8_t(i);
  if (key_len > 0) {
    uint8_t j = 0;
    for (int i = 0; i < 256; ++i) {
      j = uint8_t(j + s[i] + key[i % key_len]);
      std::swap(s[i], s[j]);
    }
  }
  uint8_t i = 0, j = 0;
  for (size_t k = 0; k < n; ++k) {
    i = uint8_t(i + 1);
    j = uint8_t(j + s[i]);
    std::swap(s[i], s[j]);
    data[k] ^= s[uint8_t(s[i] + s[j])];
  }
}

}  // namespace mdb
