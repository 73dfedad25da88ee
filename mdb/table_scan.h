// A cursor over a table's rows in storage order: the data pages its usage map
// lists, each row on them, deleted rows skipped and moved rows followed.
// Holds one page and one row at a time.
#pragma once

#include <memory>

#include "mdb/mdb.h"
#include "mdb/pager.h"
#include "mdb/tdef.h"

namespace mdb {

std::unique_ptr<Cursor> NewScanCursor(Pager* pager, const TableDef& def);

}  // namespace mdb
