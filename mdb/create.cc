// Creates a new file with the program's schema.
#include "mdb/mdb.h"

namespace mdb {

Status Database::Create(Env* env, const std::string& path, const CreateOptions& options) {
  return Status::NotSupported("creating files is not implemented yet");
}

}  // namespace mdb
