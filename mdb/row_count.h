// A table's row count as its pages hold it. Access sometimes leaves the
// count in a table's definition stale; the first write to a table in a
// session counts the rows and puts the definition right.
#pragma once

#include <cstdint>

#include "mdb/pager.h"
#include "mdb/status.h"
#include "mdb/tdef.h"

namespace mdb {

// Live rows on the table's data pages (moved rows once).
Status CountLiveRows(Pager* pager, const TableDef& def, uint32_t* rows);

// Inside a write transaction: when the definition's count differs from the
// rows, writes the true count into the definition's first page and *def.
Status CorrectRowCount(Pager* pager, TableDef* def);

}  // namespace mdb
