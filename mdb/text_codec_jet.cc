#include "mdb/text_codec_jet.h"

namespace mdb {

std::u16string DecodeJetText(const uint8_t* data, size_t n) {
  std::u16string out;
  if (n >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
    // Runs alternate between one byte and two bytes per character; a zero
    // byte switches, starting with one-byte runs.
    bool compressed = true;
    size_t i = 2;
    out.reserve(n - 2);
    while (i < n) {
      if (data[i] == 0) {
        compressed = !compressed;
        ++i;
      } else if (compressed) {
        out.push_back(char16_t(data[i]));
        ++i;
      } else {
        if (i + 1 >= n) break;
        out.push_back(char16_t(data[i] | (data[i + 1] << 8)));
        i += 2;
      }
    }
    return out;
  }
  out.reserve(n / 2);
  for (size_t i = 0; i + 1 < n; i += 2) out.push_back(char16_t(data[i] | (data[i + 1] << 8)));
  return out;
}

std::string EncodeJetText(const std::u16string& text, bool allow_compression) {
  std::string out;
  bool compressible = allow_compression && !text.empty();
  for (char16_t c : text) {
    if (c == 0 || c > 0xFF) {
      compressible = false;
      break;
    }
  }
  if (compressible) {
    out.reserve(text.size() + 2);
    out.push_back(char(0xFF));
    out.push_back(char(0xFE));
    for (char16_t c : text) out.push_back(char(c));
    return out;
  }
  out.reserve(text.size() * 2);
  for (char16_t c : text) {
    out.push_back(char(c & 0xFF));
    out.push_back(char(c >> 8));
  }
  return out;
}

}  // namespace mdb
