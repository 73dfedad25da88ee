// A second program that uses a database the way Access does, for the
// sharing tests. Written from Jet's published description of its lock file,
// not from this engine's code: it joins NAME.ldb by taking the first free
// user lock at 0x10000001 + n with its computer's and user's names in entry
// n, knows nothing of this engine's journal or locks, and writes changed
// pages straight into the file with one sync per commit. When it leaves as
// the last user it removes the lock file, as Jet does.
#pragma once

#include <memory>
#include <string>

#include "mdb/database_impl.h"
#include "mdb/env.h"

namespace storage_test {

class JetPeer {
 public:
  // Joins the lock file, then opens the database (password 580274 unless
  // given). Busy when every user slot stays locked.
  static mdb::Status Open(mdb::Env* env, const std::string& path, std::unique_ptr<JetPeer>* out,
                          int join_timeout_ms = 3000, const std::string& computer = "PEER-PC");
  ~JetPeer();

  mdb::DatabaseImpl* db() { return static_cast<mdb::DatabaseImpl*>(db_.get()); }
  int slot() const { return slot_; }

  // Appends one page that belongs to nothing yet, as a program extending the
  // file for a new page does before it links the page anywhere.
  mdb::Status AppendLoosePage(uint8_t fill);

 private:
  JetPeer() = default;
  mdb::Env* env_ = nullptr;
  std::string path_, ldb_path_;
  std::unique_ptr<mdb::File> ldb_;
  std::unique_ptr<mdb::Database> db_;
  int slot_ = 0;
};

}  // namespace storage_test
