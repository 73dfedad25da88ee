// Page-level access to a database file: reads, staged writes, atomic and
// durable commits, recovery after a crash, and the locks that let several
// processes share the file. The format code above never touches a File.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "mdb/env.h"
#include "mdb/status.h"

namespace mdb {

struct PagerOptions {
  // How long a transaction waits for another process's lock before Busy.
  int busy_timeout_ms = 10000;
};

class Pager {
 public:
  static constexpr uint32_t kPageSize = 4096;  // Jet 4

  virtual ~Pager() = default;

  // Opens the file and, when writable, first rolls back a commit that a crash
  // interrupted. Fails cleanly on a file too short to hold a header page.
  static Status Open(Env* env, const std::string& path, bool writable, std::unique_ptr<Pager>* out);
  static Status Open(Env* env, const std::string& path, bool writable, const PagerOptions& options,
                     std::unique_ptr<Pager>* out);
  // Creates an empty file (failing if it exists) for a new database: the
  // pager starts with no pages; the first Commit writes them all at once.
  static Status Create(Env* env, const std::string& path, std::unique_ptr<Pager>* out);

  // A read transaction sees one committed state of the file: it holds a
  // shared lock, and pages read before another process's commit are never
  // used after it (the cache lives only inside a transaction). Nests.
  virtual Status BeginRead() = 0;
  virtual void EndRead() = 0;

  // A write transaction holds the exclusive lock (waiting a bounded time for
  // other processes, then Busy). Reads inside it see the staged pages.
  // Inside a read transaction it fails with Busy at once when another
  // writer is active (waiting could deadlock): end the read and retry.
  virtual Status BeginWrite() = 0;
  // Makes every staged page durable together, or none of them. Either way
  // the transaction is over; an error means none (Busy: other processes kept
  // reading past the busy timeout).
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
  // Stages a new image of an existing or appended page (write transaction).
  virtual Status Put(uint32_t page, const uint8_t* data) = 0;
  // Stages a zero-filled page past the current end; returns its number.
  virtual Status Append(uint32_t* page) = 0;
  // Pages in the file, staged appends included.
  virtual uint32_t page_count() const = 0;
};

}  // namespace mdb
