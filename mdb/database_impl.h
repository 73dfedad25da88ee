// The database object: the pager, the header and the catalog of one file.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "mdb/catalog.h"
#include "mdb/header.h"
#include "mdb/mdb.h"
#include "mdb/pager.h"

namespace mdb {

class TableImpl;

class DatabaseImpl : public Database {
 public:
  DatabaseImpl(Env* env, std::string path, std::unique_ptr<Pager> pager, bool read_only,
               std::string read_only_reason = std::string());
  ~DatabaseImpl() override;

  // Database::Open with the pager's options (a new file under a temporary
  // name opens direct; tests play other programs so).
  static Status Open(Env* env, const std::string& path, const OpenOptions& options,
                     const PagerOptions& pager_options, std::unique_ptr<Database>* out);

  // Reads the header (checking the password) and the catalog.
  Status Load(const OpenOptions& options);

  Status ListTables(std::vector<std::u16string>* names) override;
  Status OpenTable(const std::u16string& name, std::unique_ptr<Table>* out) override;
  Status Begin() override;
  Status Commit() override;
  void Rollback() override;
  Status BeginRead() override;
  void EndRead() override;
  using Database::Check;
  Status Check(std::vector<std::string>* faults, std::vector<std::string>* notes) override;  // check.cc

  // For the table layer and the writer.
  Env* env() const { return env_; }
  const std::string& path() const { return path_; }
  Pager* pager() const { return pager_.get(); }
  bool read_only() const { return read_only_; }
  // What a write gets when read_only(): why, when the file could not be opened for writing.
  Status read_only_status() const {
    return Status::ReadOnly(read_only_reason_.empty() ? path_ + " is open read-only" : read_only_reason_);
  }
  const DatabaseHeader& header() const { return header_; }
  const Catalog& catalog() const { return catalog_; }
  // Re-reads the catalog (after another process or a write changed it).
  Status ReloadCatalog();
  Status OpenTableImpl(const std::u16string& name, std::unique_ptr<TableImpl>* out);
  // Opens a table by its tdef page, e.g. the other side of a relationship.
  Status OpenTableAt(uint32_t tdef_page, std::unique_ptr<TableImpl>* out);
  // True while Begin() .. Commit()/Rollback() is open.
  bool in_transaction() const { return in_transaction_; }
  // True the first time it is asked for a table: its row count is then
  // verified by the write that asked (row_count.h).
  bool FirstWriteTo(uint32_t tdef_page) { return counted_.insert(tdef_page).second; }

 private:
  Env* env_;
  std::string path_;
  std::unique_ptr<Pager> pager_;
  bool read_only_;
  std::string read_only_reason_;
  bool in_transaction_ = false;
  std::set<uint32_t> counted_;
  DatabaseHeader header_;
  Catalog catalog_;
};

}  // namespace mdb
