// Page 0: format version, the masked header block, the database password,
// code page and sort order.
#pragma once

#include <cstdint>
#include <string>

#include "mdb/status.h"

namespace mdb {

struct DatabaseHeader {
  uint8_t version = 0;
  uint16_t code_page = 0;
  uint16_t sort_order = 0;       // LCID of the default sort order
  uint16_t sort_version = 0;
  uint32_t db_key = 0;           // non-zero: pages are RC4-encoded
  std::u16string password;       // empty when the file has none
  double create_date = 0;
};

// Parses page 0 (`page` holds at least jet4::kPageSize bytes). Refuses Jet 3,
// ACE (.accdb) and non-database files.
Status ParseHeader(const uint8_t* page, size_t size, DatabaseHeader* out);

// Checks only the signature, engine name and version in the first `size`
// bytes of a file: OK for Jet 4, NotSupported for other Access formats,
// Corruption for anything else.
Status IdentifyFormat(const uint8_t* data, size_t size);

// Succeeds when the file has no password or `given` matches it.
Status CheckPassword(const DatabaseHeader& header, const std::u16string& given);

// Writes the header page of a new database: the fixed values Access writes
// (those of an empty database it made, see mdb/README.md), the code page,
// the sort order and the password.
struct NewHeader {
  uint16_t code_page = 1252;
  uint16_t sort_order = 1033;  // LCID; 1033 General, 2052 Chinese PRC
  std::u16string password;
};
Status BuildHeaderPage(const NewHeader& h, uint8_t* page);

// Rewrites the password field of page 0 in place (`page` is a full page
// image); an empty password clears it. At most 20 characters.
Status SetPassword(uint8_t* page, const std::u16string& password);

}  // namespace mdb
