// Verifies a whole file.
#include "mdb/database_impl.h"

namespace mdb {

Status DatabaseImpl::Check(std::vector<std::string>* faults) {
  return Status::NotSupported("checking files is not implemented yet");
}

}  // namespace mdb
