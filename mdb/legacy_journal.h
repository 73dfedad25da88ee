// The journal that earlier versions of this engine left past the end of the
// database file. This version writes its journal into the lock file; it
// still finishes one of these when a crash left it behind. mdb/README.md
// describes the format; this header is internal to the pager and its tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mdb/env.h"
#include "mdb/status.h"

namespace mdb {
namespace legacy {

constexpr uint32_t kPageSize = 4096;
// Jet 4 files stop at 2 GiB.
constexpr uint32_t kMaxPages = 0x80000000u / kPageSize;

// Every journal page starts with this header, which displaces the first
// kHeaderSize bytes of the page image it carries (they go to the trailer).
// Byte 0 is never a Jet page type, so journal pages cannot pass for pages.
constexpr uint32_t kHeaderSize = 24;
constexpr uint8_t kMagic[4] = {0xA7, 'J', 'N', 'L'};
// A head page goes first, at the old end of the file, when a commit appends
// pages: even a torn first write then says where the old file ended.
enum Kind : uint8_t { kImage = 1, kTrailer = 2, kHead = 3 };

struct PageHeader {
  uint32_t old_pages = 0;  // pages before the commit
  uint32_t new_pages = 0;  // pages after it
  uint32_t salt = 0;       // ties the pages of one commit together
  Kind kind = kImage;
  uint32_t aux = 0;        // image: its index; trailer: pages in the trailer; head: 0
};

void EncodeHeader(const PageHeader& h, uint8_t* out);
bool DecodeHeader(const uint8_t* in, PageHeader* h);

// A modified page as the trailer lists it.
struct Entry {
  uint32_t page = 0;
  uint32_t crc = 0;  // of the full new image
  uint8_t displaced[kHeaderSize] = {};
};

// Builds the journal of a commit as those versions wrote it (tests make
// the files an old version left with it): the images of modified pages (each with
// its header) followed by the trailer pages. new_images[i] is the image of
// pages[i]; appended_crcs are the CRCs of the pages from old_pages to
// new_pages.
std::string BuildJournal(uint32_t old_pages, uint32_t new_pages, uint32_t salt,
                         const std::vector<uint32_t>& pages,
                         const std::vector<const uint8_t*>& new_images,
                         const std::vector<uint32_t>& appended_crcs);

// What a file's tail says about an interrupted commit.
struct Recovery {
  enum Action {
    kClean,     // no journal: the file is `pages` pages long
    kRedo,      // a committed journal: copy `entries` in place, cut to `pages`
    kTruncate,  // an unfinished journal: cut the file back to `pages`
  };
  Action action = kClean;
  uint32_t pages = 0;
  uint64_t journal_offset = 0;  // kRedo: where image i lies: journal_offset + i * kPageSize
  std::vector<Entry> entries;   // kRedo
};

// Reads the tail of a file of `size` bytes. Fails only on I/O errors and on
// files that are no database at all (too short, odd size without a journal).
Status Analyze(File* file, uint64_t size, const std::string& path, Recovery* out);

// Reads image i of a committed journal, with its displaced bytes restored.
Status ReadImage(File* file, const Recovery& r, size_t i, uint8_t* page);

// Applies a recovery to the file (needs the exclusive locks).
Status Apply(File* file, const Recovery& r);

}  // namespace legacy
}  // namespace mdb
