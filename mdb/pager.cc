// The pager: transactions over the pages of one database file. The journal,
// the lock file and the protocol between users are described in
// mdb/README.md.
#include "mdb/pager.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <random>
#include <unordered_map>
#include <vector>

#include "mdb/crc32c.h"
#include "mdb/journal.h"
#include "mdb/legacy_journal.h"
#include "mdb/lock_file.h"

namespace mdb {
namespace {

using journal::kPageSize;
using Buffer = std::unique_ptr<uint8_t[]>;
using Clock = std::chrono::steady_clock;

Buffer NewPage() { return Buffer(new uint8_t[kPageSize]()); }

// Pages a read transaction keeps before TrimCache lets them go (4 MB).
constexpr size_t kCacheBudget = 1024;
// A miss just past the previous disk read counts as sequential and reads
// this many pages at once.
constexpr uint32_t kReadAhead = 16;
constexpr uint32_t kSequentialWindow = 8;
// How long closing waits for other writers to make the journal durable.
constexpr int kCloseWaitMs = 1000;
// A reader that meets a record still being written waits this long at most.
constexpr int kTornImageWaitMs = 2000;

// Writes runs of consecutive pages with one call each, at most 1 MB apiece.
class RunWriter {
 public:
  explicit RunWriter(File* f) : file_(f) {}
  Status Add(uint32_t page, const uint8_t* data) {
    if (!buf_.empty() && (page != first_ + count_ || count_ == kMaxRun)) MDB_RETURN_IF_ERROR(Flush());
    if (buf_.empty()) first_ = page, count_ = 0;
    buf_.append(reinterpret_cast<const char*>(data), kPageSize);
    ++count_;
    return Status::OK();
  }
  Status Flush() {
    if (buf_.empty()) return Status::OK();
    Status s = file_->Write(uint64_t(first_) * kPageSize, buf_.data(), buf_.size());
    buf_.clear();
    return s;
  }

 private:
  static constexpr uint32_t kMaxRun = 256;
  File* file_;
  std::string buf_;
  uint32_t first_ = 0, count_ = 0;
};

class PagerImpl : public Pager {
 public:
  PagerImpl(Env* env, std::unique_ptr<File> file, std::string path, bool writable, const PagerOptions& options,
            bool created)
      : env_(env), db_(std::move(file)), path_(std::move(path)), writable_(writable), options_(options),
        allow_empty_(created) {}

  ~PagerImpl() override {
    if (in_write_) EndWrite(false);
    nread_ = 0;
    EndSnapshot();
    Close();
  }

  Status Init() {
    if (!options_.direct) {
      LockFile::Options lo;
      lo.user_name = options_.user_name;
      lo.join_timeout_ms = options_.busy_timeout_ms;
      Status s = LockFile::Join(env_, path_, lo, &lock_);
      if (s.IsReadOnly()) {
        // Without a lock file nobody sees this engine, so it must not write.
        if (writable_) return Status::ReadOnly(path_ + ": " + s.message());
        s = LockFile::Watch(env_, path_, &lock_);
        if (s.IsNotFound()) s = Status::OK();
      }
      MDB_RETURN_IF_ERROR(s);
    }
    // A commit that a crash cut short: the first pager that may write
    // finishes it (or takes it back); one that may not reads around it.
    if (Journaled()) {
      MDB_RETURN_IF_ERROR(RefreshHeader());
      if (LastSeq() > header_.durable) {
        if (writable_) {
          MDB_RETURN_IF_ERROR(WaitWriter(options_.busy_timeout_ms));
          // A live writer may have finished meanwhile, and others written
          // after it: what was past `durable` then may be done and changed.
          Status s = RefreshHeader();
          if (s.ok() && LastSeq() > header_.durable) s = RecoverAfter(header_.durable);
          ReleaseWriter();
          MDB_RETURN_IF_ERROR(s);
        } else if (TryWriter()) {
          // No writer is there to have applied them: read them from the journal.
          suspect_until_ = LastSeq();
          ReleaseWriter();
        }
      }
    }
    MDB_RETURN_IF_ERROR(CheckLegacyTail());
    MDB_RETURN_IF_ERROR(BeginRead());
    EndRead();
    return Status::OK();
  }

  // ---- transactions --------------------------------------------------------

  Status BeginRead() override {
    if (nread_ > 0 || in_write_) {
      ++nread_;
      return Status::OK();
    }
    MDB_RETURN_IF_ERROR(StartSnapshot());
    ++nread_;
    return Status::OK();
  }

  void EndRead() override {
    if (nread_ == 0) return;
    if (--nread_ == 0 && !in_write_) EndSnapshot();
  }

  Status BeginWrite() override {
    if (in_write_) return Status::InvalidArgument("a write transaction is already open");
    if (!writable_)
      return Status::ReadOnly(options_.read_only_reason.empty() ? path_ + " is open read-only"
                                                                : options_.read_only_reason);
    if (options_.direct) {
      MDB_RETURN_IF_ERROR(broken_);
      if (nread_ == 0) MDB_RETURN_IF_ERROR(StartSnapshot());
      else MDB_RETURN_IF_ERROR(MoveToLatest());
      in_write_ = true;
      appended_ = 0;
      return Status::OK();
    }
    MDB_RETURN_IF_ERROR(WaitWriter(options_.busy_timeout_ms));
    Status s = Retract();
    if (!s.ok()) s = Status::IOError("the journal of " + path_ + " cannot be written: " + s.message());
    if (s.ok()) s = ExcludeOtherPrograms();
    if (s.ok()) s = nread_ == 0 ? StartSnapshot() : MoveToLatest();
    if (s.ok() && !broken_.ok()) {
      // A failed write or sync: the file may not hold what the journal says
      // until the journal is applied again.
      s = RecoverAfter(header_.durable);
      if (s.ok() && !broken_.ok()) s = broken_;
    }
    if (!s.ok()) {
      lock_->UnblockJoins();
      if (!RetractPending()) ReleaseWriter();
      if (nread_ == 0) EndSnapshot();
      return s;
    }
    in_write_ = true;
    appended_ = 0;
    return Status::OK();
  }

