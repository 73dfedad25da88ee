// The pager: transactions over the pages of one database file. The commit
// protocol, the journal and the locks are described in mdb/README.md.
#include "mdb/pager.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <random>
#include <unordered_map>
#include <vector>

#include "mdb/pager_impl.h"

namespace mdb {
namespace {

using journal::kPageSize;
using Buffer = std::unique_ptr<uint8_t[]>;

Buffer NewPage() { return Buffer(new uint8_t[kPageSize]()); }

// Pages a read transaction keeps before TrimCache lets them go (4 MB).
constexpr size_t kCacheBudget = 1024;
// A miss just past the previous disk read counts as sequential and reads
// this many pages at once.
constexpr uint32_t kReadAhead = 16;
constexpr uint32_t kSequentialWindow = 8;
// Prefetch reads pages a few apart with one call, the pages between read and
// dropped (a table's data pages lie between photos' pages). Worth it where a
// read costs a round trip through the system (Windows; under Wine a server
// call each), not where it costs less than copying the pages between.
#ifdef _WIN32
constexpr uint32_t kPrefetchHole = 16;
#else
constexpr uint32_t kPrefetchHole = 0;
#endif
constexpr uint32_t kPrefetchSpan = 64;  // pages one prefetch read spans at most
// A commit's journal starts this many pages past the file's new end, so the
// next commit can append up to that many pages below it while it still
// guards this commit's in-place writes (see Commit).
constexpr uint32_t kJournalGap = 64;
// Journals left at the end past this many pages get cut off at a commit.
constexpr uint32_t kMaxTail = kJournalGap + 448;
// How long closing waits for other users' reads to cut the journal off.
constexpr int kCloseWaitMs = 1000;

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
  PagerImpl(Env* env, std::unique_ptr<File> file, std::string path, bool writable,
            const PagerOptions& options, bool created)
      : env_(env), file_(std::move(file)), path_(std::move(path)), writable_(writable),
        options_(options), allow_empty_(created) {
    std::random_device rd;
    salt_ = rd() ^ static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  }

  ~PagerImpl() override {
    if (in_write_) EndWrite();
    nread_ = 0;
    EndSnapshot();
    CheckpointOnClose();
  }

  Status Init() {
    MDB_RETURN_IF_ERROR(BeginRead());
    EndRead();
    return Status::OK();
  }

  Status BeginRead() override {
    MDB_RETURN_IF_ERROR(broken_);
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
    MDB_RETURN_IF_ERROR(broken_);
    if (in_write_) return Status::InvalidArgument("a write transaction is already open");
    if (!writable_) return Status::InvalidArgument(path_ + " is open read-only");
    if (nread_ > 0) {
      // Waiting here while holding the read lock could deadlock with the
      // writer, whose commit waits for our read to end.
      Status s = file_->Lock(journal::kReservedByte, 1, true);
      if (!s.ok()) {
        if (s.code() == Status::Code::kBusy)
          return Status::Busy("another user is writing to " + path_ + "; end the read and retry");
        return s;
      }
      reserved_ = true;
      if (!overlay_.entries.empty() || overlay_.action != journal::Recovery::kClean) {
        s = RecoverLocked();
        if (!s.ok()) {
          UnlockReserved();
          return s;
        }
      }
    } else {
      MDB_RETURN_IF_ERROR(WaitLock(journal::kReservedByte, true));
      reserved_ = true;
      Status s = StartSnapshot();
      if (!s.ok()) {
        UnlockReserved();
        return s;
      }
    }
    in_write_ = true;
    appended_ = 0;
    return Status::OK();
  }

