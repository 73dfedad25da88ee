#include "data/connection.h"

namespace data {

const char kDatabaseFileName[] = "\\access.mdb";
const char kDatabasePassword[] = "580274";

}  // namespace data