  Status Commit() override {
    if (!in_write_) return Status::InvalidArgument("no write transaction is open");
    if (staged_.empty()) {
      EndWrite(false);
      return Status::OK();
    }
    Status s = options_.direct ? CommitDirect() : CommitJournaled();
    EndWrite(s.ok());
    return s;
  }

  void Rollback() override {
    if (in_write_) EndWrite(false);
  }

  bool in_write() const override { return in_write_; }

  // ---- pages ---------------------------------------------------------------

  Status Get(uint32_t page, const uint8_t** data) override {
    *data = nullptr;
    if (nread_ == 0 && !in_write_) {
      // A read transaction of its own; the page outlives it in loose_.
      if (loose_.size() >= kMaxLoose) loose_.clear();
      keep_loose_ = true;
      Status s = BeginRead();
      keep_loose_ = false;
      MDB_RETURN_IF_ERROR(s);
      const uint8_t* p = nullptr;
      s = GetInTransaction(page, &p);
      if (s.ok()) {
        Buffer copy = NewPage();
        memcpy(copy.get(), p, kPageSize);
        *data = copy.get();
        loose_[page] = std::move(copy);
      }
      EndRead();
      return s;
    }
    return GetInTransaction(page, data);
  }

  void TrimCache() override {
    if (in_write_ || cache_.size() <= kCacheBudget) return;
    DropCache();
  }

  void Prefetch(const uint32_t* pages, size_t n) override {
    if (nread_ == 0 && !in_write_) return;
    // Staged pages are not on disk; pages past the file's end are only in the journal.
    const uint32_t limit = std::min(in_write_ ? pages_ : page_count(), file_pages_);
    size_t i = 0;
    auto wanted = [&](uint32_t p) { return p < limit && !cache_.count(p) && !Special(p); };
    // One look at the journal after all the reads instead of one after each
    // run (a look is a system call or two).
    std::vector<uint32_t> read;
    std::vector<uint32_t>* fresh = Journaled() && !in_write_ ? &read : nullptr;
    while (i < n) {
      const uint32_t first = pages[i];
      if (!wanted(first)) {
        ++i;
        continue;
      }
      uint32_t run = 1;
      while (i + run < n && run < kReadAhead && pages[i + run] == first + run && wanted(first + run)) ++run;
      if (!ReadRun(first, run, fresh).ok()) break;
      i += run;
    }
    if (fresh != nullptr && !read.empty()) CheckFresh(read);
  }

  bool Cached(uint32_t page) const override { return cache_.count(page) > 0 || staged_.count(page) > 0; }

  void Release(const uint32_t* pages, size_t n) override {
    for (size_t i = 0; i < n; ++i) {
      auto it = cache_.find(pages[i]);
      if (it == cache_.end() || staged_.count(pages[i])) continue;
      if (spare_.size() < kCacheBudget) spare_.push_back(std::move(it->second));
      cache_.erase(it);
    }
  }

  Status Put(uint32_t page, const uint8_t* data) override {
    if (!in_write_) return Status::InvalidArgument("Put outside a write transaction");
    if (page >= page_count())
      return Status::InvalidArgument("page " + std::to_string(page) + " is past the end of the file");
    Buffer& slot = staged_[page];
    if (!slot) slot = NewPage();
    memmove(slot.get(), data, kPageSize);
    return Status::OK();
  }

  Status Append(uint32_t* page) override {
    if (!in_write_) return Status::InvalidArgument("Append outside a write transaction");
    if (page_count() >= journal::kMaxPages) return Status::NotSupported("the database cannot grow past 2 GB");
    *page = page_count();
    staged_[*page] = NewPage();
    ++appended_;
    return Status::OK();
  }

  uint32_t page_count() const override { return pages_ + (in_write_ ? appended_ : 0); }

  std::vector<std::string> notes() const override { return notes_; }

 private:
  static constexpr size_t kMaxLoose = 4096;
  // Set in an overlay's entry number: the page reads as the record found it.
  static constexpr uint32_t kBeforeBit = 0x80000000u;

  bool Journaled() const { return lock_ != nullptr && !options_.direct; }
  uint64_t LastSeq() const { return records_.empty() ? 0 : records_.back().seq; }

  // ---- snapshots -----------------------------------------------------------

  // Learns the committed state this transaction reads. Other writers of this
  // engine may commit while it lasts: their records keep the pages as they
  // were (the reader mark keeps the journal from starting over meanwhile).
  Status StartSnapshot() {
    if (!keep_loose_) loose_.clear();
    DropCache();
    Status s = StartSnapshotLocked();
    if (!s.ok()) EndSnapshot();
    return s;
  }

  Status StartSnapshotLocked() {
    uint64_t size = 0;
    MDB_RETURN_IF_ERROR(db_->Size(&size));
    if (size == 0 && allow_empty_) {
      pages_ = file_pages_ = 0;
      return Status::OK();
    }
    if (size < kPageSize)
      return Status::Corruption(path_ + " is not a database: it is shorter than one page (" + std::to_string(size) +
                                " bytes)");
    if (Journaled()) {
      // A writer needs no mark: only a writer starts the journal over.
      if (!writer_) MDB_RETURN_IF_ERROR(AcquireReaderMark());
      MDB_RETURN_IF_ERROR(RefreshHeader());
    }
    // Direct: nobody else's journal to look for; a torn last page is not one.
    if (options_.direct) size -= size % kPageSize;
    if (size % kPageSize != 0 || legacy_.action != legacy::Recovery::kClean) MDB_RETURN_IF_ERROR(CheckLegacyTail());
    uint32_t pages = legacy_.action != legacy::Recovery::kClean ? legacy_.pages : static_cast<uint32_t>(size / kPageSize);
    file_pages_ = static_cast<uint32_t>(std::min<uint64_t>(size / kPageSize, pages));
    if (!Journaled()) {
      pages_ = pages;
      return Status::OK();
    }
    snap_ = LastSeq();
    overlay_.clear();
    overlay_pages_ = 0;
    if (LastSeq() > header_.applied) {
      // Records past `applied`: a writer between its record's sync and the
      // end of its writes, alive (it holds the writer lock) or not.
      const bool held = writer_;
      if (held || TryWriter()) {
        MDB_RETURN_IF_ERROR(RefreshHeader());  // it may just have finished
        snap_ = LastSeq();
        if (LastSeq() > header_.applied) {
          Status s = writer_ && writable_ && broken_.ok() ? RecoverAfter(header_.applied) : OverlayAfter(header_.applied);
          if (!held) ReleaseWriter();
          MDB_RETURN_IF_ERROR(s);
        } else if (!held) {
          ReleaseWriter();
        }
      } else {
        snap_ = header_.applied;
      }
    }
    if (header_.durable >= suspect_until_) suspect_until_ = 0;
    if (!broken_.ok() || suspect_until_ != 0) MDB_RETURN_IF_ERROR(OverlayAfter(header_.durable));
    pages_ = SnapshotPages(pages);
    return Status::OK();
  }

