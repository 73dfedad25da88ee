// Who still claims a page. The free-page map is one bit per page, and a
// wrong bit must never hand a live page to a second owner: before a listed
// page is reused, its kind and owner are checked against the maps of the
// object it names (and, for pages that name no table, against every map).
#pragma once

#include <cstdint>
#include <string>

#include "mdb/pager.h"
#include "mdb/status.h"

namespace mdb {

// *owner gets a description of what still uses page `page` ("table [X]",
// "the long values of table [X]", ...), or stays empty when nothing does.
Status FindPageClaim(Pager* pager, uint32_t page, std::string* owner);

}  // namespace mdb
