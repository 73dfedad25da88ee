// The journal: each commit of this engine is written into the lock file,
// past Jet's entries, and synced there before any page of the database file
// is written in place. It holds the image before and after the commit of
// every page written in place, so that recovery can tell whether a page
// still holds what the commit was made against, and readers that began
// before the commit can still read the pages as they were. Pages appended
// past the file's end go straight into the database file; the record holds
// only the checksums of their sectors, so that recovery knows whether they
// reached the disk. mdb/README.md describes the format; this header is
// internal to the pager and its tests.
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
  uint64_t abandoned = 0;  // a commit that failed: recovery takes this record back, never finishes it
};
// An absent or damaged header reads as no journal (salt 0).
Status ReadHeader(File* f, Header* h);
Status WriteHeader(File* f, const Header& h);

constexpr uint32_t kSectorsPerPage = kPageSize / kSector;

struct Entry {
  uint32_t page = 0;
  uint32_t before = 0;  // CRC-32C of the page before the commit and after it, pages
  uint32_t after = 0;   // below old_pages only (appended pages: 0)
  uint32_t sectors[kSectorsPerPage] = {};  // appended pages: CRC-32C of each sector after the commit
};

struct Record {
  uint64_t offset = 0;  // in the lock file
  uint64_t length = 0;  // head and images
  uint32_t head_bytes = 0;
  uint64_t seq = 0;
  uint32_t old_pages = 0, new_pages = 0;
  std::vector<Entry> entries;          // ascending pages
  std::vector<uint32_t> image_index;   // entry -> its images, or kNone for appended pages
  size_t in_place = 0;                 // entries with images
  static constexpr uint32_t kNone = UINT32_MAX;

  // Pages written in place have images in the record; appended pages only checksums.
  bool has_images(size_t i) const { return image_index[i] != kNone; }
  uint64_t BeforeOffset(size_t i) const { return offset + head_bytes + uint64_t(image_index[i]) * kPageSize; }
  uint64_t AfterOffset(size_t i) const { return offset + head_bytes + uint64_t(in_place + image_index[i]) * kPageSize; }
};

// The bytes of a record: its head (sectors: the entries, then the sector
// checksums of the appended pages), the images before the commit of the
// pages below old_pages, then their images after it. before[i] is null for
// an appended page.
std::string BuildRecord(uint32_t salt, uint64_t seq, uint32_t old_pages, uint32_t new_pages,
                        const std::vector<uint32_t>& pages, const std::vector<const uint8_t*>& before,
                        const std::vector<const uint8_t*>& after);

// Bytes of a record with that many entries, in_place of them written in place.
uint64_t RecordLength(size_t entries, size_t in_place);

// Whether each 512-byte sector of an appended page holds what the commit
// wrote there (true) or nothing, zeros (false); *ours false when any
// sector holds something else.
void CheckAppended(const Entry& e, const uint8_t* page, bool* whole, bool* ours);

// Reads the head of record `seq` of run `salt` at offset. *found is false
// at the end of the journal: nothing there, another run's record, or a head
// that was cut off while it was written.
Status ReadRecordHead(File* f, uint64_t offset, uint32_t salt, uint64_t seq, Record* out, bool* found);
// The head of a record from the bytes BuildRecord made (at `offset`).
bool DecodeHead(const uint8_t* bytes, size_t n, uint64_t offset, uint32_t salt, uint64_t seq, Record* out);
// Reads an image and checks its CRC; *ok false when it does not match.
Status ReadImage(File* f, uint64_t offset, uint32_t crc, uint8_t* page, bool* ok);
// True when every image of the record matches its CRC: a record cut off
// while it was written was never synced, so never counts.
Status RecordIsWhole(File* f, const Record& r, bool* whole);

// What recovery makes of records whose pages may not all have reached the
// database file. The last record is finished only when every page it
// appended checks and every page it wrote in place counts as the commits':
// each of its 512-byte sectors holds what one of the records wrote there or
// found there (a write cut off part way leaves some sectors old and some
// new, or stops inside a sector); such a page gets its last image.
// Otherwise the last commit never returned (it is acknowledged only once
// the database file is synced) and recovery takes back what of it reached
// the file: its pages written in place get their images before it, where
// they still hold one of its versions. A page holding anything else was
// changed by another program since and is left alone (declined); so are
// the pages past the old end unless every one of them is the commit's own
// or nothing, when the file is cut back to its length before (pages).
// take_back: the last commit failed and must be taken back whatever the
// file holds.
struct Plan {
  struct Write {
    uint32_t page = 0;
    size_t record = 0, entry = 0;  // whose image goes there
    bool before = false;           // the image before the commit (taking it back)
  };
  std::vector<Write> writes;
  bool declined = false;
  bool taken_back = false;
  uint32_t pages = 0;  // taken back: cut the file back to this many pages (0: leave its length)
  std::string note;    // declined: the pages another program changed
};
Status PlanRecovery(File* db, File* lock, const std::vector<Record>& records, bool take_back, Plan* plan);

}  // namespace journal
}  // namespace mdb