  // The snapshot's length: its last record's (the file's size may have
  // been read before that commit wrote its appended pages) unless it was
  // taken back, but not what later commits appended, nor what a commit
  // being taken back did.
  uint32_t SnapshotPages(uint32_t file_pages) const {
    uint32_t pages = file_pages;
    if (overlay_pages_ != 0) pages = std::min(pages, overlay_pages_);
    for (const journal::Record& r : records_) {
      if (r.seq > snap_) return std::min(pages, r.old_pages);
      if (r.seq == snap_ && r.seq <= header_.applied && r.seq > header_.abandoned && r.seq > header_.declined)
        pages = std::max(pages, r.new_pages);
    }
    return pages;
  }

  // Inside a read transaction, before writing: the read moves on to the
  // latest state. Pages handed out stay valid until the read ends.
  Status MoveToLatest() {
    for (auto& [p, buf] : cache_) retired_.push_back(std::move(buf));
    cache_.clear();
    next_sequential_ = UINT32_MAX;
    uint64_t size = 0;
    MDB_RETURN_IF_ERROR(db_->Size(&size));
    uint32_t pages = static_cast<uint32_t>(size / kPageSize);
    if (legacy_.action != legacy::Recovery::kClean) pages = legacy_.pages;
    file_pages_ = std::min(pages, static_cast<uint32_t>(size / kPageSize));
    if (Journaled()) {
      MDB_RETURN_IF_ERROR(RefreshHeader());
      snap_ = LastSeq();
      overlay_.clear();
      overlay_pages_ = 0;
      if (LastSeq() > header_.applied) MDB_RETURN_IF_ERROR(RecoverAfter(header_.applied));
      if (!broken_.ok() || suspect_until_ != 0) MDB_RETURN_IF_ERROR(OverlayAfter(header_.durable));
    }
    pages_ = Journaled() ? SnapshotPages(pages) : pages;
    return Status::OK();
  }

  void EndSnapshot() {
    DropCache();
    retired_.clear();
    if (reader_mark_) {
      lock_->file()->Unlock(lockfile::kReaderMarkByte, 1);
      reader_mark_ = false;
    }
  }

  Status AcquireReaderMark() {
    if (reader_mark_) return Status::OK();
    // Only a journal starting over holds it exclusively, for a moment.
    return WaitLock(lockfile::kReaderMarkByte, false, options_.busy_timeout_ms, &reader_mark_,
                    path_ + " is busy: its journal is being started over");
  }

  // ---- the journal's view --------------------------------------------------

  // Reads the header and the records appended since the last look.
  Status RefreshHeader() {
    if (!Journaled()) return Status::OK();
    journal::Header h;
    MDB_RETURN_IF_ERROR(journal::ReadHeader(lock_->file(), &h));
    if (h.salt != salt_) {
      // A new run (or none): the old records are all in the file.
      records_.clear();
      index_.clear();
      salt_ = h.salt;
      view_end_ = journal::kFirstRecord;
      plan_key_ = {};
      plan_overlay_.clear();
      overlay_.clear();
      overlay_pages_ = 0;
    }
    header_ = h;
    if (header_.declined > declined_seen_ && header_.declined != 0) {
      declined_seen_ = header_.declined;
      if (notes_.empty())
        notes_.push_back("a commit that a crash cut short was taken back in " + path_ +
                         ", because another program had changed its pages since");
    }
    return RefreshRecords();
  }

  Status RefreshRecords() {
    if (salt_ == 0) {
      // A first run may start while others read (there was nothing to keep).
      journal::Header h;
      MDB_RETURN_IF_ERROR(journal::ReadHeader(lock_->file(), &h));
      if (h.salt == 0) return Status::OK();
      salt_ = h.salt;
      view_end_ = journal::kFirstRecord;
    }
    for (;;) {
      journal::Record r;
      bool found = false;
      MDB_RETURN_IF_ERROR(journal::ReadRecordHead(lock_->file(), view_end_, salt_, LastSeq() + 1, &r, &found));
      if (!found) return Status::OK();
      // A record its writer has not finished (or never will: a crash cut it
      // off) is not committed: it counts once all of it is there.
      if (r.seq > header_.applied) {
        bool whole = false;
        MDB_RETURN_IF_ERROR(journal::RecordIsWhole(lock_->file(), r, &whole));
        if (!whole) return Status::OK();
      }
      AddRecord(std::move(r));
    }
  }

  void AddRecord(journal::Record r) {
    const uint32_t k = static_cast<uint32_t>(records_.size());
    for (uint32_t e = 0; e < r.entries.size(); ++e) index_[r.entries[e].page].emplace_back(k, e);
    view_end_ = r.offset + r.length;
    records_.push_back(std::move(r));
  }

  // Drops the records from seq on (cut off while written, never committed).
  void DropRecordsFrom(uint64_t seq) {
    while (!records_.empty() && records_.back().seq >= seq) {
      const uint32_t k = static_cast<uint32_t>(records_.size() - 1);
      for (const journal::Entry& e : records_.back().entries) {
        auto it = index_.find(e.page);
        if (it == index_.end()) continue;
        while (!it->second.empty() && it->second.back().first == k) it->second.pop_back();
        if (it->second.empty()) index_.erase(it);
      }
      view_end_ = records_.back().offset;
      records_.pop_back();
    }
  }

