#include "mdb/legacy_journal.h"

#include "mdb/crc32c.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

namespace mdb {
namespace legacy {
namespace {

constexpr uint32_t kPayload = kPageSize - kHeaderSize;
constexpr uint32_t kStreamHead = 24;
constexpr uint32_t kEntrySize = 8 + kHeaderSize;
// A trailer never needs more: kMaxPages entries and CRCs.
constexpr uint32_t kMaxTrailerPages = (kStreamHead + kMaxPages * (kEntrySize + 4) + 4) / kPayload + 1;

void Put32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
uint32_t Get32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool AllZero(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (p[i] != 0) return false;
  return true;
}

Status ReadPage(File* file, uint64_t page, uint8_t* out) {
  return file->Read(page * kPageSize, kPageSize, out);
}

// A journal whose trailer ends at page `end`: its last page names how many
// pages the trailer has, the images lie right before the trailer. Sets
// *found only when the trailer and every page the commit covers are intact,
// that is, when the commit reached its commit point.
Status ReadTrailer(File* file, uint32_t end, Recovery* r, bool* found) {
  *found = false;
  std::vector<uint8_t> page(kPageSize);
  MDB_RETURN_IF_ERROR(ReadPage(file, end - 1, page.data()));
  PageHeader last;
  if (!DecodeHeader(page.data(), &last) || last.kind != kTrailer) return Status::OK();
  const uint32_t file_pages = end;
  const uint32_t t = last.aux;
  if (t == 0 || t > kMaxTrailerPages || t > file_pages) return Status::OK();
  std::vector<uint8_t> stream;
  stream.reserve(size_t(t) * kPayload);
  for (uint32_t i = 0; i < t; ++i) {
    const uint32_t p = file_pages - t + i;
    MDB_RETURN_IF_ERROR(ReadPage(file, p, page.data()));
    PageHeader h;
    if (!DecodeHeader(page.data(), &h) || h.kind != kTrailer || h.salt != last.salt || h.aux != t ||
        h.old_pages != last.old_pages || h.new_pages != last.new_pages)
      return Status::OK();
    stream.insert(stream.end(), page.begin() + kHeaderSize, page.end());
  }
  if (stream.size() < kStreamHead + 4) return Status::OK();
  const uint8_t* s = stream.data();
  const uint32_t version = Get32(s), n0 = Get32(s + 4), n1 = Get32(s + 8), k = Get32(s + 12),
                 a = Get32(s + 16), salt = Get32(s + 20);
  if (version != 1 || n0 != last.old_pages || n1 != last.new_pages || salt != last.salt) return Status::OK();
  if (n1 < n0 || a != n1 - n0 || k > n0 || n1 > kMaxPages) return Status::OK();
  const uint64_t len = uint64_t(kStreamHead) + uint64_t(k) * kEntrySize + uint64_t(a) * 4;
  if (len + 4 > stream.size()) return Status::OK();
  if (Crc32(s, len) != Get32(s + len)) return Status::OK();
  // The journal lies at or past the new end (a gap may come between).
  if (uint64_t(n1) + k + t > file_pages) return Status::OK();
  const uint32_t start = file_pages - t - k;

  // The trailer is whole. The commit counts only if every page it covers is
  // intact too, which the sync before the first in-place write guarantees.
  std::vector<Entry> entries(k);
  const uint8_t* e = s + kStreamHead;
  for (uint32_t i = 0; i < k; ++i, e += kEntrySize) {
    entries[i].page = Get32(e);
    entries[i].crc = Get32(e + 4);
    memcpy(entries[i].displaced, e + 8, kHeaderSize);
    if (entries[i].page >= n0) return Status::OK();
  }
  Recovery candidate;
  candidate.action = Recovery::kRedo;
  candidate.pages = n1;
  candidate.journal_offset = uint64_t(start) * kPageSize;
  candidate.entries = std::move(entries);
  for (size_t i = 0; i < k; ++i) {
    MDB_RETURN_IF_ERROR(ReadPage(file, start + i, page.data()));
    PageHeader h;
    if (!DecodeHeader(page.data(), &h) || h.kind != kImage || h.salt != salt || h.aux != i) return Status::OK();
    memcpy(page.data(), candidate.entries[i].displaced, kHeaderSize);
    if (Crc32(page.data(), kPageSize) != candidate.entries[i].crc) return Status::OK();
  }
  const uint8_t* crcs = s + kStreamHead + uint64_t(k) * kEntrySize;
  for (uint32_t i = 0; i < a; ++i) {
    MDB_RETURN_IF_ERROR(ReadPage(file, n0 + i, page.data()));
    if (Crc32(page.data(), kPageSize) != Get32(crcs + 4 * i)) return Status::OK();
  }
  *r = std::move(candidate);
  *found = true;
  return Status::OK();
}

}  // namespace

void EncodeHeader(const PageHeader& h, uint8_t* out) {
  memcpy(out, kMagic, 4);
  Put32(out + 4, h.old_pages);
  Put32(out + 8, h.new_pages);
  Put32(out + 12, h.salt);
  Put32(out + 16, (uint32_t(h.kind) << 24) | (h.aux & 0xFFFFFF));
  Put32(out + 20, Crc32(out, 20));
}

bool DecodeHeader(const uint8_t* in, PageHeader* h) {
  if (memcmp(in, kMagic, 4) != 0 || Crc32(in, 20) != Get32(in + 20)) return false;
  h->old_pages = Get32(in + 4);
  h->new_pages = Get32(in + 8);
  h->salt = Get32(in + 12);
  const uint32_t ka = Get32(in + 16);
  const uint32_t kind = ka >> 24;
  if (kind != kImage && kind != kTrailer && kind != kHead) return false;
  h->kind = static_cast<Kind>(kind);
  h->aux = ka & 0xFFFFFF;
  return h->old_pages <= h->new_pages && h->new_pages <= kMaxPages;
}

std::string BuildJournal(uint32_t old_pages, uint32_t new_pages, uint32_t salt,
                         const std::vector<uint32_t>& pages,
                         const std::vector<const uint8_t*>& new_images,
                         const std::vector<uint32_t>& appended_crcs) {
  const uint32_t k = static_cast<uint32_t>(pages.size());
  const uint32_t a = static_cast<uint32_t>(appended_crcs.size());
  std::string stream(kStreamHead + size_t(k) * kEntrySize + size_t(a) * 4 + 4, '\0');
  uint8_t* s = reinterpret_cast<uint8_t*>(stream.data());
  Put32(s, 1);
  Put32(s + 4, old_pages);
  Put32(s + 8, new_pages);
  Put32(s + 12, k);
  Put32(s + 16, a);
  Put32(s + 20, salt);

  const uint32_t t = static_cast<uint32_t>((stream.size() + kPayload - 1) / kPayload);
  std::string out(size_t(k + t) * kPageSize, '\0');
  uint8_t* o = reinterpret_cast<uint8_t*>(out.data());
  uint8_t* e = s + kStreamHead;
  for (uint32_t i = 0; i < k; ++i, e += kEntrySize) {
    uint8_t* page = o + size_t(i) * kPageSize;
    memcpy(page, new_images[i], kPageSize);
    Put32(e, pages[i]);
    Put32(e + 4, Crc32(page, kPageSize));
    memcpy(e + 8, page, kHeaderSize);
    EncodeHeader(PageHeader{old_pages, new_pages, salt, kImage, i}, page);
  }
  for (uint32_t i = 0; i < a; ++i, e += 4) Put32(e, appended_crcs[i]);
  Put32(e, Crc32(s, stream.size() - 4));

  for (uint32_t i = 0; i < t; ++i) {
    uint8_t* page = o + size_t(k + i) * kPageSize;
    EncodeHeader(PageHeader{old_pages, new_pages, salt, kTrailer, t}, page);
    const size_t from = size_t(i) * kPayload;
    memcpy(page + kHeaderSize, s + from, std::min<size_t>(kPayload, stream.size() - from));
  }
  return out;
}

Status Analyze(File* file, uint64_t size, const std::string& path, Recovery* out) {
  *out = Recovery();
  if (size < kPageSize)
    return Status::Corruption(path + " is not a database: it is shorter than one page (" +
                              std::to_string(size) + " bytes)");
  // A legal file and its largest journal stay well below this.
  if (size > 4 * uint64_t(kMaxPages) * kPageSize)
    return Status::Corruption(path + " is not a database: it is larger than 8 GB");
  const uint32_t full = static_cast<uint32_t>(size / kPageSize);
  const uint32_t rest = static_cast<uint32_t>(size % kPageSize);
  std::vector<uint8_t> page(kPageSize);

  if (rest == 0) {
    // The common case, checked at the start of every transaction: the last
    // page is a database page.
    MDB_RETURN_IF_ERROR(ReadPage(file, full - 1, page.data()));
    if (page[0] != kMagic[0] && !AllZero(page.data(), kPageSize)) {
      out->pages = full;
      return Status::OK();
    }
  }

  // Walk back over journal pages and the zero pages a crash or a journal's
  // gap leaves. The first whole journal met is the last commit: journals
  // only ever go past the previous one, and nothing overwrites the last
  // whole one before a later commit's sync. Headers of an unfinished
  // journal name the length of the file before that commit.
  uint32_t old_pages = 0;
  bool have_old = false;
  PageHeader h;
  if (rest >= kHeaderSize) {
    MDB_RETURN_IF_ERROR(file->Read(uint64_t(full) * kPageSize, kHeaderSize, page.data()));
    if (DecodeHeader(page.data(), &h)) have_old = true, old_pages = h.old_pages;
  }
  // A damaged or hostile tail could hold many trailers; real ones need two
  // tries at most (an unfinished journal, then the one before it).
  int tries = 0;
  for (uint32_t p = full; p > 1; --p) {
    MDB_RETURN_IF_ERROR(ReadPage(file, p - 1, page.data()));
    if (DecodeHeader(page.data(), &h)) {
      if (!have_old) have_old = true, old_pages = h.old_pages;
      if (h.kind == kTrailer && tries < 8) {
        ++tries;
        bool found = false;
        MDB_RETURN_IF_ERROR(ReadTrailer(file, p, out, &found));
        if (found) return Status::OK();
        // The rest of this trailer ends no other journal.
        if (h.aux > 1 && h.aux < p) p -= h.aux - 1;
      }
    } else if (page[0] != kMagic[0] && !AllZero(page.data(), kPageSize)) {
      break;
    }
  }
  if (have_old) {
    if (old_pages < 1 || old_pages > full)
      return Status::Corruption(path + ": the journal at the end of the file is damaged");
    out->action = Recovery::kTruncate;
    out->pages = old_pages;
    return Status::OK();
  }
  if (rest != 0) {
    // A few bytes past the last page, zero or the start of a journal
    // header: a crash while the first journal page was being written.
    MDB_RETURN_IF_ERROR(file->Read(uint64_t(full) * kPageSize, rest, page.data()));
    if (!AllZero(page.data(), rest) && memcmp(page.data(), kMagic, std::min<size_t>(rest, 4)) != 0)
      return Status::Corruption(path + " is not a database: its size (" + std::to_string(size) +
                                " bytes) is not a multiple of the page size");
    out->action = Recovery::kTruncate;
    out->pages = full;
    return Status::OK();
  }
  out->action = Recovery::kClean;
  out->pages = full;
  return Status::OK();
}

Status ReadImage(File* file, const Recovery& r, size_t i, uint8_t* page) {
  MDB_RETURN_IF_ERROR(file->Read(r.journal_offset + uint64_t(i) * kPageSize, kPageSize, page));
  memcpy(page, r.entries[i].displaced, kHeaderSize);
  if (Crc32(page, kPageSize) != r.entries[i].crc)
    return Status::Corruption("the journal changed while it was being read");
  return Status::OK();
}

Status Apply(File* file, const Recovery& r) {
  if (r.action == Recovery::kRedo) {
    std::vector<uint8_t> page(kPageSize);
    for (size_t i = 0; i < r.entries.size(); ++i) {
      MDB_RETURN_IF_ERROR(ReadImage(file, r, i, page.data()));
      MDB_RETURN_IF_ERROR(file->Write(uint64_t(r.entries[i].page) * kPageSize, page.data(), kPageSize));
    }
    // The pages must be durable before the journal that can redo them goes.
    MDB_RETURN_IF_ERROR(file->Sync());
  }
  if (r.action == Recovery::kClean) return Status::OK();
  MDB_RETURN_IF_ERROR(file->Truncate(uint64_t(r.pages) * kPageSize));
  return file->Sync();
}

}  // namespace legacy
}  // namespace mdb
