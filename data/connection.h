// Where the program's database lives and how it is opened.
#pragma once

#include "runtime/value.h"

namespace data {

// Joined to the run directory, which has no trailing backslash.
extern const char kDatabaseFileName[];  // "\access.mdb"
extern const char kDatabasePassword[];  // "580274"

}  // namespace data