  // True when the page is not simply read from the file in this snapshot.
  bool Special(uint32_t page) const {
    return legacy_index_.count(page) != 0 || overlay_.count(page) != 0 || ChangedSinceSnapshot(page);
  }

  // ---- reading -------------------------------------------------------------

  Status GetInTransaction(uint32_t page, const uint8_t** data) {
    if (page >= page_count())
      return Status::Corruption("page " + std::to_string(page) + " is past the end of " + path_ + " (" +
                                std::to_string(page_count()) + " pages)");
    if (in_write_) {
      auto st = staged_.find(page);
      if (st != staged_.end()) {
        *data = st->second.get();
        return Status::OK();
      }
    }
    auto it = cache_.find(page);
    if (it != cache_.end()) {
      *data = it->second.get();
      return Status::OK();
    }
    // Scans walk the file upwards: read a run at once.
    if (!in_write_ && page >= next_sequential_ && page - next_sequential_ < kSequentialWindow && !Special(page)) {
      const uint32_t run = std::min(kReadAhead, page_count() - page);
      MDB_RETURN_IF_ERROR(ReadRun(page, run));
      next_sequential_ = page + run;
      it = cache_.find(page);
      if (it != cache_.end()) {
        *data = it->second.get();
        return Status::OK();
      }
    }
    Buffer buf = Take();
    MDB_RETURN_IF_ERROR(ReadPage(page, buf.get()));
    next_sequential_ = page + 1;
    *data = buf.get();
    cache_[page] = std::move(buf);
    return Status::OK();
  }

  // Reads pages [first, first + run) with one call (run <= kReadAhead) into
  // the cache; pages cached already keep their buffers, which callers may
  // hold. Pages the journal has a say on are left to ReadPage. With fresh,
  // the journal is not looked at: the pages cached are added to fresh, for
  // CheckFresh once the caller's reads are done.
  Status ReadRun(uint32_t first, uint32_t run, std::vector<uint32_t>* fresh = nullptr) {
    // Pages past the file's end are still only in the journal.
    if (first >= file_pages_) return Status::OK();
    run = std::min(run, file_pages_ - first);
    if (!run_buf_) run_buf_.reset(new uint8_t[kReadAhead * kPageSize]);
    MDB_RETURN_IF_ERROR(ReadFile(uint64_t(first) * kPageSize, run * kPageSize, run_buf_.get()));
    if (fresh == nullptr && Journaled() && !in_write_) MDB_RETURN_IF_ERROR(RefreshRecords());
    for (uint32_t k = 0; k < run; ++k) {
      if (Special(first + k)) continue;
      Buffer& slot = cache_[first + k];
      if (slot) continue;
      slot = Take();
      memcpy(slot.get(), run_buf_.get() + size_t(k) * kPageSize, kPageSize);
      if (fresh != nullptr) fresh->push_back(first + k);
    }
    return Status::OK();
  }

  // Pages read from the file since the journal was last looked at: a writer
  // that changed one of them in place before it was read had written its
  // record first, so the record is seen now, and the page goes again (read
  // later through the journal). A look that fails takes them all back.
  void CheckFresh(const std::vector<uint32_t>& pages) {
    if (!RefreshRecords().ok()) return Release(pages.data(), pages.size());
    for (uint32_t p : pages)
      if (Special(p)) Release(&p, 1);
  }

  // A commit after the snapshot changed the page (its old image is in the
  // journal).
  bool ChangedSinceSnapshot(uint32_t page) const {
    auto it = index_.find(page);
    if (it == index_.end()) return false;
    for (const auto& [k, e] : it->second)
      if (records_[k].seq > snap_) return true;
    return false;
  }

  // The page as this snapshot sees it.
  Status ReadPage(uint32_t page, uint8_t* out) {
    auto lit = legacy_index_.find(page);
    if (lit != legacy_index_.end()) return legacy::ReadImage(db_.get(), legacy_, lit->second, out);
    for (int attempt = 0; attempt < 2; ++attempt) {
      auto it = index_.find(page);
      if (it != index_.end()) {
        // The first commit after the snapshot kept the page as it was.
        for (const auto& [k, e] : it->second)
          if (records_[k].seq > snap_) return ReadBefore(k, e, out);
      }
      auto ov = overlay_.find(page);
      if (ov != overlay_.end()) {
        const uint32_t e = ov->second.second & ~kBeforeBit;
        return (ov->second.second & kBeforeBit) ? ReadBefore(ov->second.first, e, out) : ReadAfter(ov->second.first, e, out);
      }
      MDB_RETURN_IF_ERROR(ReadFile(uint64_t(page) * kPageSize, kPageSize, out));
      if (!Journaled() || in_write_ || attempt == 1) return Status::OK();
      // A writer may have changed it in place just now: its record was
      // written first, so it is visible now if so.
      const size_t before = records_.size();
      MDB_RETURN_IF_ERROR(RefreshRecords());
      if (records_.size() == before || !ChangedSinceSnapshot(page)) return Status::OK();
    }
    return Status::OK();
  }

  Status ReadBefore(uint32_t k, uint32_t e, uint8_t* out) {
    const journal::Record& r = records_[k];
    const journal::Entry& en = r.entries[e];
    if (!r.has_images(e))
      return Status::Corruption("page " + std::to_string(en.page) + " is not in this read's state of " + path_);
    // A record still being written may show its head before its images; the
    // page in the file is then still as it was.
    const auto deadline = Clock::now() + std::chrono::milliseconds(kTornImageWaitMs);
    int sleep = 100;
    for (;;) {
      bool ok = false;
      MDB_RETURN_IF_ERROR(journal::ReadImage(lock_->file(), r.BeforeOffset(e), en.before, out, &ok));
      if (ok) return Status::OK();
      MDB_RETURN_IF_ERROR(ReadFile(uint64_t(en.page) * kPageSize, kPageSize, out));
      if (Crc32(out, kPageSize) == en.before) return Status::OK();
      if (Clock::now() >= deadline)
        return Status::Corruption("the journal of " + path_ + " does not hold page " + std::to_string(en.page));
      Backoff(&sleep);
    }
  }