  Status Commit() override {
    if (!in_write_) return Status::InvalidArgument("no write transaction is open");
    if (!broken_.ok() || staged_.empty()) {
      EndWrite();
      return broken_;
    }
    const uint32_t n0 = pages_, n1 = pages_ + appended_;
    std::vector<uint32_t> pages;
    std::vector<const uint8_t*> images;
    std::vector<uint32_t> appended_crcs;
    for (auto& [p, buf] : staged_) {
      if (p < n0) {
        pages.push_back(p);
        images.push_back(buf.get());
      } else {
        appended_crcs.push_back(journal::Crc32(buf.get(), kPageSize));
      }
    }
    const size_t own = pages.size();

    Status xs = AcquireExclusive();
    if (!xs.ok()) {
      EndWrite();
      return xs;
    }
    // The previous commit's in-place writes are not synced yet: its journal
    // must survive until this commit's sync. Appended pages may go below it,
    // but not over it; when they would, that commit is made durable first.
    if (lazy_.on && n1 > lazy_.start) {
      Status s = Checkpoint();
      if (!s.ok()) {
        EndWrite();
        return Status::IOError("the changes were not saved: " + s.message());
      }
    }
    const bool chained = lazy_.on;
    // A disk may keep this commit's journal and lose the previous commit's
    // in-place writes, which only this commit's sync makes durable: the
    // journal carries those pages too.
    if (chained) {
      for (auto& [p, buf] : dirty_) {
        if (staged_.count(p)) continue;
        pages.push_back(p);
        images.push_back(buf.get());
      }
    }
    const std::string jnl = journal::BuildJournal(n0, n1, ++salt_, pages, images, appended_crcs);
    const uint32_t start = chained ? std::max(n1 + kJournalGap, lazy_.end) : n1 + kJournalGap;
    const uint32_t end = start + static_cast<uint32_t>(jnl.size() / kPageSize);
    if (uint64_t(end) * kPageSize > journal::kLockBase) {
      EndWrite();
      return Status::NotSupported("the commit is too large for " + path_);
    }

    // 1. The journal and the appended pages, then one sync: the commit point.
    // It also makes the previous commit's in-place writes durable.
    Status s;
    if (!chained && n1 > n0) {
      uint8_t head[kPageSize] = {};
      journal::EncodeHeader(journal::PageHeader{n0, n1, salt_, journal::kHead, 0}, head);
      s = file_->Write(uint64_t(n0) * kPageSize, head, kPageSize);
    }
    if (s.ok()) s = file_->Write(uint64_t(start) * kPageSize, jnl.data(), jnl.size());
    if (s.ok()) {
      RunWriter w(file_.get());
      for (auto it = staged_.lower_bound(n0); s.ok() && it != staged_.end(); ++it)
        s = w.Add(it->first, it->second.get());
      if (s.ok()) s = w.Flush();
    }
    if (s.ok()) s = file_->Sync();
    if (!s.ok()) {
      // Nothing below the old end was touched; cutting the file back to
      // where it ended (the previous journal kept) is enough, and if that
      // fails too the next transaction's recovery does it.
      file_->Truncate(uint64_t(chained ? lazy_.end : n0) * kPageSize);
      EndWrite();
      return Status::IOError("the changes were not saved: " + s.message());
    }

    // 2. The pages in place. They become durable with the next commit's
    // sync (or when the journal is cut off); until then the journal redoes
    // them after a crash.
    lazy_ = Lazy{true, n1, start, end, salt_};
    pages_ = n1;
    dirty_.clear();
    for (size_t i = 0; i < own; ++i) {
      Buffer copy = Take();
      memcpy(copy.get(), images[i], kPageSize);
      dirty_[pages[i]] = std::move(copy);
    }
    RunWriter w(file_.get());
    for (size_t i = 0; s.ok() && i < own; ++i) s = w.Add(pages[i], images[i]);
    if (s.ok()) s = w.Flush();
    if (s.ok() && end - n1 > kMaxTail) s = Checkpoint();
    if (!s.ok()) {
      // The commit stands: the journal redoes it. Try once more now; the
      // next transaction tries again if this fails as well.
      RecoverExclusive();
    }
    EndWrite(/*committed=*/true);
    return Status::OK();
  }

  void Rollback() override {
    if (in_write_) EndWrite();
  }

