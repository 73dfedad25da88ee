#include "mdb/journal.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

#include "mdb/crc32c.h"

namespace mdb {
namespace journal {
namespace {

constexpr uint8_t kHeaderMagic[8] = {0xA7, 'U', 'M', 'J', 'N', 'L', 0, 1};
// Records of the earlier layout, with images of the appended pages, began 0xA7 'REC'.
constexpr uint8_t kRecordMagic[4] = {0xA7, 'R', 'C', '2'};
constexpr uint32_t kFixed = 36;  // the head before its entries
constexpr uint32_t kEntryBytes = 12;
constexpr uint32_t kSectorCrcBytes = 4 * kSectorsPerPage;  // per appended page
// More entries than pages could ever change in a 2 GiB file.
constexpr uint32_t kMaxEntries = kMaxPages;

void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t Get32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint64_t Get64(const uint8_t* p) { return uint64_t(Get32(p)) | uint64_t(Get32(p + 4)) << 32; }

uint32_t HeadBytes(uint32_t entries, uint32_t appended) {
  const uint64_t n = kFixed + uint64_t(entries) * kEntryBytes + uint64_t(appended) * kSectorCrcBytes;
  return static_cast<uint32_t>((n + kSector - 1) / kSector * kSector);
}

// The head's CRC covers its fixed part (without the CRC), the entries and
// the sector checksums.
uint32_t HeadCrc(const uint8_t* head, uint32_t entries, uint32_t appended) {
  uint32_t c = Crc32(head, 32);
  return Crc32(head + kFixed, size_t(entries) * kEntryBytes + size_t(appended) * kSectorCrcBytes, c);
}

bool IsZero(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (p[i] != 0) return false;
  return true;
}

// Sector k of a page holds one of the versions, or a write of one of them
// over another that stopped inside the sector: the first bytes of the one,
// the rest of the other.
bool SectorIsOneOf(const uint8_t* now, const std::vector<std::unique_ptr<uint8_t[]>>& versions, uint32_t k) {
  for (const auto& a : versions) {
    const uint8_t* av = a.get() + k * kSector;
    uint32_t t = 0;
    while (t < kSector && now[t] == av[t]) ++t;
    if (t == kSector) return true;
    for (const auto& b : versions)
      if (memcmp(now + t, b.get() + k * kSector + t, kSector - t) == 0) return true;
  }
  return false;
}

}  // namespace

Status ReadHeader(File* f, Header* h) {
  *h = Header();
  uint64_t size = 0;
  MDB_RETURN_IF_ERROR(f->Size(&size));
  if (size < kStart + kSector) return Status::OK();
  uint8_t s[kSector];
  MDB_RETURN_IF_ERROR(f->Read(kStart, kSector, s));
  if (memcmp(s, kHeaderMagic, sizeof kHeaderMagic) != 0 || Crc32(s, 44) != Get32(s + 44)) return Status::OK();
  h->salt = Get32(s + 8);
  h->applied = Get64(s + 12);
  h->durable = Get64(s + 20);
  h->declined = Get64(s + 28);
  h->abandoned = Get64(s + 36);
  return Status::OK();
}

Status WriteHeader(File* f, const Header& h) {
  uint8_t s[kSector] = {};
  memcpy(s, kHeaderMagic, sizeof kHeaderMagic);
  Put32(s + 8, h.salt);
  Put64(s + 12, h.applied);
  Put64(s + 20, h.durable);
  Put64(s + 28, h.declined);
  Put64(s + 36, h.abandoned);
  Put32(s + 44, Crc32(s, 44));
  return f->Write(kStart, s, kSector);
}

std::string BuildRecord(uint32_t salt, uint64_t seq, uint32_t old_pages, uint32_t new_pages,
                        const std::vector<uint32_t>& pages, const std::vector<const uint8_t*>& before,
                        const std::vector<const uint8_t*>& after) {
  const uint32_t n = static_cast<uint32_t>(pages.size());
  uint32_t in_place = 0;
  for (const uint8_t* b : before) in_place += b != nullptr;
  const uint32_t appended = n - in_place;
  const uint32_t head = HeadBytes(n, appended);
  std::string out(head + 2 * size_t(in_place) * kPageSize, '\0');
  uint8_t* o = reinterpret_cast<uint8_t*>(out.data());
  memcpy(o, kRecordMagic, 4);
  Put32(o + 4, salt);
  Put64(o + 8, seq);
  Put32(o + 16, old_pages);
  Put32(o + 20, new_pages);
  Put32(o + 24, n);
  Put32(o + 28, head);
  uint8_t* e = o + kFixed;
  uint8_t* sectors = e + size_t(n) * kEntryBytes;
  uint8_t* img_before = o + head;
  uint8_t* img_after = img_before + size_t(in_place) * kPageSize;
  for (uint32_t i = 0; i < n; ++i, e += kEntryBytes) {
    Put32(e, pages[i]);
    if (before[i] != nullptr) {
      Put32(e + 4, Crc32(before[i], kPageSize));
      Put32(e + 8, Crc32(after[i], kPageSize));
      memcpy(img_before, before[i], kPageSize);
      memcpy(img_after, after[i], kPageSize);
      img_before += kPageSize;
      img_after += kPageSize;
      continue;
    }
    for (uint32_t k = 0; k < kSectorsPerPage; ++k, sectors += 4) Put32(sectors, Crc32(after[i] + k * kSector, kSector));
  }
  Put32(o + 32, HeadCrc(o, n, appended));
  return out;
}

uint64_t RecordLength(size_t entries, size_t in_place) {
  return HeadBytes(static_cast<uint32_t>(entries), static_cast<uint32_t>(entries - in_place)) +
         2 * in_place * uint64_t(kPageSize);
}

void CheckAppended(const Entry& e, const uint8_t* page, bool* whole, bool* ours) {
  *whole = *ours = true;
  for (uint32_t k = 0; k < kSectorsPerPage; ++k) {
    const uint8_t* s = page + k * kSector;
    if (Crc32(s, kSector) == e.sectors[k]) continue;
    *whole = false;
    if (!IsZero(s, kSector)) *ours = false;
  }
}

// Decodes a record's head from its bytes (at least its head).
bool DecodeHead(const uint8_t* h, size_t n, uint64_t offset, uint32_t salt, uint64_t seq, Record* out) {
  if (n < kSector || memcmp(h, kRecordMagic, 4) != 0 || Get32(h + 4) != salt || Get64(h + 8) != seq) return false;
  const uint32_t old_pages = Get32(h + 16), new_pages = Get32(h + 20), count = Get32(h + 24), bytes = Get32(h + 28);
  if (old_pages > new_pages || new_pages > kMaxPages || count == 0 || count > kMaxEntries ||
      bytes < HeadBytes(count, 0) || bytes > HeadBytes(count, count) || bytes > n)
    return false;
  // Entries ascend and end below new_pages: those from old_pages on are the appended ones.
  uint32_t appended = 0;
  for (uint32_t i = 0; i < count; ++i) appended += Get32(h + kFixed + i * kEntryBytes) >= old_pages;
  if (bytes != HeadBytes(count, appended) || HeadCrc(h, count, appended) != Get32(h + 32)) return false;
  Record r;
  r.offset = offset;
  r.head_bytes = bytes;
  r.seq = seq;
  r.old_pages = old_pages;
  r.new_pages = new_pages;
  r.entries.resize(count);
  r.image_index.resize(count);
  const uint8_t* e = h + kFixed;
  const uint8_t* sectors = e + size_t(count) * kEntryBytes;
  for (uint32_t i = 0; i < count; ++i, e += kEntryBytes) {
    Entry& en = r.entries[i];
    en.page = Get32(e);
    en.before = Get32(e + 4);
    en.after = Get32(e + 8);
    if (en.page >= new_pages || (i > 0 && en.page <= r.entries[i - 1].page)) return false;
    if (en.page < old_pages) {
      r.image_index[i] = static_cast<uint32_t>(r.in_place++);
      continue;
    }
    r.image_index[i] = Record::kNone;
    for (uint32_t k = 0; k < kSectorsPerPage; ++k, sectors += 4) en.sectors[k] = Get32(sectors);
  }
  r.length = bytes + 2 * r.in_place * uint64_t(kPageSize);
  if (offset + r.length > kLimit) return false;
  *out = std::move(r);
  return true;
}

Status ReadRecordHead(File* f, uint64_t offset, uint32_t salt, uint64_t seq, Record* out, bool* found) {
  *found = false;
  uint64_t size = 0;
  MDB_RETURN_IF_ERROR(f->Size(&size));
  if (offset + kSector > size || offset + kSector > kLimit) return Status::OK();
  std::vector<uint8_t> head(kSector);
  MDB_RETURN_IF_ERROR(f->Read(offset, kSector, head.data()));
  const uint8_t* h = head.data();
  if (memcmp(h, kRecordMagic, 4) != 0 || Get32(h + 4) != salt || Get64(h + 8) != seq) return Status::OK();
  const uint32_t count = Get32(h + 24), bytes = Get32(h + 28);
  if (count == 0 || count > kMaxEntries || bytes < HeadBytes(count, 0) || bytes > HeadBytes(count, count))
    return Status::OK();
  if (offset + bytes > size || offset + bytes > kLimit) return Status::OK();
  if (bytes > kSector) {
    head.resize(bytes);
    MDB_RETURN_IF_ERROR(f->Read(offset + kSector, bytes - kSector, head.data() + kSector));
  }
  *found = DecodeHead(head.data(), head.size(), offset, salt, seq, out);
  return Status::OK();
}

Status ReadImage(File* f, uint64_t offset, uint32_t crc, uint8_t* page, bool* ok) {
  *ok = false;
  uint64_t size = 0;
  MDB_RETURN_IF_ERROR(f->Size(&size));
  if (offset + kPageSize > size) return Status::OK();
  MDB_RETURN_IF_ERROR(f->Read(offset, kPageSize, page));
  *ok = Crc32(page, kPageSize) == crc;
  return Status::OK();
}

Status RecordIsWhole(File* f, const Record& r, bool* whole) {
  *whole = false;
  uint8_t page[kPageSize];
  for (size_t i = 0; i < r.entries.size(); ++i) {
    if (!r.has_images(i)) continue;
    bool ok = false;
    MDB_RETURN_IF_ERROR(ReadImage(f, r.BeforeOffset(i), r.entries[i].before, page, &ok));
    if (!ok) return Status::OK();
    MDB_RETURN_IF_ERROR(ReadImage(f, r.AfterOffset(i), r.entries[i].after, page, &ok));
    if (!ok) return Status::OK();
  }
  *whole = true;
  return Status::OK();
}

Status PlanRecovery(File* db, File* lock, const std::vector<Record>& records, bool take_back, Plan* plan) {
  *plan = Plan();
  if (records.empty()) return Status::OK();
  // Each page's changes, in commit order.
  std::map<uint32_t, std::vector<std::pair<size_t, size_t>>> chains;
  for (size_t r = 0; r < records.size(); ++r)
    for (size_t e = 0; e < records[r].entries.size(); ++e) chains[records[r].entries[e].page].emplace_back(r, e);
  uint64_t size = 0;
  MDB_RETURN_IF_ERROR(db->Size(&size));
  const uint64_t db_pages = size / kPageSize;
  const size_t last_record = records.size() - 1;
  const Record& last_rec = records[last_record];

  std::vector<uint8_t> now(kPageSize);
  std::vector<std::unique_ptr<uint8_t[]>> versions;
  std::string changed;
  bool unfinished = take_back;
  // The pages past the old end hold the last commit's sectors or nothing.
  bool tail_ours = db_pages <= last_rec.new_pages;
  // Pages of the last commit that hold one of its versions but not the one
  // it found: what taking it back would write.
  std::vector<Plan::Write> undo;
  for (const auto& [page, chain] : chains) {
    // What the page holds now; a page past the end holds nothing yet.
    if (page < db_pages) MDB_RETURN_IF_ERROR(db->Read(uint64_t(page) * kPageSize, kPageSize, now.data()));
    else std::fill(now.begin(), now.end(), 0);
    const auto& [lr, le] = chain.back();
    const Record& rec_last = records[lr];
    const Entry& last = rec_last.entries[le];
    if (!rec_last.has_images(le)) {
      // Appended, and only its sectors' checksums are in the journal.
      bool whole = false, ours = false;
      CheckAppended(last, now.data(), &whole, &ours);
      if (lr == last_record && ours) {
        if (!whole || page >= db_pages) unfinished = true;
      } else if (!whole || page >= db_pages) {
        // Another program wrote there (its pages go where the file ended),
        // or an earlier commit's page, which returned once synced, changed.
        if (lr == last_record) tail_ours = false;
        plan->declined = true;
        if (changed.size() < 200) changed += (changed.empty() ? "" : ", ") + std::to_string(page);
      }
      continue;
    }
    const uint32_t crc = Crc32(now.data(), kPageSize);
    const bool done = page < db_pages && crc == last.after;
    if (!done) {
      // Every version these commits found or left, and nothing (zeros) for
      // a page that one of them appended.
      versions.clear();
      auto add = [&](uint64_t offset, uint32_t want) -> Status {
        auto v = std::make_unique<uint8_t[]>(kPageSize);
        bool ok = false;
        MDB_RETURN_IF_ERROR(ReadImage(lock, offset, want, v.get(), &ok));
        if (!ok) return Status::Corruption("the journal changed while it was being read");
        versions.push_back(std::move(v));
        return Status::OK();
      };
      for (const auto& [r, e] : chain) {
        const Record& rec = records[r];
        if (rec.has_images(e)) {
          MDB_RETURN_IF_ERROR(add(rec.BeforeOffset(e), rec.entries[e].before));
          MDB_RETURN_IF_ERROR(add(rec.AfterOffset(e), rec.entries[e].after));
        } else {
          versions.push_back(std::make_unique<uint8_t[]>(kPageSize));  // zeroed
        }
      }
      bool ours = true;
      for (uint32_t k = 0; ours && k < kSectorsPerPage; ++k) ours = SectorIsOneOf(now.data() + k * kSector, versions, k);
      if (!ours) {
        plan->declined = true;
        if (changed.size() < 200) changed += (changed.empty() ? "" : ", ") + std::to_string(page);
        continue;
      }
      plan->writes.push_back({page, lr, le, false});
    }
    if (lr == last_record && crc != last.before && page < db_pages) undo.push_back({page, lr, le, true});
  }
  // Past the old end the file holds only pages the last commit appended.
  for (uint64_t p = last_rec.old_pages; tail_ours && p < db_pages; ++p)
    if (!chains.count(static_cast<uint32_t>(p))) tail_ours = false;
  if (plan->declined || unfinished) {
    // The commit never returned, and finishing it would undo another
    // program's change or write pages it never got: take back what of it
    // reached the file, where nobody else wrote.
    plan->writes = std::move(undo);
    plan->taken_back = true;
    if (tail_ours && last_rec.new_pages > last_rec.old_pages && size > uint64_t(last_rec.old_pages) * kPageSize)
      plan->pages = last_rec.old_pages;
  }
  if (plan->declined)
    plan->note = "a commit that a crash cut short was taken back, because another program has since changed "
                 "page(s) " + changed + " that it also changed";
  return Status::OK();
}

}  // namespace journal
}  // namespace mdb