  Status ReadAfter(uint32_t k, uint32_t e, uint8_t* out) {
    const journal::Record& r = records_[k];
    bool ok = false;
    MDB_RETURN_IF_ERROR(journal::ReadImage(lock_->file(), r.AfterOffset(e), r.entries[e].after, out, &ok));
    if (!ok) return Status::Corruption("the journal of " + path_ + " is damaged at page " + std::to_string(r.entries[e].page));
    return Status::OK();
  }

  // Reads from the database file; a range another program has locked
  // (Windows locks are mandatory) is retried for a moment.
  Status ReadFile(uint64_t offset, size_t n, uint8_t* out) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(options_.busy_timeout_ms);
    int sleep = 100;
    for (;;) {
      Status s = db_->Read(offset, n, out);
      if (s.code() != Status::Code::kBusy || Clock::now() >= deadline) return s;
      Backoff(&sleep);
    }
  }

  // A page buffer, recycled when one is spare; its bytes are overwritten.
  Buffer Take() {
    if (spare_.empty()) return Buffer(new uint8_t[kPageSize]);
    Buffer b = std::move(spare_.back());
    spare_.pop_back();
    return b;
  }

  void DropCache() {
    for (auto& [p, buf] : cache_)
      if (spare_.size() < kCacheBudget) spare_.push_back(std::move(buf));
    cache_.clear();
    next_sequential_ = UINT32_MAX;
  }

  // ---- writing -------------------------------------------------------------

  // Access reads neither this engine's journal nor its locks, and keeps
  // pages in its own cache: nothing is written while it has the file open,
  // and nobody may join until the transaction is over.
  Status ExcludeOtherPrograms() {
    LockFile::User other;
    bool found = false;
    MDB_RETURN_IF_ERROR(lock_->BlockJoins(&other, &found));
    if (found)
      return Status::Busy(path_ + " is open in another program (" + other.Describe() +
                          "); changes can be saved once it closes the database");
    return Status::OK();
  }

  Status CommitDirect() {
    RunWriter w(db_.get());
    Status s;
    for (auto it = staged_.lower_bound(pages_); s.ok() && it != staged_.end(); ++it) s = w.Add(it->first, it->second.get());
    for (auto it = staged_.begin(); s.ok() && it != staged_.end() && it->first < pages_; ++it)
      s = w.Add(it->first, it->second.get());
    if (s.ok()) s = w.Flush();
    if (s.ok()) s = db_->Sync();
    if (!s.ok()) {
      broken_ = Status::IOError("the changes to " + path_ + " were not saved whole: " + s.message());
      return broken_;
    }
    return Status::OK();
  }

  Status CommitJournaled() {
    const uint32_t n0 = pages_, n1 = pages_ + appended_;
    std::vector<uint32_t> pages;
    std::vector<const uint8_t*> before, after;
    std::vector<Buffer> olds;
    for (auto& [p, buf] : staged_) {
      pages.push_back(p);
      after.push_back(buf.get());
      if (p >= n0) {
        before.push_back(nullptr);
        continue;
      }
      // Pages read in this transaction are the file's (nobody else writes meanwhile).
      auto c = cache_.find(p);
      if (c != cache_.end()) {
        before.push_back(c->second.get());
        continue;
      }
      Buffer old = NewPage();
      MDB_RETURN_IF_ERROR(ReadPage(p, old.get()));
      before.push_back(old.get());
      olds.push_back(std::move(old));
    }

    // Where the record goes: after the last one, or at the start of a new
    // run once every record is durable in the file and no reader needs them.
    bool restart = salt_ == 0;
    size_t in_place = 0;
    for (const uint8_t* b : before) in_place += b != nullptr;
    const uint64_t length = journal::RecordLength(pages.size(), in_place);
    if (!restart && LastSeq() == header_.durable && view_end_ > journal::kFirstRecord) restart = TryRestart();
    if (!restart && view_end_ + length > journal::kLimit) {
      MDB_RETURN_IF_ERROR(Checkpoint());
      restart = TryRestart();
      if (!restart)
        return Status::Busy("the journal of " + path_ + " is full while other users read; the changes were not saved");
    }
    uint32_t salt = salt_;
    uint64_t seq = LastSeq() + 1, offset = view_end_;
    if (restart) {
      salt = NewSalt();
      seq = 1;
      offset = journal::kFirstRecord;
    }
    const std::string rec = journal::BuildRecord(salt, seq, n0, n1, pages, before, after);
    olds.clear();

    // 1. The record, synced: from here on recovery can take back whatever
    // of the commit reaches the database file, or finish it once all has.
    File* lf = lock_->file();
    Status s;
    if (restart) {
      journal::Header h;
      h.salt = salt;
      s = journal::WriteHeader(lf, h);
    }
    if (s.ok()) s = lf->Write(offset, rec.data(), rec.size());
    if (restart && holding_restart_) {
      lf->Unlock(lockfile::kReaderMarkByte, 1);
      holding_restart_ = false;
    }
    if (s.ok()) s = lf->Sync();
    if (!s.ok()) {
      // The record might reach the disk later all the same: take its mark
      // off, so that no recovery ever applies a commit reported as failed.
      unretracted_ = offset;
      Retract();  // else tried again before the next write
      return Status::IOError("the changes were not saved: " + s.message());
    }
    journal::Record head;
    if (!journal::DecodeHead(reinterpret_cast<const uint8_t*>(rec.data()), rec.size(), offset, salt, seq, &head)) {
      unretracted_ = offset;
      Retract();
      return Status::Corruption("a record of the journal of " + path_ + " does not decode");
    }
    if (restart) {
      records_.clear();
      index_.clear();
      salt_ = salt;
      header_ = journal::Header();
      header_.salt = salt;
      plan_key_ = {};
      plan_overlay_.clear();
    }
    AddRecord(std::move(head));
    snap_ = seq;

    // 2. The pages, appended ones first (the record, written before, tells
    // readers where the old end is), and the database file synced: the
    // commit stands only then. (Access, opening the file after a crash
    // before this engine does, removes the lock file with the journal when
    // it leaves.)
    RunWriter w(db_.get());
    for (auto it = staged_.lower_bound(n0); s.ok() && it != staged_.end(); ++it) s = w.Add(it->first, it->second.get());
    for (auto it = staged_.begin(); s.ok() && it != staged_.end() && it->first < n0; ++it)
      s = w.Add(it->first, it->second.get());
    if (s.ok()) s = w.Flush();
    if (s.ok()) s = db_->Sync();
    if (!s.ok()) {
      // Not saved: the record is marked to be taken back (until that is
      // synced the writer lock stays held, so nobody finishes it), and the
      // pages get their images before it again.
      broken_ = Status::IOError("cannot write " + path_ + ": " + s.message());
      unabandoned_ = seq;
      if (Retract().ok()) RecoverAfter(header_.durable);
      if (!broken_.ok()) OverlayAfter(header_.durable);  // reads take the pages as they were
      return Status::IOError("the changes were not saved: " + s.message());
    }
    // Not synced: a lost header only makes the next open compare again.
    header_.applied = header_.durable = seq;
    s = journal::WriteHeader(lf, header_);
    if (!s.ok()) {
      broken_ = Status::IOError("cannot write the journal of " + path_ + ": " + s.message());
      // Reads take the pages from the journal until it is written again.
      OverlayAfter(header_.durable);
    }
    return Status::OK();
  }

