#include "mdb/index.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>

#include "mdb/jet4.h"
#include "mdb/row_write.h"
#include "mdb/usage_map.h"

namespace mdb {

using namespace jet4;

namespace {

constexpr uint32_t kIdxPrevOffset = 0x0C;
constexpr uint32_t kIdxNextOffset = 0x10;
constexpr uint32_t kIdxTailOffset = 0x14;
constexpr uint32_t kIdxPrefixOffset = 0x18;
constexpr uint32_t kIdxMaskOffset = 0x1B;
constexpr uint32_t kIdxEntriesOffset = 0x1E0;
constexpr uint32_t kIdxCapacity = kPageSize - kIdxEntriesOffset;

void PutBE(std::string* s, uint64_t v, int n) {
  for (int i = n - 1; i >= 0; --i) s->push_back(char(uint8_t(v >> (8 * i))));
}
uint32_t GetBE(const uint8_t* p, int n) {
  uint32_t v = 0;
  for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
  return v;
}

}  // namespace

std::string IndexEntry::Bytes() const {
  std::string s = key;
  PutBE(&s, page, 3);
  s.push_back(char(row));
  return s;
}

namespace {

struct RawPage {
  uint8_t type = 0;
  std::vector<std::string> entries;  // full entries, prefix restored
  uint32_t prev = 0, next = 0, tail = 0;
};

Status ParseIndexPage(const uint8_t* p, RawPage* out) {
  out->type = p[0];
  if (p[0] != kPageIndexLeaf && p[0] != kPageIndexNode) return Status::Corruption("index page of the wrong kind");
  out->prev = Get32(p + kIdxPrevOffset);
  out->next = Get32(p + kIdxNextOffset);
  out->tail = Get32(p + kIdxTailOffset);
  uint16_t prefix = Get16(p + kIdxPrefixOffset);
  std::vector<uint32_t> starts{kIdxEntriesOffset};
  for (uint32_t i = kIdxMaskOffset; i < kIdxEntriesOffset; ++i) {
    if (!p[i]) continue;
    for (int b = 0; b < 8; ++b)
      if (p[i] >> b & 1) {
        uint32_t off = kIdxEntriesOffset + (i - kIdxMaskOffset) * 8 + b;
        if (off > kPageSize) return Status::Corruption("index entry mask points past the page");
        starts.push_back(off);
      }
  }
  std::string first;
  for (size_t k = 0; k + 1 < starts.size(); ++k) {
    std::string e(reinterpret_cast<const char*>(p + starts[k]), starts[k + 1] - starts[k]);
    if (k == 0) first = e;
    else {
      if (prefix > first.size()) return Status::Corruption("index prefix longer than the first entry");
      e = first.substr(0, prefix) + e;
    }
    size_t min = p[0] == kPageIndexLeaf ? 4 : 8;
    if (e.size() < min) return Status::Corruption("index entry too short");
    out->entries.push_back(std::move(e));
  }
  return Status::OK();
}

void WritePage(uint8_t* p, uint8_t type, uint32_t tdef, const std::vector<std::string>& entries) {
  std::memset(p, 0, kPageSize);
  p[0] = type;
  p[1] = 0x01;
  Put32(p + 4, tdef);
  uint32_t off = kIdxEntriesOffset;
  for (size_t k = 0; k < entries.size(); ++k) {
    std::memcpy(p + off, entries[k].data(), entries[k].size());
    off += uint32_t(entries[k].size());
    uint32_t bit = off - kIdxEntriesOffset;
    p[kIdxMaskOffset + bit / 8] |= uint8_t(1 << (bit % 8));
  }
  Put16(p + 2, uint16_t(kPageSize - off));
}

}  // namespace

void InitLeafPage(uint8_t* page, uint32_t tdef_page) { WritePage(page, kPageIndexLeaf, tdef_page, {}); }

Status ReadIndex(Pager* pager, uint32_t root, std::vector<IndexEntry>* entries, std::vector<uint32_t>* pages) {
  entries->clear();
  if (pages) pages->clear();
  std::set<uint32_t> seen;
  uint32_t limit = pager->page_count();
  // Every page of the tree, level by level, so the caller can reuse them.
  std::vector<uint32_t> level{root};
  uint32_t leftmost_leaf = 0;
  while (!level.empty()) {
    std::vector<uint32_t> below;
    for (uint32_t pg : level) {
      if (pg == 0 || pg >= limit) return Status::Corruption("index page outside the file");
      if (!seen.insert(pg).second) return Status::Corruption("index tree visits a page twice");
      const uint8_t* p;
      MDB_RETURN_IF_ERROR(pager->Get(pg, &p));
      RawPage raw;
      MDB_RETURN_IF_ERROR(ParseIndexPage(p, &raw));
      if (pages) pages->push_back(pg);
      if (raw.type == kPageIndexLeaf) {
        if (!leftmost_leaf) leftmost_leaf = pg;
        continue;
      }
      for (const std::string& e : raw.entries)
        below.push_back(GetBE(reinterpret_cast<const uint8_t*>(e.data()) + e.size() - 4, 4));
      if (raw.tail) below.push_back(raw.tail);
    }
    // A tail page may also be reached through the leaves' links; keep one.
    std::vector<uint32_t> next;
    for (uint32_t pg : below)
      if (!seen.count(pg) && std::find(next.begin(), next.end(), pg) == next.end()) next.push_back(pg);
    level = next;
  }
  // Entries from the leaves, left to right along their links.
  std::set<uint32_t> leaves;
  uint32_t pg = leftmost_leaf;
  while (pg) {
    if (pg >= limit) return Status::Corruption("index leaf link outside the file");
    if (!leaves.insert(pg).second) return Status::Corruption("index leaf links loop");
    const uint8_t* p;
    MDB_RETURN_IF_ERROR(pager->Get(pg, &p));
    RawPage raw;
    MDB_RETURN_IF_ERROR(ParseIndexPage(p, &raw));
    if (raw.type != kPageIndexLeaf) return Status::Corruption("index leaf links to a non-leaf page");
    if (pages && !seen.count(pg)) {
      seen.insert(pg);
      pages->push_back(pg);
    }
    for (const std::string& e : raw.entries) {
      IndexEntry ie;
      const uint8_t* b = reinterpret_cast<const uint8_t*>(e.data()) + e.size() - 4;
      ie.key = e.substr(0, e.size() - 4);
      ie.page = GetBE(b, 3);
      ie.row = b[3];
      entries->push_back(std::move(ie));
    }
    pg = raw.next;
  }
  return Status::OK();
}

namespace {

// One index page in memory: full entries (a node's end with its child page)
// and the header bytes before the entry mask, kept as they were.
struct TreePage {
  uint32_t page = 0;
  uint8_t type = 0;
  uint32_t prev = 0, next = 0, tail = 0;
  std::vector<std::string> entries;
  uint8_t header[kIdxMaskOffset] = {};
};

bool IsLeaf(const TreePage& t) { return t.type == kPageIndexLeaf; }
uint32_t ChildOf(const std::string& e) { return GetBE(reinterpret_cast<const uint8_t*>(e.data()) + e.size() - 4, 4); }
// The leaf entry a node entry bounds (its child subtree's last entry).
std::string BoundOf(const TreePage& t, const std::string& e) { return IsLeaf(t) ? e : e.substr(0, e.size() - 4); }
std::string WithChild(const std::string& bound, uint32_t child) {
  std::string e = bound;
  PutBE(&e, child, 4);
  return e;
}

size_t CommonPrefix(const std::vector<std::string>& entries) {
  if (entries.size() < 2) return 0;
  const std::string& a = entries.front();
  const std::string& b = entries.back();
  size_t n = 0;
  while (n < a.size() && n < b.size() && a[n] == b[n]) ++n;
  // Every entry after the first keeps at least one byte of its own.
  for (size_t k = 1; k < entries.size(); ++k) n = std::min(n, entries[k].size() - 1);
  return std::min<size_t>(n, 0xFF);
}

size_t PackedSize(const std::vector<std::string>& entries) {
  size_t total = 0, prefix = CommonPrefix(entries);
  for (size_t k = 0; k < entries.size(); ++k) total += entries[k].size() - (k ? prefix : 0);
  return total;
}

bool Fits(const std::vector<std::string>& entries) { return PackedSize(entries) <= kIdxCapacity; }

Status LoadTreePage(Pager* pager, uint32_t pg, TreePage* out) {
  if (pg == 0 || pg >= pager->page_count()) return Status::Corruption("index page outside the file");
  const uint8_t* p;
  MDB_RETURN_IF_ERROR(pager->Get(pg, &p));
  RawPage raw;
  MDB_RETURN_IF_ERROR(ParseIndexPage(p, &raw));
  out->page = pg;
  out->type = raw.type;
  out->prev = raw.prev;
  out->next = raw.next;
  out->tail = raw.tail;
  out->entries = std::move(raw.entries);
  std::memcpy(out->header, p, kIdxMaskOffset);
  return Status::OK();
}

// Writes the page with the entries' common prefix stored once.
Status StoreTreePage(Pager* pager, const TreePage& t) {
  if (!Fits(t.entries)) return Status::Corruption("index page overfilled");
  uint8_t buf[kPageSize];
  std::memset(buf, 0, kPageSize);
  std::memcpy(buf, t.header, kIdxMaskOffset);
  buf[0] = t.type;
  buf[1] = 0x01;
  Put32(buf + kIdxPrevOffset, t.prev);
  Put32(buf + kIdxNextOffset, t.next);
  Put32(buf + kIdxTailOffset, IsLeaf(t) ? 0 : t.tail);
  size_t prefix = CommonPrefix(t.entries);
  Put16(buf + kIdxPrefixOffset, uint16_t(prefix));
  uint32_t off = kIdxEntriesOffset;
  for (size_t k = 0; k < t.entries.size(); ++k) {
    size_t skip = k ? prefix : 0;
    const std::string& e = t.entries[k];
    std::memcpy(buf + off, e.data() + skip, e.size() - skip);
    off += uint32_t(e.size() - skip);
    uint32_t bit = off - kIdxEntriesOffset;
    buf[kIdxMaskOffset + bit / 8] |= uint8_t(1 << (bit % 8));
  }
  Put16(buf + 2, uint16_t(kPageSize - off));
  return pager->Put(t.page, buf);
}

// A step down the tree: the page and which of its children was taken
// (an entry's index, or -1 for the tail page).
struct Step {
  TreePage node;
  int slot = -1;
};

constexpr int kMaxTreeDepth = 32;

// From the root to the leaf where `target` belongs: at each node the first
// entry whose bound is not below the target, else the tail page, else the
// last entry (whose bound is then too low for an insert to keep).
Status Descend(Pager* pager, uint32_t root, const std::string& target, std::vector<Step>* path, TreePage* leaf) {
  path->clear();
  uint32_t pg = root;
  for (int depth = 0;; ++depth) {
    if (depth >= kMaxTreeDepth) return Status::Corruption("index tree too deep or looping");
    TreePage t;
    MDB_RETURN_IF_ERROR(LoadTreePage(pager, pg, &t));
    if (IsLeaf(t)) {
      *leaf = std::move(t);
      return Status::OK();
    }
    Step s;
    auto it = std::lower_bound(t.entries.begin(), t.entries.end(), target,
                               [&](const std::string& e, const std::string& v) { return BoundOf(t, e) < v; });
    if (it != t.entries.end()) {
      s.slot = int(it - t.entries.begin());
      pg = ChildOf(*it);
    } else if (t.tail) {
      s.slot = -1;
      pg = t.tail;
    } else if (!t.entries.empty()) {
      s.slot = int(t.entries.size()) - 1;
      pg = ChildOf(t.entries.back());
    } else {
      return Status::Corruption("index node page without children");
    }
    s.node = std::move(t);
    path->push_back(std::move(s));
  }
}

Status NewTreePage(Pager* pager, UsageMap* map, const TreePage& like, TreePage* out) {
  uint32_t pg;
  MDB_RETURN_IF_ERROR(AllocatePage(pager, &pg));
  if (map) MDB_RETURN_IF_ERROR(map->Set(pager, pg, true));
  *out = TreePage();
  out->page = pg;
  out->type = like.type;
  std::memcpy(out->header, like.header, kIdxMaskOffset);
  return Status::OK();
}

Status DropTreePage(Pager* pager, UsageMap* map, uint32_t pg) {
  if (map) MDB_RETURN_IF_ERROR(map->Set(pager, pg, false));
  return ReleasePage(pager, pg);
}

// Where to cut an overfull page: after the inserted entry's predecessors when
// it went to the end (so appends leave full pages behind), else by bytes.
Status SplitPoint(const std::vector<std::string>& entries, size_t inserted, size_t* cut) {
  auto ok = [&](size_t m) {
    if (m == 0 || m >= entries.size()) return false;
    std::vector<std::string> l(entries.begin(), entries.begin() + m), r(entries.begin() + m, entries.end());
    return Fits(l) && Fits(r);
  };
  if (inserted + 1 == entries.size() && ok(entries.size() - 1)) {
    *cut = entries.size() - 1;
    return Status::OK();
  }
  size_t total = 0;
  for (const auto& e : entries) total += e.size();
  size_t acc = 0, m = 0;
  while (m < entries.size() && acc + entries[m].size() <= total / 2) acc += entries[m++].size();
  for (size_t d = 0; d < entries.size(); ++d) {
    if (ok(m + d)) { *cut = m + d; return Status::OK(); }
    if (d <= m && ok(m - d)) { *cut = m - d; return Status::OK(); }
  }
  return Status::NotSupported("index entries too large to split a page");
}

Status LoadMapIf(Pager* pager, uint32_t ptr, UsageMap* m, UsageMap** out) {
  *out = nullptr;
  if (!ptr) return Status::OK();
  MDB_RETURN_IF_ERROR(UsageMap::Load(pager, ptr, m));
  *out = m;
  return Status::OK();
}

}  // namespace

Status IndexInsert(Pager* pager, uint32_t used_map, uint32_t root, const IndexEntry& entry) {
  const std::string target = entry.Bytes();
  std::vector<Step> path;
  TreePage cur;
  MDB_RETURN_IF_ERROR(Descend(pager, root, target, &path, &cur));
  // Bounds the new entry passes (it sorts after everything below them).
  for (Step& s : path) {
    if (s.slot < 0) continue;
    std::string& e = s.node.entries[size_t(s.slot)];
    if (BoundOf(s.node, e) < target) {
      e = WithChild(target, ChildOf(e));
      if (!Fits(s.node.entries)) return Status::NotSupported("index entries too large for their page");
      MDB_RETURN_IF_ERROR(StoreTreePage(pager, s.node));
    }
  }
  auto pos = std::lower_bound(cur.entries.begin(), cur.entries.end(), target);
  if (pos != cur.entries.end() && *pos == target) return Status::Corruption("index already holds this row's entry");
  size_t inserted = size_t(pos - cur.entries.begin());
  cur.entries.insert(pos, target);
  UsageMap map_store;
  UsageMap* map;
  MDB_RETURN_IF_ERROR(LoadMapIf(pager, used_map, &map_store, &map));
  while (!Fits(cur.entries)) {
    size_t cut;
    MDB_RETURN_IF_ERROR(SplitPoint(cur.entries, inserted, &cut));
    std::vector<std::string> left(cur.entries.begin(), cur.entries.begin() + cut);
    std::vector<std::string> right(cur.entries.begin() + cut, cur.entries.end());
    if (cur.page == root) {
      // The root stays where the definition points: its halves move to two
      // new pages and it becomes their parent.
      TreePage a, b;
      MDB_RETURN_IF_ERROR(NewTreePage(pager, map, cur, &a));
      MDB_RETURN_IF_ERROR(NewTreePage(pager, map, cur, &b));
      a.entries = std::move(left);
      b.entries = std::move(right);
      a.next = b.page;
      b.prev = a.page;
      b.tail = cur.tail;
      MDB_RETURN_IF_ERROR(StoreTreePage(pager, a));
      MDB_RETURN_IF_ERROR(StoreTreePage(pager, b));
      cur.type = kPageIndexNode;
      cur.prev = cur.next = 0;
      cur.entries = {WithChild(BoundOf(a, a.entries.back()), a.page)};
      cur.tail = b.page;
      break;
    }
    TreePage q;
    MDB_RETURN_IF_ERROR(NewTreePage(pager, map, cur, &q));
    q.entries = std::move(right);
    q.prev = cur.page;
    q.next = cur.next;
    q.tail = cur.tail;
    if (cur.next) {
      TreePage n;
      MDB_RETURN_IF_ERROR(LoadTreePage(pager, cur.next, &n));
      n.prev = q.page;
      MDB_RETURN_IF_ERROR(StoreTreePage(pager, n));
    }
    cur.entries = std::move(left);
    cur.next = q.page;
    cur.tail = 0;
    MDB_RETURN_IF_ERROR(StoreTreePage(pager, q));
    MDB_RETURN_IF_ERROR(StoreTreePage(pager, cur));
    // The parent: the split page's bound drops to its new last entry, and the
    // new page takes the old bound (or the tail).
    Step parent = std::move(path.back());
    path.pop_back();
    std::string left_bound = BoundOf(cur, cur.entries.back());
    std::vector<std::string>& pe = parent.node.entries;
    if (parent.slot >= 0) {
      std::string old_bound = BoundOf(parent.node, pe[size_t(parent.slot)]);
      pe[size_t(parent.slot)] = WithChild(left_bound, cur.page);
      pe.insert(pe.begin() + parent.slot + 1, WithChild(old_bound, q.page));
      inserted = size_t(parent.slot) + 1;
    } else {
      pe.push_back(WithChild(left_bound, cur.page));
      parent.node.tail = q.page;
      inserted = pe.size() - 1;
    }
    cur = std::move(parent.node);
  }
  return StoreTreePage(pager, cur);
}

Status IndexRemove(Pager* pager, uint32_t used_map, uint32_t root, const IndexEntry& entry) {
  const std::string target = entry.Bytes();
  std::vector<Step> path;
  TreePage cur;
  MDB_RETURN_IF_ERROR(Descend(pager, root, target, &path, &cur));
  auto pos = std::lower_bound(cur.entries.begin(), cur.entries.end(), target);
  if (pos == cur.entries.end() || *pos != target) return Status::Corruption("index lacks an entry for an existing row");
  cur.entries.erase(pos);
  UsageMap map_store;
  UsageMap* map;
  MDB_RETURN_IF_ERROR(LoadMapIf(pager, used_map, &map_store, &map));
  // An emptied page leaves the tree; its parent may empty in turn. Pages
  // left underfull stay as they are.
  while (cur.entries.empty() && (IsLeaf(cur) || cur.tail == 0) && cur.page != root) {
    if (cur.prev) {
      TreePage p;
      MDB_RETURN_IF_ERROR(LoadTreePage(pager, cur.prev, &p));
      p.next = cur.next;
      MDB_RETURN_IF_ERROR(StoreTreePage(pager, p));
    }
    if (cur.next) {
      TreePage n;
      MDB_RETURN_IF_ERROR(LoadTreePage(pager, cur.next, &n));
      n.prev = cur.prev;
      MDB_RETURN_IF_ERROR(StoreTreePage(pager, n));
    }
    MDB_RETURN_IF_ERROR(DropTreePage(pager, map, cur.page));
    if (path.empty()) return Status::Corruption("index tree lost its root");
    Step parent = std::move(path.back());
    path.pop_back();
    std::vector<std::string>& pe = parent.node.entries;
    if (parent.slot >= 0) {
      pe.erase(pe.begin() + parent.slot);
    } else if (!pe.empty()) {
      parent.node.tail = ChildOf(pe.back());
      pe.pop_back();
    } else {
      parent.node.tail = 0;
    }
    cur = std::move(parent.node);
  }
  if (cur.page == root && !IsLeaf(cur) && cur.entries.empty() && cur.tail == 0) {
    cur.type = kPageIndexLeaf;  // the last entry went: an empty tree again
    cur.prev = cur.next = 0;
  }
  return StoreTreePage(pager, cur);
}

Status IndexScanFrom(Pager* pager, uint32_t root, const std::string& from,
                     const std::function<Status(const IndexEntry&, bool* stop)>& visit) {
  std::vector<Step> path;
  TreePage leaf;
  MDB_RETURN_IF_ERROR(Descend(pager, root, from, &path, &leaf));
  std::set<uint32_t> seen;
  size_t k = size_t(std::lower_bound(leaf.entries.begin(), leaf.entries.end(), from) - leaf.entries.begin());
  for (;;) {
    if (!seen.insert(leaf.page).second) return Status::Corruption("index leaf links loop");
    for (; k < leaf.entries.size(); ++k) {
      const std::string& e = leaf.entries[k];
      IndexEntry ie;
      const uint8_t* b = reinterpret_cast<const uint8_t*>(e.data()) + e.size() - 4;
      ie.key = e.substr(0, e.size() - 4);
      ie.page = GetBE(b, 3);
      ie.row = b[3];
      bool stop = false;
      MDB_RETURN_IF_ERROR(visit(ie, &stop));
      if (stop) return Status::OK();
    }
    if (!leaf.next) return Status::OK();
    uint32_t next = leaf.next;
    MDB_RETURN_IF_ERROR(LoadTreePage(pager, next, &leaf));
    if (!IsLeaf(leaf)) return Status::Corruption("index leaf links to a non-leaf page");
    k = 0;
  }
}

}  // namespace mdb

