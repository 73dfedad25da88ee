// Writes to a table and index seeks.
#include "mdb/table_impl.h"

namespace mdb {

Status TableImpl::Insert(const std::vector<Value>& values, RowId* id, int64_t* autonumber) {
  return Status::NotSupported("inserting rows is not implemented yet");
}

Status TableImpl::Update(RowId id, const std::vector<std::pair<int, Value>>& changes, RowId* moved_to) {
  return Status::NotSupported("updating rows is not implemented yet");
}

Status TableImpl::Delete(RowId id) {
  return Status::NotSupported("deleting rows is not implemented yet");
}

Status TableImpl::Seek(int index, const std::vector<Value>& key, std::unique_ptr<Cursor>* out) {
  return Status::NotSupported("index seeks are not implemented yet");
}

}  // namespace mdb
