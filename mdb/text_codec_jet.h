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
// when every character fits in one byte and that is shorter. A text that
// starts with U+FEFF always takes the compressed form (stored plainly it
// would start with the mark FF FE and be read as compressed).
std::string EncodeJetText(const std::u16string& text, bool allow_compression);
// False for the texts no stored form can hold so that every reader reads
// them back: U+FEFF first and a character U+xx00 past U+00FF later (in the
// compressed form a zero byte switches runs).
bool JetTextStorable(const std::u16string& text);

}  // namespace mdb
