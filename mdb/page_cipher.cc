#include "mdb/page_cipher.h"

#include <cstring>
#include <unordered_map>
#include <vector>

#include "mdb/jet4.h"
#include "mdb/rc4.h"

namespace mdb {

void CipherPage(uint32_t db_key, uint32_t page, uint8_t* data) {
  if (page == 0) return;  // the header has its own mask
  uint8_t key[4];
  jet4::Put32(key, db_key ^ page);
  Rc4Apply(key, sizeof key, data, jet4::kPageSize);
}

namespace {

// Deciphered pages live as long as the file pager's bytes would: until the
// transaction ends, the page is staged again or the cache is trimmed.
class EncodedPager : public Pager {
 public:
  EncodedPager(std::unique_ptr<Pager> inner, uint32_t key) : inner_(std::move(inner)), key_(key) {}

  Status BeginRead() override {
    if (!active()) plain_.clear();  // bytes of a Get outside a transaction
    MDB_RETURN_IF_ERROR(inner_->BeginRead());
    ++reads_;
    return Status::OK();
  }
  void EndRead() override {
    inner_->EndRead();
    if (reads_ > 0 && --reads_ == 0 && !inner_->in_write()) {
      plain_.clear();
      retired_.clear();
    }
  }
  // A write inside a read sees the latest state (the file pager moves the
  // read on): what was deciphered before goes, but stays valid until the
  // read ends.
  Status BeginWrite() override {
    Retire();
    return inner_->BeginWrite();
  }
  Status Commit() override {
    Retire();
    return inner_->Commit();
  }
  void Rollback() override {
    Retire();
    inner_->Rollback();
  }
  bool in_write() const override { return inner_->in_write(); }

  Status Get(uint32_t page, const uint8_t** data) override {
    auto it = plain_.find(page);
    if (it == plain_.end()) {
      const uint8_t* raw;
      MDB_RETURN_IF_ERROR(inner_->Get(page, &raw));
      auto buf = std::make_unique<uint8_t[]>(jet4::kPageSize);
      std::memcpy(buf.get(), raw, jet4::kPageSize);
      CipherPage(key_, page, buf.get());
      it = plain_.emplace(page, std::move(buf)).first;
    }
    *data = it->second.get();
    return Status::OK();
  }
  void TrimCache() override {
    plain_.clear();
    inner_->TrimCache();
  }
  void Prefetch(const uint32_t* pages, size_t n) override { inner_->Prefetch(pages, n); }
  bool Cached(uint32_t page) const override { return plain_.count(page) > 0; }
  void Release(const uint32_t* pages, size_t n) override {
    for (size_t i = 0; i < n; ++i) plain_.erase(pages[i]);
    inner_->Release(pages, n);
  }

  Status Put(uint32_t page, const uint8_t* data) override {
    plain_.erase(page);
    uint8_t buf[jet4::kPageSize];
    std::memcpy(buf, data, jet4::kPageSize);
    CipherPage(key_, page, buf);
    return inner_->Put(page, buf);
  }
  Status Append(uint32_t* page) override {
    MDB_RETURN_IF_ERROR(inner_->Append(page));
    // An appended page reads as zeros, like the file pager's.
    uint8_t zeros[jet4::kPageSize] = {};
    return Put(*page, zeros);
  }
  uint32_t page_count() const override { return inner_->page_count(); }
  std::vector<std::string> notes() const override { return inner_->notes(); }

 private:
  bool active() const { return reads_ > 0 || inner_->in_write(); }
  void Retire() {
    if (reads_ > 0)
      for (auto& [p, buf] : plain_) retired_.push_back(std::move(buf));
    plain_.clear();
  }

  std::unique_ptr<Pager> inner_;
  uint32_t key_;
  int reads_ = 0;
  std::unordered_map<uint32_t, std::unique_ptr<uint8_t[]>> plain_;
  std::vector<std::unique_ptr<uint8_t[]>> retired_;
};

}  // namespace

std::unique_ptr<Pager> NewEncodedPager(std::unique_ptr<Pager> file_pager, uint32_t db_key) {
  return std::make_unique<EncodedPager>(std::move(file_pager), db_key);
}

}  // namespace mdb