  // Zeroes the head of a record whose commit failed before any page went to
  // the file, synced; a failed commit whose pages may be in the file is
  // marked in the header instead (synced), so that recovery takes it back.
  // Until that works the writer lock stays held, so that nobody takes the
  // record for a crashed writer's and finishes it.
  Status Retract() {
    if (unabandoned_ != 0) {
      header_.abandoned = unabandoned_;
      Status z = journal::WriteHeader(lock_->file(), header_);
      if (z.ok()) z = lock_->file()->Sync();
      if (!z.ok()) return z;
      unabandoned_ = 0;
    }
    if (unretracted_ == 0) return Status::OK();
    uint8_t zero[journal::kSector] = {};
    Status z = lock_->file()->Write(unretracted_, zero, sizeof zero);
    if (z.ok()) z = lock_->file()->Sync();
    if (z.ok()) unretracted_ = 0;
    return z;
  }
  bool RetractPending() const { return unretracted_ != 0 || unabandoned_ != 0; }

  // Makes every record durable in the file: sync it, then say so.
  Status Checkpoint() {
    if (LastSeq() <= header_.durable) return Status::OK();
    MDB_RETURN_IF_ERROR(db_->Sync());
    header_.applied = std::max(header_.applied, LastSeq());
    header_.durable = LastSeq();
    MDB_RETURN_IF_ERROR(journal::WriteHeader(lock_->file(), header_));
    return lock_->file()->Sync();
  }

  // The journal may start over only while no reader holds the mark: it is
  // taken exclusively until the new run's first record is written.
  bool TryRestart() {
    if (reader_mark_) return false;
    if (!lock_->file()->Lock(lockfile::kReaderMarkByte, 1, true).ok()) return false;
    holding_restart_ = true;
    return true;
  }

  uint32_t NewSalt() {
    static thread_local std::mt19937 rng{std::random_device{}() ^
                                         static_cast<uint32_t>(Clock::now().time_since_epoch().count())};
    uint32_t s = 0;
    while (s == 0 || s == salt_) s = static_cast<uint32_t>(rng());
    return s;
  }

  // committed: the staged pages are the file's now and stay cached while an
  // outer read goes on.
  void EndWrite(bool committed) {
    if (committed) {
      pages_ += appended_;
      for (auto& [p, buf] : staged_) cache_[p] = std::move(buf);
    }
    staged_.clear();
    appended_ = 0;
    in_write_ = false;
    if (holding_restart_) {
      lock_->file()->Unlock(lockfile::kReaderMarkByte, 1);
      holding_restart_ = false;
    }
    if (Journaled()) {
      lock_->UnblockJoins();
      if (!RetractPending()) ReleaseWriter();
    }
    if (nread_ == 0) EndSnapshot();
  }

  // ---- recovery ------------------------------------------------------------

