// libFuzzer target for the journal in the lock file: a record built whole
// from the input (pages changed in place and appended), the database file
// left anywhere between the commit's two states or changed by someone else,
// then bytes of the journal damaged as the input says. Opening it read-only
// and then for writing must give one consistent state or a clean error,
// never a crash, a hang or an unbounded allocation, and recovery must leave
// the file as the read-only opener saw it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "mdb/journal.h"
#include "mdb/mem_env.h"
#include "mdb/pager.h"

namespace {

using mdb::journal::kPageSize;

struct Input {
  const uint8_t* p;
  size_t n;
  uint8_t Next() {
    if (n == 0) return 0;
    --n;
    return *p++;
  }
};

std::string Page(uint32_t page, uint8_t seed) {
  std::string s(kPageSize, '\0');
  for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char>((page * 31 + seed + i * 7) & 0xFF);
  return s;
}

std::string ReadAllPages(mdb::Env* env, bool writable, mdb::Status* st) {
  std::unique_ptr<mdb::Pager> p;
  *st = mdb::Pager::Open(env, "f.mdb", writable, &p);
  if (!st->ok()) return std::string();
  std::string out;
  *st = p->BeginRead();
  if (!st->ok()) return std::string();
  for (uint32_t i = 0; i < p->page_count() && st->ok(); ++i) {
    const uint8_t* d = nullptr;
    *st = p->Get(i, &d);
    if (st->ok()) out.append(reinterpret_cast<const char*>(d), kPageSize);
  }
  p->EndRead();
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in{data, size};
  const uint32_t n0 = 1 + in.Next() % 6, appended = in.Next() % 4, changed = in.Next();
  const uint8_t old_seed = in.Next(), new_seed = in.Next();
  std::vector<std::string> before, after;
  std::vector<uint32_t> pages;
  for (uint32_t i = 1; i < n0; ++i)
    if (changed & (1u << i)) pages.push_back(i);
  for (uint32_t k = 0; k < appended; ++k) pages.push_back(n0 + k);
  if (pages.empty()) return 0;
  for (uint32_t pg : pages) {
    before.push_back(pg < n0 ? Page(pg, old_seed) : std::string());
    after.push_back(Page(pg, new_seed));
  }
  std::vector<const uint8_t*> b, a;
  for (size_t i = 0; i < pages.size(); ++i) {
    b.push_back(pages[i] < n0 ? reinterpret_cast<const uint8_t*>(before[i].data()) : nullptr);
    a.push_back(reinterpret_cast<const uint8_t*>(after[i].data()));
  }
  const uint32_t salt = 0x5EED;
  std::string rec = mdb::journal::BuildRecord(salt, 1, n0, n0 + appended, pages, b, a);

  // The database file: each page as it was, as the commit left it, or
  // either with one of its sectors someone else's; appended pages there or not.
  std::string db;
  for (uint32_t i = 0; i < n0 + appended; ++i) {
    const uint8_t how = in.Next();
    std::string pg = Page(i, old_seed);
    size_t k = 0;
    while (k < pages.size() && pages[k] != i) ++k;
    if (k < pages.size() && (how & 1)) pg = after[k];
    if (how & 2) pg[(how >> 2) * 64 % kPageSize] ^= 0x5A;
    if (i >= n0 && !(how & 1)) {
      if (how & 4) break;  // the file ends here
      pg = std::string(kPageSize, '\0');
    }
    db += pg;
  }
  if (in.Next() & 1) db.resize(db.size() - (1 + in.Next()) * 8 % (db.size() / 2 + 1));

  mdb::journal::Header h;
  h.salt = salt;
  h.abandoned = in.Next() & 1;
  std::string ldb(mdb::journal::kFirstRecord, '\0');
  {
    mdb::MemEnv scratch;
    scratch.SetFile("h", std::string());
    std::unique_ptr<mdb::File> f;
    if (!scratch.OpenFile("h", true, &f).ok() || !mdb::journal::WriteHeader(f.get(), h).ok()) return 0;
    f.reset();
    ldb.replace(mdb::journal::kStart, mdb::journal::kSector, scratch.GetFile("h").substr(mdb::journal::kStart));
  }
  ldb += rec;
  // Damage: (offset, xor) pairs over the journal's part of the lock file.
  while (in.n >= 3) {
    const size_t at = mdb::journal::kStart + ((size_t(in.Next()) << 8 | in.Next()) % (ldb.size() - mdb::journal::kStart));
    ldb[at] = static_cast<char>(ldb[at] ^ in.Next());
  }
  if (db.size() < kPageSize) return 0;

  mdb::MemEnv env;
  env.SetFile("f.mdb", db);
  env.SetFile("f.ldb", ldb);
  mdb::Status s;
  const std::string seen_ro = ReadAllPages(&env, false, &s);
  const bool ro_ok = s.ok();
  const std::string seen = ReadAllPages(&env, true, &s);
  if (ro_ok && s.ok()) {
    if (seen != seen_ro) abort();  // recovery made something else of the file than a reader saw
    const std::string file = env.GetFile("f.mdb");
    if (file.compare(0, seen.size(), seen) != 0) abort();
  }
  return 0;
}
