// The lock file that Jet keeps beside a database opened shared (NAME.ldb for
// NAME.mdb): one 64-byte entry per user with the computer's and the user's
// names, and the byte-range locks past its end by which users see one
// another. This engine joins it as Jet does, so Access sees it as a user,
// and adds locks of its own far from Jet's. mdb/README.md describes both.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "mdb/env.h"
#include "mdb/status.h"

namespace mdb {

namespace lockfile {
// Jet's: a user holds slot i (1..255) with an exclusive lock on one byte;
// slot 0 is the exclusive opener's. Entry i lies at (i - 1) * 64.
constexpr uint64_t kUserLockBase = 0x10000000;
constexpr int kSlots = 255;
constexpr size_t kEntrySize = 64;
constexpr size_t kNameSize = 32;
// This engine's, past any range Jet uses: slot i's holder is this engine
// while it holds kEngineMarkBase + i.
constexpr uint64_t kEngineMarkBase = 0xF0000000;
constexpr uint64_t kWriterByte = 0xF0000100;      // exclusive: the one writer of this engine
constexpr uint64_t kReaderMarkByte = 0xF0000101;  // shared: readers; exclusive: a journal restart
// Held while this engine locks free slots, so that it never takes another
// of its own opens' locks for a program's.
constexpr uint64_t kProbeByte = 0xF0000102;
}  // namespace lockfile

// NAME.ldb for NAME.mdb (any extension is replaced, none is added to).
std::string LockFilePath(const std::string& db_path);

class LockFile {
 public:
  struct Options {
    std::string user_name = "Admin";  // Jet's name for a user without a workgroup
    int join_timeout_ms = 10000;      // while writers keep every free slot locked
  };
  // Another program's entry.
  struct User {
    int slot = 0;
    std::string computer, name;
    std::string Describe() const;
  };

  // Opens the lock file, creating it when missing, and takes the first free
  // slot, writing this computer's and the user's names into its entry.
  // ReadOnly when the file cannot be created or written (a read-only folder).
  static Status Join(Env* env, const std::string& db_path, const Options& options, std::unique_ptr<LockFile>* out);
  // Opens an existing lock file without joining (nothing to write): the
  // journal and the other users stay visible. NotFound when there is none.
  static Status Watch(Env* env, const std::string& db_path, std::unique_ptr<LockFile>* out);

  // Leaves: gives the slot back and removes the file when nobody else uses it.
  ~LockFile();

  File* file() const { return file_.get(); }
  const std::string& path() const { return path_; }
  bool joined() const { return slot_ != 0; }
  int slot() const { return slot_; }

  // Locks every free user slot, so that no program can join until
  // UnblockJoins. When a program that is not this engine holds a slot,
  // nothing stays locked and *foreign tells who (found = true).
  Status BlockJoins(User* foreign, bool* found);
  void UnblockJoins();
  bool blocking() const { return probing_; }
  // The file stays when this open leaves: its journal still matters.
  void KeepFile() { keep_ = true; }

 private:
  // True when no other open of the database holds a slot (this engine's
  // or another program's); then the slots stay locked until the file is
  // closed.
  bool AloneForRemoval();
  LockFile(Env* env, std::string path, std::unique_ptr<File> file) : env_(env), path_(std::move(path)), file_(std::move(file)) {}
  Status TakeSlot(const Options& options, bool* taken);
  Status ReadEntry(int slot, User* user);

  struct Range {
    int first = 0, last = 0;
  };
  // Locks the slots [first, last] that are free, in as few ranges as it can;
  // appends the slots others hold to *held.
  Status LockFree(int first, int last, std::vector<Range>* locked, std::vector<int>* held);
  void UnlockAll(std::vector<Range>* locked);
  // With the probe byte held: locks the free slots and looks at the held ones.
  Status Probe(User* foreign, bool* found);

  Env* env_;
  std::string path_;
  std::unique_ptr<File> file_;
  int slot_ = 0;
  std::vector<Range> blocked_;
  bool probing_ = false;
  bool keep_ = false;
};

}  // namespace mdb