  // With the writer lock: applies the records after `from` that may not be
  // in the file, where their pages still hold what they were made against.
  // While another program has the file open nothing is written: the pager
  // counts as broken (reads take the pages from the journal) until a later
  // transaction finishes it.
  Status RecoverAfter(uint64_t from) {
    std::vector<journal::Record> todo;
    MDB_RETURN_IF_ERROR(WholeRecordsAfter(from, &todo));
    snap_ = LastSeq();
    if (todo.empty() && broken_.ok() && header_.durable >= LastSeq()) return Status::OK();
    journal::Plan plan;
    MDB_RETURN_IF_ERROR(journal::PlanRecovery(db_.get(), lock_->file(), todo, TakeBackLast(todo), &plan));
    const bool blocking = lock_->blocking();
    if (!blocking) {
      LockFile::User other;
      bool found = false;
      Status b = lock_->BlockJoins(&other, &found);
      if (!b.ok() || found) {
        if (broken_.ok())
          broken_ = Status::Busy("the last commit to " + path_ + " is not finished yet: another program has it open");
        return Status::OK();
      }
    }
    Status s;
    if (plan.declined) {
      notes_.push_back(plan.note + " (" + path_ + ")");
      header_.declined = LastSeq();
      declined_seen_ = LastSeq();
    }
    if (plan.taken_back) header_.abandoned = LastSeq();
    {
      RunWriter w(db_.get());
      for (const journal::Plan::Write& pw : plan.writes) {
        const journal::Record& r = todo[pw.record];
        uint8_t page[kPageSize];
        bool ok = false;
        const journal::Entry& en = r.entries[pw.entry];
        s = pw.before ? journal::ReadImage(lock_->file(), r.BeforeOffset(pw.entry), en.before, page, &ok)
                      : journal::ReadImage(lock_->file(), r.AfterOffset(pw.entry), en.after, page, &ok);
        if (s.ok() && !ok) s = Status::Corruption("the journal of " + path_ + " changed while it was applied");
        if (s.ok()) s = w.Add(pw.page, page);
        if (!s.ok()) break;
      }
      if (s.ok()) s = w.Flush();
    }
    // Pages a commit taken back appended, nobody else's: the file gets its length back.
    if (s.ok() && plan.pages != 0) s = db_->Truncate(uint64_t(plan.pages) * kPageSize);
    if (s.ok()) s = db_->Sync();
    if (s.ok()) {
      header_.applied = header_.durable = LastSeq();
      s = journal::WriteHeader(lock_->file(), header_);
    }
    if (s.ok()) s = lock_->file()->Sync();
    if (!blocking) lock_->UnblockJoins();
    if (!s.ok()) {
      broken_ = Status::IOError("cannot finish the last commit to " + path_ + ": " + s.message());
      return Status::OK();  // reads take the pages from the journal meanwhile
    }
    broken_ = Status::OK();
    suspect_until_ = 0;
    overlay_.clear();
    overlay_pages_ = plan.pages;  // the file was cut back: a length read before is too long
    if (plan.pages != 0) {
      file_pages_ = std::min(file_pages_, plan.pages);
      pages_ = std::min(pages_, plan.pages);
    }
    return Status::OK();
  }

  // A commit that failed after its record was synced is taken back by
  // whoever recovers it, whatever reached the file.
  bool TakeBackLast(const std::vector<journal::Record>& todo) const {
    return !todo.empty() && header_.abandoned != 0 && header_.abandoned >= todo.back().seq;
  }

  // Pages this snapshot reads from the journal: those recovery would write
  // for the records after `from`, unless it would decline.
  Status OverlayAfter(uint64_t from) {
    const std::tuple<uint32_t, uint64_t, uint64_t> key{salt_, snap_, from};
    if (plan_key_ != key) {
      std::vector<journal::Record> todo;
      MDB_RETURN_IF_ERROR(WholeRecordsAfter(from, &todo));
      while (!todo.empty() && todo.back().seq > snap_) todo.pop_back();
      journal::Plan plan;
      MDB_RETURN_IF_ERROR(journal::PlanRecovery(db_.get(), lock_->file(), todo, TakeBackLast(todo), &plan));
      plan_key_ = key;
      plan_overlay_.clear();
      plan_pages_ = plan.pages;
      if (plan.declined && notes_.empty()) notes_.push_back(plan.note + " (" + path_ + ")");
      {
        // Records are looked up by their place in records_, which todo mirrors from `from` on.
        size_t first = 0;
        while (first < records_.size() && records_[first].seq <= from) ++first;
        for (const journal::Plan::Write& w : plan.writes)
          plan_overlay_[w.page] = {static_cast<uint32_t>(first + w.record),
                                   static_cast<uint32_t>(w.entry) | (w.before ? kBeforeBit : 0)};
      }
    }
    overlay_ = plan_overlay_;
    overlay_pages_ = plan_pages_;
    return Status::OK();
  }

  // The records after `from` in order, without a last one that was cut off
  // while it was written (it was never synced, so never committed).
  Status WholeRecordsAfter(uint64_t from, std::vector<journal::Record>* out) {
    out->clear();
    for (const journal::Record& r : records_) {
      if (r.seq <= from) continue;
      bool whole = false;
      MDB_RETURN_IF_ERROR(journal::RecordIsWhole(lock_->file(), r, &whole));
      if (!whole) {
        DropRecordsFrom(r.seq);
        break;
      }
      out->push_back(r);
    }
    return Status::OK();
  }

  // A journal that an earlier version of this engine left past the end of
  // the file: finished when this pager may write, else read through.
  Status CheckLegacyTail() {
    uint64_t size = 0;
    MDB_RETURN_IF_ERROR(db_->Size(&size));
    legacy_ = legacy::Recovery();
    legacy_index_.clear();
    if (options_.direct) return Status::OK();
    if (size == 0 && allow_empty_) return Status::OK();
    // A torn last page of this engine's own commit: the journal has it.
    if (size % kPageSize != 0 && Journaled() && LastSeq() > header_.durable) return Status::OK();
    legacy::Recovery r;
    MDB_RETURN_IF_ERROR(legacy::Analyze(db_.get(), size, path_, &r));
    if (r.action == legacy::Recovery::kClean) return Status::OK();
    if (writable_ && Journaled() && !writer_ && TryWriter()) {
      LockFile::User other;
      bool found = false;
      Status s = lock_->BlockJoins(&other, &found);
      if (s.ok() && !found) {
        s = legacy::Apply(db_.get(), r);
        lock_->UnblockJoins();
        ReleaseWriter();
        if (s.ok()) return Status::OK();
      } else {
        ReleaseWriter();
      }
    }
    legacy_ = std::move(r);
    if (legacy_.action == legacy::Recovery::kRedo)
      for (size_t i = 0; i < legacy_.entries.size(); ++i) legacy_index_[legacy_.entries[i].page] = i;
    return Status::OK();
  }

  // ---- closing -------------------------------------------------------------

  // Leaves the file whole without a journal when nobody else needs it.
  void Close() {
    if (!Journaled()) return;
    Retract();
    if (writable_ && lock_->joined() && WaitWriter(kCloseWaitMs).ok()) {
      if (RefreshHeader().ok() && broken_.ok() && LastSeq() == header_.applied && Checkpoint().ok() &&
          salt_ != 0 && !reader_mark_ && lock_->file()->Lock(lockfile::kReaderMarkByte, 1, true).ok()) {
        // Nobody reads the journal any more: the lock file gets Jet's size back.
        lock_->file()->Truncate(journal::kStart);
        lock_->file()->Unlock(lockfile::kReaderMarkByte, 1);
      }
      ReleaseWriter();
    }
    // A journal that holds more than the file does outlives this open.
    if (!RefreshHeader().ok() || LastSeq() > header_.durable || !broken_.ok()) lock_->KeepFile();
    lock_.reset();
  }

