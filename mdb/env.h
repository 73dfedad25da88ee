// The file layer. Every byte the engine reads or writes goes through an Env,
// so tests can replace it to inject I/O errors and to cut a process off after
// the N-th write.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "mdb/status.h"

namespace mdb {

class File {
 public:
  virtual ~File() = default;
  // Reads exactly n bytes at offset; a short read is an IOError. A range
  // that another process has locked (Windows locks are mandatory) is Busy.
  virtual Status Read(uint64_t offset, size_t n, void* out) = 0;
  virtual Status Write(uint64_t offset, const void* data, size_t n) = 0;
  virtual Status Size(uint64_t* size) = 0;
  virtual Status Truncate(uint64_t size) = 0;
  // Durable when it returns.
  virtual Status Sync() = 0;
  // Byte-range locks on the file itself; ranges may lie past the end. They
  // belong to this open file, not to the process: two opens of one file
  // exclude each other even in one process. A lock that another open file
  // holds fails with Busy at once; callers retry. A range is unlocked as it
  // was locked.
  virtual Status Lock(uint64_t offset, uint64_t length, bool exclusive) = 0;
  virtual Status Unlock(uint64_t offset, uint64_t length) = 0;
  // False once `path` no longer names this open file (on POSIX a file can
  // be removed or replaced while it is open).
  virtual bool IsNamed(const std::string& path) { return true; }
};

// An Env outlives every File, Pager and Database made with it.
class Env {
 public:
  virtual ~Env() = default;
  // Paths are UTF-8. A file that exists but cannot be opened for writing
  // (permissions, read-only media, another program holding it exclusively)
  // fails with ReadOnly when writable is asked for.
  virtual Status OpenFile(const std::string& path, bool writable, std::unique_ptr<File>* out) = 0;
  virtual Status CreateFile(const std::string& path, std::unique_ptr<File>* out) = 0;  // fails if it exists
  // Opens a file for reading and writing, creating it when it is missing.
  virtual Status OpenOrCreateFile(const std::string& path, std::unique_ptr<File>* out, bool* created) = 0;
  virtual bool FileExists(const std::string& path) = 0;
  // Gives the file `from` the name `to` in one step, durably; fails and
  // changes nothing when `to` exists.
  virtual Status RenameNoReplace(const std::string& from, const std::string& to) = 0;
  // On Windows this fails while another program has the file open.
  virtual Status RemoveFile(const std::string& path) = 0;
  virtual void SleepMicros(int micros) = 0;
  // This computer's name as other programs show it (ASCII, at most 31 bytes).
  virtual std::string ComputerName() = 0;

  // The process-wide default (POSIX or Win32).
  static Env* Default();
};

}  // namespace mdb
