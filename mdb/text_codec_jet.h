// Jet text: UTF-16LE, optionally in the "compressed" form that starts with
// FF FE and stores runs of characters below U+0100 as single bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace mdb {

// Decodes a stored text value (either form).
std::u16string DecodeJetText(const uint8_t* data, size_t n);
// The same into *out, reusing its storage (for readers of many rows).
void DecodeJetText(const uint8_t* data, size_t n, std::u16string* out);
// Encodes for storage. With `allow_compression`, uses the compressed form
// when every character fits in one byte and that is shorter.
std::string EncodeJetText(const std::u16string& text, bool allow_compression);

}  // namespace mdb