  // ---- locks ---------------------------------------------------------------

  Status WaitWriter(int timeout_ms) {
    if (writer_) return Status::OK();
    return WaitLock(lockfile::kWriterByte, true, timeout_ms, &writer_, "another user is writing to " + path_);
  }

  // Takes one lock byte of the lock file, retrying while it is busy until
  // the timeout; *held then says it is ours.
  Status WaitLock(uint64_t byte, bool exclusive, int timeout_ms, bool* held, const std::string& busy) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    int sleep = 100;
    for (;;) {
      Status s = lock_->file()->Lock(byte, 1, exclusive);
      if (s.ok()) {
        *held = true;
        return Status::OK();
      }
      if (s.code() != Status::Code::kBusy) return s;
      if (Clock::now() >= deadline) return Status::Busy(busy);
      Backoff(&sleep);
    }
  }

  bool TryWriter() {
    if (writer_) return true;
    if (!writable_ && !lock_->joined()) {
      // A read-only watcher may not hold exclusive locks on POSIX; it only
      // asks whether a writer is there.
      Status s = lock_->file()->Lock(lockfile::kWriterByte, 1, false);
      if (!s.ok()) return false;
      lock_->file()->Unlock(lockfile::kWriterByte, 1);
      return true;
    }
    if (!lock_->file()->Lock(lockfile::kWriterByte, 1, true).ok()) return false;
    writer_ = true;
    return true;
  }

  void ReleaseWriter() {
    if (writer_) lock_->file()->Unlock(lockfile::kWriterByte, 1);
    writer_ = false;
  }

  void Backoff(int* sleep) {
    static thread_local std::minstd_rand jitter{std::random_device{}()};
    env_->SleepMicros(*sleep / 2 + static_cast<int>(jitter() % (*sleep)));
    if (*sleep < 4000) *sleep *= 2;
  }

  Env* env_;
  std::unique_ptr<File> db_;
  std::string path_;
  bool writable_;
  PagerOptions options_;
  bool allow_empty_;
  std::unique_ptr<LockFile> lock_;  // null: direct, or a read-only folder without one
  Status broken_;                   // set: the file may lack what the journal holds
  std::vector<std::string> notes_;

  int nread_ = 0;
  bool in_write_ = false;
  bool reader_mark_ = false, writer_ = false, holding_restart_ = false;
  uint64_t unretracted_ = 0;  // where a failed commit's record may still count
  uint64_t unabandoned_ = 0;  // a failed commit whose record must be marked to be taken back

  // The journal as last read.
  journal::Header header_;
  uint32_t salt_ = 0;
  std::vector<journal::Record> records_;
  uint64_t view_end_ = journal::kFirstRecord;
  std::unordered_map<uint32_t, std::vector<std::pair<uint32_t, uint32_t>>> index_;  // page -> (record, entry)
  uint64_t declined_seen_ = 0;
  // Records up to this one were there at open with nobody to apply them.
  uint64_t suspect_until_ = 0;
  std::tuple<uint32_t, uint64_t, uint64_t> plan_key_{};
  std::unordered_map<uint32_t, std::pair<uint32_t, uint32_t>> plan_overlay_;
  uint32_t plan_pages_ = 0;

  // This transaction's state: records up to snap_ are in it; pages later
  // records changed are read as those records found them, and the pages in
  // overlay_ (which the file may not hold yet) from the journal.
  uint64_t snap_ = 0;
  std::unordered_map<uint32_t, std::pair<uint32_t, uint32_t>> overlay_;  // page -> (record, entry)
  uint32_t overlay_pages_ = 0;  // the file's length as this state sees it (0: as it is)
  uint32_t pages_ = 0;     // pages as of this transaction
  uint32_t file_pages_ = 0;  // of them, in the file
  uint32_t appended_ = 0;  // pages appended by the write transaction
  std::unordered_map<uint32_t, Buffer> cache_;  // lives for one transaction
  std::vector<Buffer> retired_;                 // pages handed out before the read moved on
  std::vector<Buffer> spare_;                   // buffers of dropped pages, for reuse
  Buffer run_buf_;                              // a read-ahead run
  uint32_t next_sequential_ = UINT32_MAX;       // the page after the last disk read
  std::map<uint32_t, Buffer> staged_;
  std::unordered_map<uint32_t, Buffer> loose_;  // Gets outside transactions
  bool keep_loose_ = false;

  // A journal of an earlier version that could not be finished yet.
  legacy::Recovery legacy_;
  std::unordered_map<uint32_t, size_t> legacy_index_;
};

}  // namespace

Status Pager::Open(Env* env, const std::string& path, bool writable, std::unique_ptr<Pager>* out) {
  return Open(env, path, writable, PagerOptions(), out);
}

Status Pager::Open(Env* env, const std::string& path, bool writable, const PagerOptions& options,
                   std::unique_ptr<Pager>* out) {
  out->reset();
  std::unique_ptr<File> file;
  MDB_RETURN_IF_ERROR(env->OpenFile(path, writable, &file));
  auto pager = std::make_unique<PagerImpl>(env, std::move(file), path, writable, options, false);
  MDB_RETURN_IF_ERROR(pager->Init());
  *out = std::move(pager);
  return Status::OK();
}

Status Pager::Create(Env* env, const std::string& path, std::unique_ptr<Pager>* out) {
  out->reset();
  std::unique_ptr<File> file;
  MDB_RETURN_IF_ERROR(env->CreateFile(path, &file));
  PagerOptions o;
  o.direct = true;
  auto pager = std::make_unique<PagerImpl>(env, std::move(file), path, true, o, true);
  MDB_RETURN_IF_ERROR(pager->Init());
  *out = std::move(pager);
  return Status::OK();
}

}  // namespace mdb