namespace mdb {

namespace {

struct TreeWalk {
  Pager* pager;
  std::vector<std::string>* faults;
  std::set<uint32_t> seen;
  std::vector<TreePage> leaves;  // in key order
  int leaf_depth = -1;

  void Fault(const std::string& f) {
    if (faults->size() < 20) faults->push_back(f);
  }

  // Entries of the subtree at `pg` must lie in (lo, hi]; empty: unbounded.
  void Walk(uint32_t pg, int depth, const std::string* lo, const std::string* hi) {
    if (depth > kMaxTreeDepth) return Fault("index tree too deep");
    if (!seen.insert(pg).second) return Fault("index page " + std::to_string(pg) + " is reached twice");
    TreePage t;
    Status s = LoadTreePage(pager, pg, &t);
    if (!s.ok()) return Fault("index page " + std::to_string(pg) + ": " + s.message());
    for (size_t k = 0; k < t.entries.size(); ++k) {
      std::string b = BoundOf(t, t.entries[k]);
      if ((lo && b <= *lo) || (hi && b > *hi)) {
        Fault("index page " + std::to_string(pg) + " holds an entry outside its parent's range");
        break;
      }
      if (k && b <= BoundOf(t, t.entries[k - 1])) {
        Fault("index page " + std::to_string(pg) + " holds entries out of order");
        break;
      }
    }
    if (IsLeaf(t)) {
      if (leaf_depth < 0) leaf_depth = depth;
      else if (leaf_depth != depth) Fault("index leaves at different depths");
      leaves.push_back(std::move(t));
      return;
    }
    if (t.entries.empty() && !t.tail) return Fault("index node page " + std::to_string(pg) + " has no children");
    std::string prev_bound;
    const std::string* low = lo;
    for (const std::string& e : t.entries) {
      std::string b = BoundOf(t, e);
      Walk(ChildOf(e), depth + 1, low, &b);
      prev_bound = b;
      low = &prev_bound;
    }
    if (t.tail) Walk(t.tail, depth + 1, low, hi);
  }
};

}  // namespace

void VerifyIndexTree(Pager* pager, uint32_t root, std::vector<std::string>* faults) {
  TreeWalk w{pager, faults};
  w.Walk(root, 0, nullptr, nullptr);
  for (size_t k = 0; k < w.leaves.size(); ++k) {
    uint32_t want_prev = k ? w.leaves[k - 1].page : 0;
    uint32_t want_next = k + 1 < w.leaves.size() ? w.leaves[k + 1].page : 0;
    if (w.leaves[k].prev != want_prev || w.leaves[k].next != want_next) {
      w.Fault("index leaf " + std::to_string(w.leaves[k].page) + " links to the wrong neighbours");
      break;
    }
  }
}

}  // namespace mdb
