// An Env for tests that wraps another one and injects faults: an I/O error
// on the n-th read, write, sync or truncate, or a crash after the n-th write
// from which on nothing reaches the file, optionally losing what was not
// synced yet as a power cut would, whole writes or any subset of their
// 512-byte sectors.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "mdb/env.h"

namespace mdb {

class FaultInjectionEnv : public Env {
 public:
  enum class Op { kRead = 0, kWrite, kSync, kTruncate };
  enum class CrashMode {
    kDrop,  // later writes, syncs and truncates report success and do nothing
    kFail,  // they fail with an IOError
  };
  static constexpr size_t kSector = 512;

  explicit FaultInjectionEnv(Env* base);
  ~FaultInjectionEnv() override;

  Status OpenFile(const std::string& path, bool writable, std::unique_ptr<File>* out) override;
  Status CreateFile(const std::string& path, std::unique_ptr<File>* out) override;
  Status OpenOrCreateFile(const std::string& path, std::unique_ptr<File>* out, bool* created) override;
  bool FileExists(const std::string& path) override;
  // After a crash these do nothing (kDrop) or fail (kFail), like writes.
  Status RenameNoReplace(const std::string& from, const std::string& to) override;
  Status RemoveFile(const std::string& path) override;
  void SleepMicros(int micros) override;
  std::string ComputerName() override;

  // The n-th operation of that kind from now on (1-based) fails with an
  // IOError and does nothing; 0 disarms.
  void FailNth(Op op, int n);
  // The n-th write from now on is the last one that reaches the file.
  void CrashAfterWrite(int n, CrashMode mode = CrashMode::kDrop);
  // At the crash, undo every write and truncate not yet synced.
  void set_lose_unsynced(bool on);
  // At the crash, undo only the oldest n writes and truncates not yet
  // synced; the later ones reached the disk first, as a disk that reorders
  // writes may leave them. 0: as set_lose_unsynced says.
  void set_lose_oldest_unsynced(int n);
  // At the crash, each write not yet synced keeps a pseudo-random subset of
  // its 512-byte sectors (chosen by seed; 0: off), the rest is undone: what a
  // disk may have persisted of them when the power went.
  void set_lose_unsynced_sectors(uint64_t seed);
  // The crashing write lands only in part: its first `bytes` bytes (0: all).
  void set_torn_bytes(size_t bytes);
  // The crashing write lands only a pseudo-random subset of its 512-byte
  // sectors, chosen by seed (0: off); overrides set_torn_bytes.
  void set_torn_sectors(uint64_t seed);
  // Runs `hook` just before the n-th write from now on (1-based), on the
  // writing thread: a test can act while a process is between two writes.
  void BeforeWrite(int n, std::function<void()> hook);
  // Opening a file for writing fails with ReadOnly, as when another program
  // holds it exclusively or the user may only read it.
  void set_refuse_writable_opens(bool on);

  // Operations seen since the last ResetCounters (failed ones included).
  int count(Op op) const;
  bool crashed() const;
  // Zeroes the counters and disarms every fault; a crash is over.
  void ResetCounters();

  // Whether sector k of write number w is kept under seed (tests use it to
  // tell which subsets a seed produced).
  static bool Keeps(uint64_t seed, uint64_t w, uint64_t k);

 private:
  class FaultFile;
  struct State;
  friend class FaultFile;
  Status Wrap(std::unique_ptr<File> f, std::unique_ptr<File>* out);
  std::shared_ptr<State> state_;
};

}  // namespace mdb