  bool in_write() const override { return in_write_; }

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
    if ((nread_ == 0 && !in_write_) || !broken_.ok()) return;
    const uint32_t limit = in_write_ ? pages_ : page_count();  // staged pages are not on disk
    size_t i = 0;
    auto wanted = [&](uint32_t p) { return p < limit && !cache_.count(p) && !overlay_index_.count(p); };
    while (i < n) {
      const uint32_t first = pages[i];
      if (!wanted(first)) {
        ++i;
        continue;
      }
      uint32_t run = 1;
      while (i + run < n && run < kReadAhead && pages[i + run] == first + run && wanted(first + run)) ++run;
      // Further wanted pages a small hole away join the same read.
      size_t j = i + run;
      uint32_t end = first + run;
      while (kPrefetchHole > 0 && j < n && pages[j] >= end && pages[j] - end <= kPrefetchHole &&
             pages[j] + 1 - first <= kPrefetchSpan && wanted(pages[j])) {
        end = pages[j] + 1;
        ++j;
      }
      if (j > i + run) {
        if (!ReadSpan(first, end - first, pages + i, j - i).ok()) return;
        i = j;
        continue;
      }
      if (!ReadRun(first, run).ok()) return;
      i += run;
    }
  }

  Status Put(uint32_t page, const uint8_t* data) override {
    if (!in_write_) return Status::InvalidArgument("Put outside a write transaction");
    MDB_RETURN_IF_ERROR(broken_);
    if (page >= page_count())
      return Status::InvalidArgument("page " + std::to_string(page) + " is past the end of the file");
    Buffer& slot = staged_[page];
    if (!slot) slot = NewPage();
    memmove(slot.get(), data, kPageSize);
    return Status::OK();
  }

  Status Append(uint32_t* page) override {
    if (!in_write_) return Status::InvalidArgument("Append outside a write transaction");
    MDB_RETURN_IF_ERROR(broken_);
    if (page_count() >= journal::kMaxPages)
      return Status::NotSupported("the database cannot grow past 2 GB");
    *page = page_count();
    staged_[*page] = NewPage();
    ++appended_;
    return Status::OK();
  }

  uint32_t page_count() const override { return pages_ + (in_write_ ? appended_ : 0); }

