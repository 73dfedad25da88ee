#include "mdb/mem_env.h"

#include <cstring>

namespace mdb {

struct MemEnv::Store {
  std::mutex mu;
  std::map<std::string, std::shared_ptr<std::string>> files;
};

namespace {

// Files past this size are refused, so a bad length cannot exhaust memory.
constexpr uint64_t kMaxFileSize = uint64_t(2) << 30;

class MemFile : public File {
 public:
  MemFile(std::shared_ptr<std::string> data, std::mutex* mu, bool writable)
      : data_(std::move(data)), mu_(mu), writable_(writable) {}

  Status Read(uint64_t offset, size_t n, void* out) override {
    std::lock_guard<std::mutex> l(*mu_);
    if (offset > data_->size() || n > data_->size() - offset) return Status::IOError("read past the end of the file");
    std::memcpy(out, data_->data() + offset, n);
    return Status::OK();
  }
  Status Write(uint64_t offset, const void* data, size_t n) override {
    if (!writable_) return Status::IOError("file opened read-only");
    std::lock_guard<std::mutex> l(*mu_);
    if (offset + n > kMaxFileSize) return Status::IOError("file too large");
    if (data_->size() < offset + n) data_->resize(offset + n);
    std::memcpy(data_->data() + offset, data, n);
    return Status::OK();
  }
  Status Size(uint64_t* size) override {
    std::lock_guard<std::mutex> l(*mu_);
    *size = data_->size();
    return Status::OK();
  }
  Status Truncate(uint64_t size) override {
    if (!writable_) return Status::IOError("file opened read-only");
    if (size > kMaxFileSize) return Status::IOError("file too large");
    std::lock_guard<std::mutex> l(*mu_);
    data_->resize(size);
    return Status::OK();
  }
  Status Sync() override { return Status::OK(); }
  Status Lock(uint64_t, uint64_t, bool) override { return Status::OK(); }
  Status Unlock(uint64_t, uint64_t) override { return Status::OK(); }

 private:
  std::shared_ptr<std::string> data_;
  std::mutex* mu_;
  bool writable_;
};

}  // namespace

MemEnv::MemEnv() : store_(std::make_shared<Store>()) {}
MemEnv::~MemEnv() = default;

Status MemEnv::OpenFile(const std::string& path, bool writable, std::unique_ptr<File>* out) {
  std::lock_guard<std::mutex> l(store_->mu);
  auto it = store_->files.find(path);
  if (it == store_->files.end()) return Status::NotFound(path + ": no such file");
  *out = std::make_unique<MemFile>(it->second, &store_->mu, writable);
  return Status::OK();
}

Status MemEnv::CreateFile(const std::string& path, std::unique_ptr<File>* out) {
  std::lock_guard<std::mutex> l(store_->mu);
  if (store_->files.count(path)) return Status::IOError(path + ": file exists");
  auto data = std::make_shared<std::string>();
  store_->files[path] = data;
  *out = std::make_unique<MemFile>(data, &store_->mu, true);
  return Status::OK();
}

Status MemEnv::OpenOrCreateFile(const std::string& path, std::unique_ptr<File>* out, bool* created) {
  std::lock_guard<std::mutex> l(store_->mu);
  auto& data = store_->files[path];
  *created = data == nullptr;
  if (!data) data = std::make_shared<std::string>();
  *out = std::make_unique<MemFile>(data, &store_->mu, true);
  return Status::OK();
}

bool MemEnv::FileExists(const std::string& path) {
  std::lock_guard<std::mutex> l(store_->mu);
  return store_->files.count(path) != 0;
}

Status MemEnv::RenameNoReplace(const std::string& from, const std::string& to) {
  std::lock_guard<std::mutex> l(store_->mu);
  auto it = store_->files.find(from);
  if (it == store_->files.end()) return Status::NotFound(from + ": no such file");
  if (store_->files.count(to)) return Status::IOError(to + ": file exists");
  store_->files[to] = it->second;
  store_->files.erase(from);
  return Status::OK();
}

Status MemEnv::RemoveFile(const std::string& path) {
  std::lock_guard<std::mutex> l(store_->mu);
  if (!store_->files.erase(path)) return Status::NotFound(path + ": no such file");
  return Status::OK();
}

void MemEnv::SetFile(const std::string& path, std::string contents) {
  std::lock_guard<std::mutex> l(store_->mu);
  store_->files[path] = std::make_shared<std::string>(std::move(contents));
}

std::string MemEnv::GetFile(const std::string& path) const {
  std::lock_guard<std::mutex> l(store_->mu);
  auto it = store_->files.find(path);
  return it == store_->files.end() ? std::string() : *it->second;
}

}  // namespace mdb
