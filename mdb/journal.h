// The journal: each commit of this engine is written whole into the lock
// file, past Jet's entries, and synced there before any of its pages goes to
// the database file. It holds every page's image before and after the
// commit, so that recovery can tell whether a page still holds what the
// commit was made against, and readers that began before the commit can
// still read the pages as they were. mdb/README.md describes the format;
// this header is internal to the pager and its tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mdb/env.h"
#include "mdb/status.h"

namespace mdb {
namespace journal {

constexpr uint32_t kPageSize = 4096;
constexpr uint32_t kSector = 512;
constexpr uint32_t kMaxPages = 0x80000000u / kPageSize;  // Jet 4 files stop at 2 GiB
// The journal's part of the lock file: past Jet's 255 entries of 64 bytes
// (16,320 bytes), and below the first byte Jet locks (0x10000000), since
// Windows refuses to read or write a locked range.
constexpr uint64_t kStart = 0x4000;
constexpr uint64_t kFirstRecord = kStart + kSector;
constexpr uint64_t kLimit = 0x0F000000;

// One sector at kStart. Records count from 1 in each run (salt).
struct Header {
  uint32_t salt = 0;      // the run of records that follows; 0: none
  uint64_t applied = 0;   // records up to this one are in the database file
  uint64_t durable = 0;   // ... and synced there
  uint64_t declined = 0;  // records up to this one were left unapplied: others had changed their pages
};
// An absent or damaged header reads as no journal (salt 0).
Status ReadHeader(File* f, Header* h);
Status WriteHeader(File* f, const Header& h);

struct Entry {
  uint32_t page = 0;
  uint32_t before = 0;  // CRC-32C of the page before the commit (pages below old_pages only)
  uint32_t after = 0;   // and after it
};

struct Record {
  uint64_t offset = 0;  // in the lock file
  uint64_t length = 0;  // head and images
  uint32_t head_bytes = 0;
  uint64_t seq = 0;
  uint32_t old_pages = 0, new_pages = 0;
  std::vector<Entry> entries;           // ascending pages
  std::vector<uint32_t> before_index;   // entry -> its image before, or kNone for appended pages
  size_t befores = 0;
  static constexpr uint32_t kNone = UINT32_MAX;

  bool has_before(size_t i) const { return before_index[i] != kNone; }
  uint64_t BeforeOffset(size_t i) const { return offset + head_bytes + uint64_t(before_index[i]) * kPageSize; }
  uint64_t AfterOffset(size_t i) const { return offset + head_bytes + uint64_t(befores + i) * kPageSize; }
};

// The bytes of a record: its head (sectors), the images before the commit
// of the pages below old_pages, the images after it of every page. before[i]
// is null for an appended page.
std::string BuildRecord(uint32_t salt, uint64_t seq, uint32_t old_pages, uint32_t new_pages,
                        const std::vector<uint32_t>& pages, const std::vector<const uint8_t*>& before,
                        const std::vector<const uint8_t*>& after);

// Bytes of a record with that many entries, befores of them with an image before.
uint64_t RecordLength(size_t entries, size_t befores);

// Reads the head of record `seq` of run `salt` at offset. *found is false
// at the end of the journal: nothing there, another run's record, or a head
// that was cut off while it was written.
Status ReadRecordHead(File* f, uint64_t offset, uint32_t salt, uint64_t seq, Record* out, bool* found);
// The head of a record from the bytes BuildRecord made (at `offset`).
bool DecodeHead(const uint8_t* bytes, size_t n, uint64_t offset, uint32_t salt, uint64_t seq, Record* out);
// Reads an image and checks its CRC; *ok false when it does not match.
Status ReadImage(File* f, uint64_t offset, uint32_t crc, uint8_t* page, bool* ok);
// True when every image of the record matches its CRC: a record cut off
// while it was written was never synced, so never committed.
Status RecordIsWhole(File* f, const Record& r, bool* whole);

// What recovery makes of records whose pages may not all have reached the
// database file. A page counts as the commits' when each of its 512-byte
// sectors holds what one of the records wrote there or found there (a write
// cut off part way leaves some sectors old and some new, or stops inside a
// sector); then it gets its last image. A page holding anything else was
// changed by another program since: then recovery declines to finish, and
// instead takes back what of the last commit reached the file (it never
// returned, having not reached the file whole), on the pages that program
// did not touch.
struct Plan {
  struct Write {
    uint32_t page = 0;
    size_t record = 0, entry = 0;  // whose image goes there
    bool before = false;           // the image before the commit (taking it back)
  };
  std::vector<Write> writes;
  bool declined = false;
  std::string note;  // declined: the pages another program changed
};
Status PlanRecovery(File* db, File* lock, const std::vector<Record>& records, Plan* plan);

}  // namespace journal
}  // namespace mdb
