// Pages of an encoded database ("encode database" in Access): every page
// but the header is RC4-enciphered with a key made of the database key in
// the header XOR the page number. The engine reads and writes such a file
// through this pager, which deciphers what it hands out and enciphers what
// it stages, so the file stays encoded.
#pragma once

#include <cstdint>
#include <memory>

#include "mdb/pager.h"

namespace mdb {

std::unique_ptr<Pager> NewEncodedPager(std::unique_ptr<Pager> file_pager, uint32_t db_key);

// Enciphers or deciphers (the same operation) one page image in place.
void CipherPage(uint32_t db_key, uint32_t page, uint8_t* data);

}  // namespace mdb