 private:
  static constexpr size_t kMaxLoose = 4096;

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
    // Scans walk the file upwards: read a run at once. Pages a crashed
    // commit left in the journal are read one by one from there.
    if (!in_write_ && overlay_index_.empty() && page >= next_sequential_ &&
        page - next_sequential_ < kSequentialWindow) {
      const uint32_t run = std::min(kReadAhead, page_count() - page);
      MDB_RETURN_IF_ERROR(ReadRun(page, run));
      next_sequential_ = page + run;
      *data = cache_[page].get();
      return Status::OK();
    }
    Buffer buf = Take();
    auto ov = overlay_index_.find(page);
    if (ov != overlay_index_.end()) {
      MDB_RETURN_IF_ERROR(journal::ReadImage(file_.get(), overlay_, ov->second, buf.get()));
    } else {
      MDB_RETURN_IF_ERROR(file_->Read(uint64_t(page) * kPageSize, kPageSize, buf.get()));
    }
    next_sequential_ = page + 1;
    *data = buf.get();
    cache_[page] = std::move(buf);
    return Status::OK();
  }

  // Reads pages [first, first + run) with one call (run <= kReadAhead) into
  // the cache; pages cached already keep their buffers, which callers may hold.
  Status ReadRun(uint32_t first, uint32_t run) {
    if (!run_buf_) run_buf_.reset(new uint8_t[kReadAhead * kPageSize]);
    MDB_RETURN_IF_ERROR(file_->Read(uint64_t(first) * kPageSize, run * kPageSize, run_buf_.get()));
    for (uint32_t k = 0; k < run; ++k) {
      Buffer& slot = cache_[first + k];
      if (slot) continue;
      slot = Take();
      memcpy(slot.get(), run_buf_.get() + size_t(k) * kPageSize, kPageSize);
    }
    return Status::OK();
  }

  // Reads pages [first, first + span) with one call and caches the n pages
  // listed (ascending, within the span, none cached yet); the rest is dropped.
  Status ReadSpan(uint32_t first, uint32_t span, const uint32_t* pages, size_t n) {
    if (!span_buf_) span_buf_.reset(new uint8_t[kPrefetchSpan * kPageSize]);
    MDB_RETURN_IF_ERROR(file_->Read(uint64_t(first) * kPageSize, span * kPageSize, span_buf_.get()));
    for (size_t k = 0; k < n; ++k) {
      Buffer& slot = cache_[pages[k]];
      if (slot) continue;
      slot = Take();
      memcpy(slot.get(), span_buf_.get() + size_t(pages[k] - first) * kPageSize, kPageSize);
    }
    return Status::OK();
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

  // Makes the last commit's in-place writes durable and cuts its journal
  // off (exclusive lock held). A failed sync leaves the journal valid.
  Status Checkpoint() {
    if (!lazy_.on) return Status::OK();
    MDB_RETURN_IF_ERROR(file_->Sync());
    lazy_.on = false;
    Status s = file_->Truncate(uint64_t(lazy_.pages) * kPageSize);
    if (!s.ok()) RecoverExclusive();
    return s;
  }

  // Closing leaves a plain file when other users' reads allow it soon;
  // otherwise the journal stays and the next opener finishes it.
  void CheckpointOnClose() {
    if (!lazy_.on || !broken_.ok() || !writable_) return;
    if (!WaitLock(journal::kReservedByte, true, kCloseWaitMs).ok()) return;
    reserved_ = true;
    if (WaitLock(journal::kPendingByte, true, kCloseWaitMs).ok()) {
      if (WaitLock(journal::kSharedByte, true, kCloseWaitMs).ok()) {
        // Another user may have finished the journal and written since.
        if (OwnJournalAtEnd()) Checkpoint();
        file_->Unlock(journal::kSharedByte, 1);
      }
      file_->Unlock(journal::kPendingByte, 1);
    }
    UnlockReserved();
    lazy_.on = false;
  }

  // True when the file still ends in the journal of this pager's last commit.
  bool OwnJournalAtEnd() {
    uint64_t size = 0;
    if (!lazy_.on || !file_->Size(&size).ok() || size != uint64_t(lazy_.end) * kPageSize) return false;
    uint8_t page[kPageSize];
    journal::PageHeader h;
    return file_->Read(size - kPageSize, kPageSize, page).ok() && journal::DecodeHeader(page, &h) &&
           h.kind == journal::kTrailer && h.salt == lazy_.salt && h.new_pages == lazy_.pages;
  }

  // Takes the shared lock and learns the file's committed state, rolling a
  // crashed commit forward or back first when this pager may write.
  Status StartSnapshot() {
    if (!keep_loose_) loose_.clear();
    Status s = AcquireShared();
    if (s.ok()) s = LoadState();
    // While the file still ends in our own last journal nobody else has
    // committed since (a writer first finishes that journal), so the pages
    // cached by our last transactions are still the file's.
    if (!s.ok() || !lazy_.on) DropCache();
    if (!s.ok()) EndSnapshot();
    return s;
  }

  void EndSnapshot() {
    if (!lazy_.on || cache_.size() > kCacheBudget) DropCache();
    ClearOverlay();
    if (shared_) {
      file_->Unlock(journal::kSharedByte, 1);
      shared_ = false;
    }
  }

  Status LoadState() {
    ClearOverlay();
    // Our own last commit, its pages already in place: nothing to redo.
    if (lazy_.on) {
      if (OwnJournalAtEnd()) {
        pages_ = lazy_.pages;
        return Status::OK();
      }
      lazy_.on = false;  // another user finished it
    }
    uint64_t size = 0;
    MDB_RETURN_IF_ERROR(file_->Size(&size));
    if (size == 0 && allow_empty_) {
      pages_ = 0;
      return Status::OK();
    }
    journal::Recovery r;
    MDB_RETURN_IF_ERROR(journal::Analyze(file_.get(), size, path_, &r));
    pages_ = r.pages;
    if (r.action == journal::Recovery::kClean) return Status::OK();
    if (r.pages > 0) allow_empty_ = false;
    // A crashed writer's journal. Another writer may be between its commit
    // point and the end of its commit only if its in-place writes failed;
    // either way the journal says what the file holds.
    if (writable_) {
      bool took = false;
      if (!reserved_) {
        took = file_->Lock(journal::kReservedByte, 1, true).ok();
        reserved_ = took;
      }
      if (reserved_) {
        Status s = RecoverLocked();
        if (took) UnlockReserved();
        // Readers that outlast the timeout only delay the repair, except
        // for a writer, which must start from a repaired file.
        if (!took || s.code() != Status::Code::kBusy) return s;
      }
    }
    SetOverlay(std::move(r));
    return Status::OK();
  }

  // With the writer's lock held: takes the exclusive lock, applies what the
  // journal says, and returns to the shared lock.
  Status RecoverLocked() {
    MDB_RETURN_IF_ERROR(AcquireExclusive());
    Status s = RecoverExclusive();
    ReleaseExclusive();
    return s;
  }

  Status RecoverExclusive() {
    ClearOverlay();
    lazy_.on = false;
    uint64_t size = 0;
    journal::Recovery r;
    Status s = file_->Size(&size);
    if (s.ok()) s = journal::Analyze(file_.get(), size, path_, &r);
    if (s.ok()) {
      pages_ = r.pages;
      s = journal::Apply(file_.get(), r);
      if (!s.ok()) SetOverlay(std::move(r));  // reads stay right until a retry succeeds
    }
    DropCache();
    return s;
  }

  void SetOverlay(journal::Recovery r) {
    overlay_ = std::move(r);
    overlay_index_.clear();
    if (overlay_.action == journal::Recovery::kRedo)
      for (size_t i = 0; i < overlay_.entries.size(); ++i) overlay_index_[overlay_.entries[i].page] = i;
  }
  void ClearOverlay() {
    overlay_ = journal::Recovery();
    overlay_index_.clear();
  }

  // committed: the staged pages are the file's now and stay cached.
  void EndWrite(bool committed = false) {
    if (committed) {
      for (auto& [p, buf] : staged_) cache_[p] = std::move(buf);
    }
    staged_.clear();
    appended_ = 0;
    in_write_ = false;
    if (exclusive_) ReleaseExclusive();
    UnlockReserved();
    if (nread_ == 0) EndSnapshot();
  }

  void UnlockReserved() {
    if (reserved_) file_->Unlock(journal::kReservedByte, 1);
    reserved_ = false;
  }

  // Retries a lock until the busy timeout.
  Status WaitLock(uint64_t offset, bool exclusive) { return WaitLock(offset, exclusive, options_.busy_timeout_ms); }
  Status WaitLock(uint64_t offset, bool exclusive, int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    int sleep = 50;
    for (;;) {
      Status s = file_->Lock(offset, 1, exclusive);
      if (s.ok() || s.code() != Status::Code::kBusy) return s;
      if (std::chrono::steady_clock::now() >= deadline)
        return Status::Busy(path_ + " is locked by another user");
      Backoff(&sleep);
    }
  }

  void Backoff(int* sleep) {
    static thread_local std::minstd_rand jitter{std::random_device{}()};
    env_->SleepMicros(*sleep / 2 + static_cast<int>(jitter() % (*sleep)));
    if (*sleep < 4000) *sleep *= 2;
  }

  // New readers pass the pending byte, which a committer holds exclusively,
  // so a stream of readers cannot starve a commit.
  Status AcquireShared() {
    if (shared_) return Status::OK();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(options_.busy_timeout_ms);
    int sleep = 50;
    for (;;) {
      Status s = file_->Lock(journal::kPendingByte, 1, false);
      if (s.ok()) {
        s = file_->Lock(journal::kSharedByte, 1, false);
        file_->Unlock(journal::kPendingByte, 1);
        if (s.ok()) {
          shared_ = true;
          return Status::OK();
        }
      }
      if (s.code() != Status::Code::kBusy) return s;
      if (std::chrono::steady_clock::now() >= deadline)
        return Status::Busy(path_ + " is being written by another user");
      Backoff(&sleep);
    }
  }

  Status AcquireExclusive() {
    if (exclusive_) return Status::OK();
    MDB_RETURN_IF_ERROR(WaitLock(journal::kPendingByte, true));
    if (shared_) file_->Unlock(journal::kSharedByte, 1);
    shared_ = false;
    Status s = WaitLock(journal::kSharedByte, true);
    if (!s.ok()) {
      // Only readers hold the shared byte, so taking it back succeeds.
      if (WaitLock(journal::kSharedByte, false).ok()) shared_ = true;
      else broken_ = Status::IOError("lost the read lock on " + path_ + "; reopen the database");
      file_->Unlock(journal::kPendingByte, 1);
      if (s.code() == Status::Code::kBusy)
        return Status::Busy("other users kept reading " + path_ + "; the changes were not saved");
      return s;
    }
    exclusive_ = true;
    return Status::OK();
  }

  void ReleaseExclusive() {
    if (!exclusive_) return;
    file_->Unlock(journal::kSharedByte, 1);
    exclusive_ = false;
    // Nobody else can commit while we hold the pending byte, so the shared
    // lock comes back at once.
    if (file_->Lock(journal::kSharedByte, 1, false).ok()) shared_ = true;
    else broken_ = Status::IOError("lost the read lock on " + path_ + "; reopen the database");
    file_->Unlock(journal::kPendingByte, 1);
  }

  Env* env_;
  std::unique_ptr<File> file_;
  std::string path_;
  bool writable_;
  PagerOptions options_;
  bool allow_empty_;
  uint32_t salt_ = 0;
  Status broken_;

  int nread_ = 0;
  bool in_write_ = false;
  bool shared_ = false, reserved_ = false, exclusive_ = false;

  // The journal of this pager's last commit, left at the end of the file
  // until the next commit's sync makes its in-place writes durable.
  struct Lazy {
    bool on = false;
    uint32_t pages = 0;       // the file's pages after that commit
    uint32_t start = 0, end = 0;  // the journal's pages
    uint32_t salt = 0;
  };
  Lazy lazy_;
  std::map<uint32_t, Buffer> dirty_;  // its pages written in place, while lazy_.on

  uint32_t pages_ = 0;     // committed pages as of this transaction
  uint32_t appended_ = 0;  // pages appended by the write transaction
  std::unordered_map<uint32_t, Buffer> cache_;  // lives for one transaction
  std::vector<Buffer> spare_;                   // buffers of dropped pages, for reuse
  Buffer run_buf_;                              // a read-ahead run
  Buffer span_buf_;                             // a prefetch read with holes
  uint32_t next_sequential_ = UINT32_MAX;       // the page after the last disk read
  std::map<uint32_t, Buffer> staged_;
  std::unordered_map<uint32_t, Buffer> loose_;  // Gets outside transactions
  bool keep_loose_ = false;

  // A committed journal that could not be applied yet (read-only handle, or
  // another writer busy): reads take its pages from the journal.
  journal::Recovery overlay_;
  std::unordered_map<uint32_t, size_t> overlay_index_;
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
  auto pager = std::make_unique<PagerImpl>(env, std::move(file), path, true, PagerOptions(), true);
  MDB_RETURN_IF_ERROR(pager->Init());
  *out = std::move(pager);
  return Status::OK();
}

}  // namespace mdb
