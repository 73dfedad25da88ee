#include "mdb/fault_env.h"

#include <algorithm>
#include <vector>

namespace mdb {

struct FaultInjectionEnv::State {
  explicit State(Env* b) : base(b) {}
  Env* base;
  std::mutex mu;
  int counts[4] = {};
  int fail_at[4] = {};  // absolute count that fails; 0 none
  int crash_at = 0;     // absolute write count after which we crash; 0 none
  CrashMode mode = CrashMode::kDrop;
  bool lose_unsynced = false;
  int lose_oldest = 0;
  size_t torn_bytes = 0;
  bool crashed = false;
  std::set<FaultFile*> files;
};

// Remembers how to undo what was written since the last sync.
class FaultInjectionEnv::FaultFile : public File {
 public:
  FaultFile(std::shared_ptr<State> st, std::unique_ptr<File> base) : st_(std::move(st)), base_(std::move(base)) {
    std::lock_guard<std::mutex> l(st_->mu);
    st_->files.insert(this);
  }
  ~FaultFile() override {
    std::lock_guard<std::mutex> l(st_->mu);
    st_->files.erase(this);
  }

  Status Read(uint64_t offset, size_t n, void* out) override {
    {
      std::lock_guard<std::mutex> l(st_->mu);
      if (Hit(Op::kRead)) return Status::IOError("injected read error");
    }
    return base_->Read(offset, n, out);
  }

  Status Write(uint64_t offset, const void* data, size_t n) override {
    std::lock_guard<std::mutex> l(st_->mu);
    if (st_->crashed) return AfterCrash();
    if (Hit(Op::kWrite)) return Status::IOError("injected write error");
    const bool crash_now = st_->crash_at != 0 && st_->counts[int(Op::kWrite)] >= st_->crash_at;
    size_t len = n;
    if (crash_now && st_->torn_bytes != 0) len = std::min(n, st_->torn_bytes);
    MDB_RETURN_IF_ERROR(RememberWrite(offset, data, len));
    Status s = base_->Write(offset, data, len);
    if (crash_now) Crash();
    return s;
  }

  Status Size(uint64_t* size) override { return base_->Size(size); }

  Status Truncate(uint64_t size) override {
    std::lock_guard<std::mutex> l(st_->mu);
    if (st_->crashed) return AfterCrash();
    if (Hit(Op::kTruncate)) return Status::IOError("injected truncate error");
    if (!st_->lose_unsynced) return base_->Truncate(size);
    uint64_t old = 0;
    MDB_RETURN_IF_ERROR(base_->Size(&old));
    Undo u{size, std::string(), old, std::string(), true};
    if (size < old) {
      u.bytes.resize(old - size);
      MDB_RETURN_IF_ERROR(base_->Read(size, u.bytes.size(), u.bytes.data()));
    }
    undo_.push_back(std::move(u));
    return base_->Truncate(size);
  }

  Status Sync() override {
    std::lock_guard<std::mutex> l(st_->mu);
    if (st_->crashed) return AfterCrash();
    if (Hit(Op::kSync)) return Status::IOError("injected sync error");
    Status s = base_->Sync();
    if (s.ok()) undo_.clear();
    return s;
  }

  Status Lock(uint64_t offset, uint64_t length, bool exclusive) override {
    return base_->Lock(offset, length, exclusive);
  }
  Status Unlock(uint64_t offset, uint64_t length) override { return base_->Unlock(offset, length); }

  // Puts the file back as it was at the last sync, then, when only the
  // oldest operations are to be lost, replays the later ones.
  void LoseUnsynced() {
    for (auto it = undo_.rbegin(); it != undo_.rend(); ++it) {
      if (!it->bytes.empty()) base_->Write(it->offset, it->bytes.data(), it->bytes.size());
      base_->Truncate(it->old_size);
    }
    if (st_->lose_oldest > 0) {
      for (size_t i = static_cast<size_t>(st_->lose_oldest); i < undo_.size(); ++i) {
        const Undo& u = undo_[i];
        if (u.truncate) base_->Truncate(u.offset);
        else base_->Write(u.offset, u.data.data(), u.data.size());
      }
    }
    undo_.clear();
  }

 private:
  struct Undo {
    uint64_t offset;    // a truncate's new size
    std::string bytes;  // what lay at offset before, up to the old end
    uint64_t old_size;
    std::string data;   // what was written, to replay
    bool truncate = false;
  };

  // Counts the operation; true if it is the one to fail.
  bool Hit(Op op) {
    int& c = st_->counts[int(op)];
    ++c;
    return st_->fail_at[int(op)] != 0 && c == st_->fail_at[int(op)];
  }

