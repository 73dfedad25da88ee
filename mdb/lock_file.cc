#include "mdb/lock_file.h"

#include <chrono>
#include <cstring>

namespace mdb {

using namespace lockfile;

std::string LockFilePath(const std::string& db_path) {
  const size_t sep = db_path.find_last_of("/\\");
  const size_t dot = db_path.rfind('.');
  if (dot == std::string::npos || (sep != std::string::npos && dot < sep) || dot == sep + 1) return db_path + ".ldb";
  return db_path.substr(0, dot) + ".ldb";
}

std::string LockFile::User::Describe() const {
  std::string who = computer.empty() ? "an unknown computer" : computer;
  if (!name.empty()) who += ", user " + name;
  return who;
}

namespace {

void PutName(const std::string& name, uint8_t* out) {
  memset(out, 0, kNameSize);
  memcpy(out, name.data(), std::min(name.size(), kNameSize - 1));
}

std::string GetName(const uint8_t* in) {
  size_t n = 0;
  while (n < kNameSize && in[n] != 0) ++n;
  std::string s(reinterpret_cast<const char*>(in), n);
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

}  // namespace

Status LockFile::Join(Env* env, const std::string& db_path, const Options& options, std::unique_ptr<LockFile>* out) {
  out->reset();
  const std::string path = LockFilePath(db_path);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(options.join_timeout_ms);
  int sleep = 1000;
  for (;;) {
    std::unique_ptr<File> f;
    bool created = false;
    MDB_RETURN_IF_ERROR(env->OpenOrCreateFile(path, &f, &created));
    std::unique_ptr<LockFile> lf(new LockFile(env, path, std::move(f)));
    bool taken = false;
    MDB_RETURN_IF_ERROR(lf->TakeSlot(options, &taken));
    if (taken && lf->file_->IsNamed(path)) {
      *out = std::move(lf);
      return Status::OK();
    }
    // Either every slot was locked (writers keep free slots locked for a
    // moment) or the last user removed the file while we opened it.
    const bool removed = taken;
    lf->slot_ = 0;  // nothing to clean up in a file nobody names any more
    lf.reset();
    if (!removed) {
      if (std::chrono::steady_clock::now() >= deadline)
        return Status::Busy("cannot join " + path + ": all " + std::to_string(kSlots) +
                            " users' places are taken or locked");
      env->SleepMicros(sleep);
      if (sleep < 20000) sleep *= 2;
    }
  }
}

Status LockFile::Watch(Env* env, const std::string& db_path, std::unique_ptr<LockFile>* out) {
  out->reset();
  const std::string path = LockFilePath(db_path);
  std::unique_ptr<File> f;
  MDB_RETURN_IF_ERROR(env->OpenFile(path, false, &f));
  out->reset(new LockFile(env, path, std::move(f)));
  return Status::OK();
}

Status LockFile::TakeSlot(const Options& options, bool* taken) {
  *taken = false;
  uint8_t entry[kEntrySize];
  PutName(env_->ComputerName(), entry);
  PutName(options.user_name, entry + kNameSize);
  for (int i = 1; i <= kSlots; ++i) {
    // The mark first: a slot held without it is another program's.
    Status s = file_->Lock(kEngineMarkBase + i, 1, true);
    if (s.code() == Status::Code::kBusy) continue;
    MDB_RETURN_IF_ERROR(s);
    s = file_->Lock(kUserLockBase + i, 1, true);
    if (!s.ok()) {
      file_->Unlock(kEngineMarkBase + i, 1);
      if (s.code() == Status::Code::kBusy) continue;
      return s;
    }
    s = file_->Write(uint64_t(i - 1) * kEntrySize, entry, kEntrySize);
    if (!s.ok()) {
      file_->Unlock(kUserLockBase + i, 1);
      file_->Unlock(kEngineMarkBase + i, 1);
      return s;
    }
    slot_ = i;
    *taken = true;
    return Status::OK();
  }
  return Status::OK();
}

LockFile::~LockFile() {
  if (!file_) return;
  UnblockJoins();
  if (slot_ == 0 || keep_) return;
  if (AloneForRemoval() && file_->IsNamed(path_)) {
    // POSIX removes the name while the slots are locked: whoever opened
    // the file meanwhile finds it unnamed and makes a new one. Windows
    // refuses while any handle is open, ours too: it is tried again once
    // ours is closed, and fails if anyone else opened it meanwhile.
    Status s = env_->RemoveFile(path_);
    file_.reset();
    if (s.code() == Status::Code::kBusy) env_->RemoveFile(path_);
  }
}

Status LockFile::LockFree(int first, int last, std::vector<Range>* locked, std::vector<int>* held) {
  std::vector<Range> todo;
  if (first <= last) todo.push_back({first, last});
  while (!todo.empty()) {
    Range r = todo.back();
    todo.pop_back();
    Status s = file_->Lock(kUserLockBase + r.first, uint64_t(r.last - r.first + 1), true);
    if (s.ok()) {
      locked->push_back(r);
      continue;
    }
    if (s.code() != Status::Code::kBusy) return s;
    if (r.first == r.last) {
      held->push_back(r.first);
      continue;
    }
    const int mid = r.first + (r.last - r.first) / 2;
    todo.push_back({r.first, mid});
    todo.push_back({mid + 1, r.last});
  }
  return Status::OK();
}

void LockFile::UnlockAll(std::vector<Range>* locked) {
  for (const Range& r : *locked) file_->Unlock(kUserLockBase + r.first, uint64_t(r.last - r.first + 1));
  locked->clear();
}

Status LockFile::ReadEntry(int slot, User* user) {
  user->slot = slot;
  user->computer.clear();
  user->name.clear();
  if (slot < 1) return Status::OK();
  uint8_t entry[kEntrySize];
  uint64_t size = 0;
  if (!file_->Size(&size).ok() || size < uint64_t(slot) * kEntrySize) return Status::OK();
  if (!file_->Read(uint64_t(slot - 1) * kEntrySize, kEntrySize, entry).ok()) return Status::OK();
  user->computer = GetName(entry);
  user->name = GetName(entry + kNameSize);
  return Status::OK();
}

Status LockFile::BlockJoins(User* foreign, bool* found) {
  *found = false;
  UnblockJoins();
  // Waits only for another open of this engine that is probing too.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(2000);
  int sleep = 200;
  for (;;) {
    Status s = file_->Lock(kProbeByte, 1, true);
    if (s.ok()) break;
    if (s.code() != Status::Code::kBusy) return s;
    if (std::chrono::steady_clock::now() >= deadline) return Status::Busy("another user of " + path_ + " is busy");
    env_->SleepMicros(sleep);
    if (sleep < 5000) sleep *= 2;
  }
  probing_ = true;
  Status s = Probe(foreign, found);
  if (!s.ok() || *found) UnblockJoins();
  return s;
}

Status LockFile::Probe(User* foreign, bool* found) {
  std::vector<int> held;
  Status s = slot_ > 0 ? LockFree(0, slot_ - 1, &blocked_, &held) : LockFree(0, kSlots, &blocked_, &held);
  if (s.ok() && slot_ > 0) s = LockFree(slot_ + 1, kSlots, &blocked_, &held);
  MDB_RETURN_IF_ERROR(s);
  for (int h : held) {
    // This engine's opens hold their mark; another program holds none.
    Status m = file_->Lock(kEngineMarkBase + h, 1, false);
    if (m.code() == Status::Code::kBusy && h > 0) continue;
    if (m.ok()) file_->Unlock(kEngineMarkBase + h, 1);
    else if (m.code() != Status::Code::kBusy) return m;
    ReadEntry(h, foreign);
    *found = true;
    return Status::OK();
  }
  return Status::OK();
}

void LockFile::UnblockJoins() {
  UnlockAll(&blocked_);
  if (probing_) file_->Unlock(kProbeByte, 1);
  probing_ = false;
}

bool LockFile::AloneForRemoval() {
  User other;
  bool found = false;
  if (!BlockJoins(&other, &found).ok() || found) return false;
  // Every slot but ours locked by us: nobody else holds one.
  int locked = 0;
  for (const Range& r : blocked_) locked += r.last - r.first + 1;
  if (locked == kSlots + 1 - (slot_ > 0 ? 1 : 0)) return true;
  UnblockJoins();
  return false;
}

}  // namespace mdb
