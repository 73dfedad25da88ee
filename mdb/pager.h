// Page-level access to a database file: reads, staged writes, atomic and
// durable commits, recovery after a crash, and the lock file through which
// this engine shares the file with other processes and with Access. The
// format code above never touches a File.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "mdb/env.h"
#include "mdb/status.h"

namespace mdb {

struct PagerOptions {
  // How long a write transaction waits for another writer of this engine.
  // Readers never make a writer wait, nor a writer a reader.
  int busy_timeout_ms = 10000;
  // No lock file and no journal: a commit writes its pages in place and
  // syncs once. For a file nobody else can see yet (a new database under a
  // temporary name), and for tests that play another program.
  bool direct = false;
  // The user name this engine shows other programs in the lock file.
  std::string user_name = "Admin";
  // Why the file is opened read-only, for the message of a refused write.
  std::string read_only_reason;
};

class Pager {
 public:
  static constexpr uint32_t kPageSize = 4096;  // Jet 4

  virtual ~Pager() = default;

  // Opens the file and joins its lock file, first finishing a commit that a
  // crash interrupted when it may write. Writable: ReadOnly when the file or
  // its lock file cannot be written (the caller may open it read-only).
  // Fails cleanly on a file too short to hold a header page.
  static Status Open(Env* env, const std::string& path, bool writable, std::unique_ptr<Pager>* out);
  static Status Open(Env* env, const std::string& path, bool writable, const PagerOptions& options,
                     std::unique_ptr<Pager>* out);
  // Creates an empty file (failing if it exists) for a new database, in
  // direct mode: the pager starts with no pages; the first Commit writes
  // them all at once.
  static Status Create(Env* env, const std::string& path, std::unique_ptr<Pager>* out);

  // A read transaction sees one committed state of the file, whatever this
  // engine commits meanwhile in other processes (their journal keeps the
  // pages as they were), and holds no lock that a writer waits for. Nests.
  virtual Status BeginRead() = 0;
  virtual void EndRead() = 0;

  // A write transaction: one at a time among this engine's users (waiting a
  // bounded time, then Busy), and none while another program (Access) has
  // the database open, since it does not read this engine's journal: then
  // Busy names it. Inside a read transaction the read moves on to the latest
  // state first. Reads inside it see the staged pages.
  virtual Status BeginWrite() = 0;
  // Makes every staged page durable together, or none of them. Either way
  // the transaction is over; an error means none.
  virtual Status Commit() = 0;
  virtual void Rollback() = 0;
  virtual bool in_write() const = 0;

  // Page bytes, valid until the transaction ends, the page is staged again or
  // someone calls TrimCache.
  // Outside any transaction Get runs in a read transaction of its own; the
  // bytes then stay valid until the next transaction begins.
  virtual Status Get(uint32_t page, const uint8_t** data) = 0;
  // Says that the caller holds no bytes from Get: in a long read transaction
  // (a record set walking a big table) the pager may then let cached pages go
  // to keep its memory bounded. Elsewhere it does nothing.
  virtual void TrimCache() = 0;
  // A hint that these pages (ascending) are wanted soon inside the current
  // transaction: they are read into the cache in as few reads as their runs
  // allow. Errors are left for the Get that follows to report.
  virtual void Prefetch(const uint32_t* pages, size_t n) = 0;
  // For a pass over many pages inside any transaction, a write included,
  // that must not leave them all cached: whether a page is cached (or staged)
  // now, and letting cached pages go again. Release only pages the pass
  // itself brought in, whose bytes nobody else can hold; staged pages stay.
  virtual bool Cached(uint32_t page) const = 0;
  virtual void Release(const uint32_t* pages, size_t n) = 0;
  // Stages a new image of an existing or appended page (write transaction).
  virtual Status Put(uint32_t page, const uint8_t* data) = 0;
  // Stages a zero-filled page past the current end; returns its number.
  virtual Status Append(uint32_t* page) = 0;
  // Pages in the file, staged appends included.
  virtual uint32_t page_count() const = 0;

  // What recovery left alone and why (empty when nothing).
  virtual std::vector<std::string> notes() const = 0;
};

}  // namespace mdb
