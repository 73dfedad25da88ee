#include "mdb/database_impl.h"

#include "mdb/jet4.h"
#include "mdb/page_cipher.h"
#include "mdb/table_impl.h"
#include "mdb/tdef.h"

namespace mdb {

namespace {

Status SniffFormat(Env* env, const std::string& path) {
  std::unique_ptr<File> file;
  uint64_t size = 0;
  if (!env->OpenFile(path, false, &file).ok() || !file->Size(&size).ok()) return Status::OK();
  uint8_t head[32];
  size_t n = size < sizeof head ? size_t(size) : sizeof head;
  if (!file->Read(0, n, head).ok()) return Status::OK();
  Status s = IdentifyFormat(head, n);
  return s.code() == Status::Code::kNotSupported ? s : Status::OK();
}

}  // namespace

Status Database::Open(Env* env, const std::string& path, const OpenOptions& options,
                      std::unique_ptr<Database>* out) {
  return DatabaseImpl::Open(env, path, options, PagerOptions(), out);
}

Status DatabaseImpl::Open(Env* env, const std::string& path, const OpenOptions& options,
                          const PagerOptions& pager_options, std::unique_ptr<Database>* out) {
  std::unique_ptr<Pager> pager;
  bool read_only = options.read_only;
  std::string reason;
  Status s = Pager::Open(env, path, !read_only, pager_options, &pager);
  if (s.IsReadOnly() && !read_only) {
    // A file this user may only read, or that another program holds
    // exclusively: it opens for reading, and every write says why not.
    PagerOptions ro = pager_options;
    reason = ro.read_only_reason = path + " can only be read: " + s.message();
    read_only = true;
    s = Pager::Open(env, path, false, ro, &pager);
  }
  if (s.IsCorruption()) {
    // Another Access format fails the page checks; say which one it is.
    Status format = SniffFormat(env, path);
    if (!format.ok()) return format;
  }
  MDB_RETURN_IF_ERROR(s);
  auto db = std::make_unique<DatabaseImpl>(env, path, std::move(pager), read_only, reason);
  MDB_RETURN_IF_ERROR(db->Load(options));
  *out = std::move(db);
  return Status::OK();
}

DatabaseImpl::DatabaseImpl(Env* env, std::string path, std::unique_ptr<Pager> pager, bool read_only,
                           std::string read_only_reason)
    : env_(env), path_(std::move(path)), pager_(std::move(pager)), read_only_(read_only),
      read_only_reason_(std::move(read_only_reason)) {}

DatabaseImpl::~DatabaseImpl() {
  if (in_transaction_) pager_->Rollback();
}

Status DatabaseImpl::Load(const OpenOptions& options) {
  MDB_RETURN_IF_ERROR(pager_->BeginRead());
  Status s = [&]() -> Status {
    if (pager_->page_count() < 3) return Status::Corruption("file too short to hold a database");
    const uint8_t* page0;
    MDB_RETURN_IF_ERROR(pager_->Get(0, &page0));
    MDB_RETURN_IF_ERROR(ParseHeader(page0, jet4::kPageSize, &header_));
    return CheckPassword(header_, options.password);
  }();
  pager_->EndRead();
  MDB_RETURN_IF_ERROR(s);
  // An encoded database is read and written through its page cipher.
  if (header_.db_key != 0) pager_ = NewEncodedPager(std::move(pager_), header_.db_key);
  MDB_RETURN_IF_ERROR(pager_->BeginRead());
  s = Catalog::Load(pager_.get(), &catalog_);
  pager_->EndRead();
  return s;
}

Status DatabaseImpl::ReloadCatalog() {
  MDB_RETURN_IF_ERROR(pager_->BeginRead());
  Catalog c;
  Status s = Catalog::Load(pager_.get(), &c);
  pager_->EndRead();
  if (s.ok()) catalog_ = std::move(c);
  return s;
}

Status DatabaseImpl::ListTables(std::vector<std::u16string>* names) {
  MDB_RETURN_IF_ERROR(ReloadCatalog());
  *names = catalog_.UserTables();
  return Status::OK();
}

Status DatabaseImpl::OpenTableAt(uint32_t tdef_page, std::unique_ptr<TableImpl>* out) {
  std::u16string name;
  for (const CatalogEntry& e : catalog_.entries())
    if (e.is_table() && e.tdef_page() == tdef_page) name = e.name;
  TableDef def;
  MDB_RETURN_IF_ERROR(pager_->BeginRead());
  Status s = ReadTableDef(pager_.get(), tdef_page, &def);
  pager_->EndRead();
  MDB_RETURN_IF_ERROR(s);
  *out = std::make_unique<TableImpl>(this, std::move(name), std::move(def));
  return Status::OK();
}

Status DatabaseImpl::OpenTableImpl(const std::u16string& name, std::unique_ptr<TableImpl>* out) {
  const CatalogEntry* e = catalog_.FindTable(name);
  if (e == nullptr) {
    // Another process may have added it since the catalog was read.
    MDB_RETURN_IF_ERROR(ReloadCatalog());
    e = catalog_.FindTable(name);
  }
  if (e == nullptr) return Status::NotFound("no such table");
  if (e->type != CatalogEntry::kTypeTable) return Status::NotSupported("a linked table; open its own file");
  uint32_t page = e->tdef_page();
  std::unique_ptr<TableImpl> t;
  MDB_RETURN_IF_ERROR(OpenTableAt(page, &t));
  *out = std::move(t);
  return Status::OK();
}

Status DatabaseImpl::OpenTable(const std::u16string& name, std::unique_ptr<Table>* out) {
  std::unique_ptr<TableImpl> t;
  MDB_RETURN_IF_ERROR(OpenTableImpl(name, &t));
  *out = std::move(t);
  return Status::OK();
}

Status DatabaseImpl::Begin() {
  if (read_only_) return read_only_status();
  if (in_transaction_) return Status::InvalidArgument("a transaction is already open");
  MDB_RETURN_IF_ERROR(pager_->BeginWrite());
  in_transaction_ = true;
  return Status::OK();
}

Status DatabaseImpl::Commit() {
  if (!in_transaction_) return Status::InvalidArgument("no transaction is open");
  in_transaction_ = false;
  return pager_->Commit();
}

void DatabaseImpl::Rollback() {
  if (!in_transaction_) return;
  in_transaction_ = false;
  pager_->Rollback();
}

Status DatabaseImpl::BeginRead() { return pager_->BeginRead(); }
void DatabaseImpl::EndRead() { pager_->EndRead(); }

}  // namespace mdb
