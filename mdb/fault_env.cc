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
  uint64_t lose_sectors_seed = 0;
  size_t torn_bytes = 0;
  uint64_t torn_sectors_seed = 0;
  bool refuse_writable = false;
  int hook_at = 0;
  std::function<void()> hook;
  bool crashed = false;
  uint64_t writes_ever = 0;  // numbers each write for the sector choices
  std::set<FaultFile*> files;
};

bool FaultInjectionEnv::Keeps(uint64_t seed, uint64_t w, uint64_t k) {
  // splitmix64 of the three: a fixed, well-mixed choice per sector.
  uint64_t x = seed * 0x9E3779B97F4A7C15ull ^ (w << 24) ^ k;
  x ^= x >> 30;
  x *= 0xBF58476D1CE4E5B9ull;
  x ^= x >> 27;
  x *= 0x94D049BB133111EBull;
  x ^= x >> 31;
  return (x & 1) != 0;
}

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
    std::unique_lock<std::mutex> l(st_->mu);
    if (st_->hook && st_->counts[int(Op::kWrite)] + 1 == st_->hook_at) {
      std::function<void()> hook = std::move(st_->hook);
      st_->hook = nullptr;
      l.unlock();
      hook();
      l.lock();
    }
    if (st_->crashed) return AfterCrash();
    if (Hit(Op::kWrite)) return Status::IOError("injected write error");
    const uint64_t number = ++st_->writes_ever;
    const bool crash_now = st_->crash_at != 0 && st_->counts[int(Op::kWrite)] >= st_->crash_at;
    const char* bytes = static_cast<const char*>(data);
    if (crash_now && st_->torn_sectors_seed != 0) {
      // Only some sectors land; each is written on its own.
      for (size_t k = 0; k * kSector < n; ++k) {
        if (!Keeps(st_->torn_sectors_seed, number, k)) continue;
        const size_t len = std::min(kSector, n - k * kSector);
        MDB_RETURN_IF_ERROR(RememberWrite(offset + k * kSector, bytes + k * kSector, len, number));
        MDB_RETURN_IF_ERROR(base_->Write(offset + k * kSector, bytes + k * kSector, len));
      }
      Crash();
      return Status::OK();
    }
    size_t len = n;
    if (crash_now && st_->torn_bytes != 0) len = std::min(n, st_->torn_bytes);
    MDB_RETURN_IF_ERROR(RememberWrite(offset, data, len, number));
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
    Undo u;
    u.offset = size;
    u.old_size = old;
    u.truncate = true;
    u.number = ++st_->writes_ever;
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
  bool IsNamed(const std::string& path) override { return base_->IsNamed(path); }

  // Puts the file back as it was at the last sync, then replays what the
  // chosen kind of power cut keeps: the later writes, or some sectors of each.
  void LoseUnsynced() {
    for (auto it = undo_.rbegin(); it != undo_.rend(); ++it) {
      if (!it->bytes.empty()) base_->Write(it->offset, it->bytes.data(), it->bytes.size());
      base_->Truncate(it->old_size);
    }
    for (size_t i = 0; i < undo_.size(); ++i) {
      const Undo& u = undo_[i];
      if (st_->lose_sectors_seed != 0) {
        if (u.truncate) {
          if (Keeps(st_->lose_sectors_seed, u.number, 0)) base_->Truncate(u.offset);
          continue;
        }
        for (size_t k = 0; k * kSector < u.data.size(); ++k) {
          if (!Keeps(st_->lose_sectors_seed, u.number, k)) continue;
          const size_t len = std::min(kSector, u.data.size() - k * kSector);
          base_->Write(u.offset + k * kSector, u.data.data() + k * kSector, len);
        }
      } else if (st_->lose_oldest > 0 && i >= static_cast<size_t>(st_->lose_oldest)) {
        if (u.truncate) base_->Truncate(u.offset);
        else base_->Write(u.offset, u.data.data(), u.data.size());
      }
    }
    undo_.clear();
  }

 private:
  struct Undo {
    uint64_t offset = 0;  // a truncate's new size
    std::string bytes;    // what lay at offset before, up to the old end
    uint64_t old_size = 0;
    std::string data;     // what was written, to replay
    bool truncate = false;
    uint64_t number = 0;
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

  Status RememberWrite(uint64_t offset, const void* data, size_t n, uint64_t number) {
    if (!st_->lose_unsynced) return Status::OK();
    uint64_t old = 0;
    MDB_RETURN_IF_ERROR(base_->Size(&old));
    Undo u;
    u.offset = offset;
    u.old_size = old;
    u.number = number;
    u.data.assign(static_cast<const char*>(data), n);
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

Status FaultInjectionEnv::Wrap(std::unique_ptr<File> f, std::unique_ptr<File>* out) {
  out->reset(new FaultFile(state_, std::move(f)));
  return Status::OK();
}

Status FaultInjectionEnv::OpenFile(const std::string& path, bool writable, std::unique_ptr<File>* out) {
  {
    std::lock_guard<std::mutex> l(state_->mu);
    if (writable && state_->refuse_writable && state_->base->FileExists(path))
      return Status::ReadOnly(path + " is held by another program (injected)");
  }
  std::unique_ptr<File> f;
  MDB_RETURN_IF_ERROR(state_->base->OpenFile(path, writable, &f));
  return Wrap(std::move(f), out);
}

Status FaultInjectionEnv::CreateFile(const std::string& path, std::unique_ptr<File>* out) {
  std::unique_ptr<File> f;
  MDB_RETURN_IF_ERROR(state_->base->CreateFile(path, &f));
  return Wrap(std::move(f), out);
}

Status FaultInjectionEnv::OpenOrCreateFile(const std::string& path, std::unique_ptr<File>* out, bool* created) {
  {
    std::lock_guard<std::mutex> l(state_->mu);
    if (state_->refuse_writable) {
      *created = false;
      return Status::ReadOnly(path + " cannot be written (injected)");
    }
  }
  std::unique_ptr<File> f;
  MDB_RETURN_IF_ERROR(state_->base->OpenOrCreateFile(path, &f, created));
  return Wrap(std::move(f), out);
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
std::string FaultInjectionEnv::ComputerName() { return state_->base->ComputerName(); }

void FaultInjectionEnv::FailNth(Op op, int n) {
  std::lock_guard<std::mutex> l(state_->mu);
  state_->fail_at[int(op)] = n == 0 ? 0 : state_->counts[int(op)] + n;
}

void FaultInjectionEnv::CrashAfterWrite(int n, CrashMode mode) {
  std::lock_guard<std::mutex> l(state_->mu);
  state_->crash_at = n == 0 ? 0 : state_->counts[int(Op::kWrite)] + n;
  state_->mode = mode;
}

void FaultInjectionEnv::BeforeWrite(int n, std::function<void()> hook) {
  std::lock_guard<std::mutex> l(state_->mu);
  state_->hook_at = state_->counts[int(Op::kWrite)] + n;
  state_->hook = std::move(hook);
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

void FaultInjectionEnv::set_lose_unsynced_sectors(uint64_t seed) {
  std::lock_guard<std::mutex> l(state_->mu);
  state_->lose_sectors_seed = seed;
  if (seed != 0) state_->lose_unsynced = true;
}

void FaultInjectionEnv::set_torn_bytes(size_t bytes) {
  std::lock_guard<std::mutex> l(state_->mu);
  state_->torn_bytes = bytes;
}

void FaultInjectionEnv::set_torn_sectors(uint64_t seed) {
  std::lock_guard<std::mutex> l(state_->mu);
  state_->torn_sectors_seed = seed;
}

void FaultInjectionEnv::set_refuse_writable_opens(bool on) {
  std::lock_guard<std::mutex> l(state_->mu);
  state_->refuse_writable = on;
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