  Status AfterCrash() {
    if (st_->mode == CrashMode::kFail) return Status::IOError("the process was cut off");
    return Status::OK();
  }

  void Crash() {
    st_->crashed = true;
    if (st_->lose_unsynced)
      for (FaultFile* f : st_->files) f->LoseUnsynced();
  }

  Status RememberWrite(uint64_t offset, const void* data, size_t n) {
    if (!st_->lose_unsynced) return Status::OK();
    uint64_t old = 0;
    MDB_RETURN_IF_ERROR(base_->Size(&old));
    Undo u{offset, std::string(), old, std::string(), false};
    if (st_->lose_oldest > 0) u.data.assign(static_cast<const char*>(data), n);
    if (offset < old) {
      u.bytes.resize(static_cast<size_t>(std::min<uint64_t>(n, old - offset)));
      MDB_RETURN_IF_ERROR(base_->Read(offset, u.bytes.size(), u.bytes.data()));
    }
    undo_.push_back(std::move(u));
    return Status::OK();
  }

  std::shared_ptr<State> st_;
  std::unique_ptr<File> base_;
  std::vector<Undo> undo_;
};

FaultInjectionEnv::FaultInjectionEnv(Env* base) : state_(std::make_shared<State>(base)) {}
FaultInjectionEnv::~FaultInjectionEnv() = default;

Status FaultInjectionEnv::OpenFile(const std::string& path, bool writable, std::unique_ptr<File>* out) {
  std::unique_ptr<File> f;
  MDB_RETURN_IF_ERROR(state_->base->OpenFile(path, writable, &f));
  out->reset(new FaultFile(state_, std::move(f)));
  return Status::OK();
}

Status FaultInjectionEnv::CreateFile(const std::string& path, std::unique_ptr<File>* out) {
  std::unique_ptr<File> f;
  MDB_RETURN_IF_ERROR(state_->base->CreateFile(path, &f));
  out->reset(new FaultFile(state_, std::move(f)));
  return Status::OK();
}

bool FaultInjectionEnv::FileExists(const std::string& path) { return state_->base->FileExists(path); }

Status FaultInjectionEnv::RenameNoReplace(const std::string& from, const std::string& to) {
  {
    std::lock_guard<std::mutex> l(state_->mu);
    if (state_->crashed)
      return state_->mode == CrashMode::kFail ? Status::IOError("the process was cut off") : Status::OK();
  }
  return state_->base->RenameNoReplace(from, to);
}

Status FaultInjectionEnv::RemoveFile(const std::string& path) {
  {
    std::lock_guard<std::mutex> l(state_->mu);
    if (state_->crashed)
      return state_->mode == CrashMode::kFail ? Status::IOError("the process was cut off") : Status::OK();
  }
  return state_->base->RemoveFile(path);
}
void FaultInjectionEnv::SleepMicros(int micros) { state_->base->SleepMicros(micros); }

void FaultInjectionEnv::FailNth(Op op, int n) {
  std::lock_guard<std::mutex> l(state_->mu);
  state_->fail_at[int(op)] = n == 0 ? 0 : state_->counts[int(op)] + n;
}

void FaultInjectionEnv::CrashAfterWrite(int n, CrashMode mode) {
  std::lock_guard<std::mutex> l(state_->mu);
  state_->crash_at = n == 0 ? 0 : state_->counts[int(Op::kWrite)] + n;
  state_->mode = mode;
}

void FaultInjectionEnv::set_lose_unsynced(bool on) {
  std::lock_guard<std::mutex> l(state_->mu);
  state_->lose_unsynced = on;
}

void FaultInjectionEnv::set_lose_oldest_unsynced(int n) {
  std::lock_guard<std::mutex> l(state_->mu);
  state_->lose_oldest = n;
  if (n > 0) state_->lose_unsynced = true;
}

void FaultInjectionEnv::set_torn_bytes(size_t bytes) {
  std::lock_guard<std::mutex> l(state_->mu);
  state_->torn_bytes = bytes;
}

int FaultInjectionEnv::count(Op op) const {
  std::lock_guard<std::mutex> l(state_->mu);
  return state_->counts[int(op)];
}

bool FaultInjectionEnv::crashed() const {
  std::lock_guard<std::mutex> l(state_->mu);
  return state_->crashed;
}

void FaultInjectionEnv::ResetCounters() {
  std::lock_guard<std::mutex> l(state_->mu);
  for (int i = 0; i < 4; ++i) state_->counts[i] = state_->fail_at[i] = 0;
  state_->crash_at = 0;
  state_->crashed = false;
}

}  // namespace mdb
