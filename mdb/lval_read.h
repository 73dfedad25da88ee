// Long values (memo, OLE, long binary): the 12-byte field in the row and the
// data it points to, inline, in one row of a long-value page, or in a chain.
#pragma once

#include <cstdint>
#include <string>

#include "mdb/pager.h"
#include "mdb/status.h"

namespace mdb {

// Largest long value the engine reads whole (the format allows up to 1 GB).
constexpr uint32_t kMaxLongValue = 256u << 20;

// Reads the long value whose 12-byte field is at `field` (`n` bytes of row).
Status ReadLongValue(Pager* pager, const uint8_t* field, size_t n, std::string* out);

}  // namespace mdb
