// The checker's comparison of an index's stored keys with its rows' keys
// (check.cc walks the tables and the trees; this file judges the keys).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "mdb/index.h"
#include "mdb/mdb.h"
#include "mdb/tdef.h"

namespace mdb {

// Every row must have exactly one entry (none when the index ignores nulls
// and the row's key is null) and every entry a row. Where the
// row's key can be made (the column kinds and the sort order's keys are
// known) the stored key must equal it, or the other form Access has been
// seen to write (index_key.h); elsewhere only the row pointers are compared.
// `iname` names the index in the faults appended.
void CheckIndexKeys(const TableDef& def, const RealIndexDef& index, const std::vector<IndexEntry>& entries,
                    const std::vector<std::pair<RowId, std::vector<Value>>>& rows, const std::string& iname,
                    std::vector<std::string>* faults);

}  // namespace mdb
