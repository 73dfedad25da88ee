#include "mdb/text_codec_jet.h"

#include <bit>
#include <cstring>

namespace mdb {

std::u16string DecodeJetText(const uint8_t* data, size_t n) {
  std::u16string out;
  DecodeJetText(data, n, &out);
  return out;
}

void DecodeJetText(const uint8_t* data, size_t n, std::u16string* out) {
  // FF FE alone is U+FEFF stored plainly: an empty text is stored empty,
  // never as the mark of compression with nothing after it.
  if (n > 2 && data[0] == 0xFF && data[1] == 0xFE) {
    // Runs alternate between one byte and two bytes per character; a zero
    // byte switches, starting with one-byte runs. No run yields more
    // characters than it has bytes.
    out->resize(n - 2);
    char16_t* o = out->data();
    size_t i = 2;
    while (i < n) {
      while (i < n && data[i] != 0) *o++ = char16_t(data[i++]);
      if (i >= n) break;
      ++i;  // to two-byte characters
      while (i + 1 < n && data[i] != 0) {
        *o++ = char16_t(data[i] | (data[i + 1] << 8));
        i += 2;
      }
      if (i >= n || data[i] != 0) break;  // the end, or half a character
      ++i;  // back to one-byte characters
    }
    out->resize(size_t(o - out->data()));
    return;
  }
  out->resize(n / 2);
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(out->data(), data, n / 2 * 2);
  } else {
    char16_t* o = out->data();
    for (size_t i = 0; i + 1 < n; i += 2) *o++ = char16_t(data[i] | (data[i + 1] << 8));
  }
}

bool JetTextStorable(const std::u16string& text) {
  if (text.empty() || text[0] != 0xFEFF) return true;
  for (char16_t c : text)
    if (c > 0xFF && (c & 0xFF) == 0) return false;
  return true;
}

std::string EncodeJetText(const std::u16string& text, bool allow_compression) {
  std::string out;
  if (!text.empty() && text[0] == 0xFEFF) {
    // Stored plainly, the text would start with FF FE and be read as
    // compressed: always use that form, switching to two-byte runs (00)
    // for characters past U+00FF.
    out = "\xFF\xFE";
    bool one_byte = true;
    for (char16_t c : text) {
      bool small = c != 0 && c <= 0xFF;
      if (small != one_byte) {
        out.push_back('\0');
        one_byte = small;
      }
      out.push_back(char(c & 0xFF));
      if (!one_byte) out.push_back(char(c >> 8));
    }
    return out;
  }
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
