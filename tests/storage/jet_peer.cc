#include "jet_peer.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "mdb/pager.h"

namespace storage_test {

namespace {
constexpr uint64_t kUserLocks = 0x10000000;
constexpr int kUsers = 255;
}  // namespace

mdb::Status JetPeer::Open(mdb::Env* env, const std::string& path, std::unique_ptr<JetPeer>* out,
                          int join_timeout_ms, const std::string& computer) {
  std::unique_ptr<JetPeer> p(new JetPeer);
  p->env_ = env;
  p->path_ = path;
  const size_t dot = path.rfind('.');
  p->ldb_path_ = (dot == std::string::npos ? path : path.substr(0, dot)) + ".ldb";
  bool created = false;
  MDB_RETURN_IF_ERROR(env->OpenOrCreateFile(p->ldb_path_, &p->ldb_, &created));
  // The first free user lock, retried for a while: Jet retries too.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(join_timeout_ms);
  while (p->slot_ == 0) {
    for (int i = 1; i <= kUsers && p->slot_ == 0; ++i)
      if (p->ldb_->Lock(kUserLocks + i, 1, true).ok()) p->slot_ = i;
    if (p->slot_ == 0) {
      if (std::chrono::steady_clock::now() > deadline) return mdb::Status::Busy("no free user slot in " + p->ldb_path_);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  uint8_t entry[64] = {};
  memcpy(entry, computer.data(), std::min<size_t>(computer.size(), 31));
  memcpy(entry + 32, "Admin", 5);
  MDB_RETURN_IF_ERROR(p->ldb_->Write(uint64_t(p->slot_ - 1) * 64, entry, sizeof entry));

  mdb::OpenOptions o;
  o.password = u"580274";
  mdb::PagerOptions direct;
  direct.direct = true;
  MDB_RETURN_IF_ERROR(mdb::DatabaseImpl::Open(env, path, o, direct, &p->db_));
  *out = std::move(p);
  return mdb::Status::OK();
}

JetPeer::~JetPeer() {
  db_.reset();
  if (!ldb_) return;
  ldb_->Unlock(kUserLocks + slot_, 1);
  // The last user out removes the lock file.
  if (ldb_->Lock(kUserLocks, kUsers + 1, true).ok()) {
    mdb::Status s = env_->RemoveFile(ldb_path_);
    ldb_.reset();
    if (s.code() == mdb::Status::Code::kBusy) env_->RemoveFile(ldb_path_);  // Windows: once closed
  }
}

mdb::Status JetPeer::AppendLoosePage(uint8_t fill) {
  std::unique_ptr<mdb::File> f;
  MDB_RETURN_IF_ERROR(env_->OpenFile(path_, true, &f));
  uint64_t size = 0;
  MDB_RETURN_IF_ERROR(f->Size(&size));
  size -= size % mdb::Pager::kPageSize;  // a torn last page counts as none
  std::string page(mdb::Pager::kPageSize, static_cast<char>(fill));
  page[0] = 0x01;  // a data page
  page[1] = 0x01;
  MDB_RETURN_IF_ERROR(f->Write(size, page.data(), page.size()));
  return f->Sync();
}

}  // namespace storage_test
