#include "mdb/index.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <string_view>

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

// A step down the tree: the node and which of its children was taken, as an
// index into KidsOf(node).
struct Step {
  uint32_t page = 0;
  size_t kid = 0;
};

constexpr int kMaxTreeDepth = 32;

// A node's children in order: one per entry, then the tail page. The bound
// is the last leaf entry below the child where it is known (a tail page's
// is not stored).
struct Kid {
  uint32_t page = 0;
  std::optional<std::string> bound;
};

std::vector<Kid> KidsOf(const TreePage& n) {
  std::vector<Kid> kids;
  for (const std::string& e : n.entries) kids.push_back({ChildOf(e), BoundOf(n, e)});
  if (n.tail) kids.push_back({n.tail, std::nullopt});
  return kids;
}

// Which child of node `n` the descent to `target` takes: the first whose
// bound is not below it, else the tail, else the last entry.
size_t KidFor(const TreePage& n, const std::string& target) {
  auto it = std::lower_bound(n.entries.begin(), n.entries.end(), target,
                             [&](const std::string& e, const std::string& v) { return BoundOf(n, e) < v; });
  if (it != n.entries.end()) return size_t(it - n.entries.begin());
  if (n.tail) return n.entries.size();
  return n.entries.empty() ? 0 : n.entries.size() - 1;
}

// The pages one change touches, loaded once and written once at the end.
class TreeEdit {
 public:
  TreeEdit(Pager* pager, UsageMap* map, uint32_t root) : pager_(pager), map_(map), root_(root) {}

  uint32_t root() const { return root_; }

  Status Load(uint32_t pg, TreePage** out) {
    auto it = pages_.find(pg);
    if (it == pages_.end()) {
      if (dropped_.count(pg)) return Status::Corruption("index tree refers to a page it has just freed");
      TreePage t;
      MDB_RETURN_IF_ERROR(LoadTreePage(pager_, pg, &t));
      it = pages_.emplace(pg, std::move(t)).first;
    }
    *out = &it->second;
    return Status::OK();
  }
  void Dirty(const TreePage* t) { dirty_.insert(t->page); }

  Status New(const TreePage& like, TreePage** out) {
    uint32_t pg;
    MDB_RETURN_IF_ERROR(AllocatePage(pager_, &pg));
    if (map_) MDB_RETURN_IF_ERROR(map_->Set(pager_, pg, true));
    TreePage t;
    t.page = pg;
    t.type = like.type;
    std::memcpy(t.header, like.header, kIdxMaskOffset);
    dropped_.erase(pg);
    TreePage* p = &pages_.insert_or_assign(pg, std::move(t)).first->second;
    dirty_.insert(pg);
    *out = p;
    return Status::OK();
  }

  // Takes an emptied page out of its level's links and frees it.
  Status Drop(TreePage* t) {
    TreePage* p;
    if (t->prev) {
      MDB_RETURN_IF_ERROR(Load(t->prev, &p));
      p->next = t->next;
      Dirty(p);
    }
    if (t->next) {
      MDB_RETURN_IF_ERROR(Load(t->next, &p));
      p->prev = t->prev;
      Dirty(p);
    }
    uint32_t pg = t->page;
    pages_.erase(pg);
    dirty_.erase(pg);
    dropped_.insert(pg);
    if (map_) MDB_RETURN_IF_ERROR(map_->Set(pager_, pg, false));
    return ReleasePage(pager_, pg);
  }

  // The last leaf entry below page `pg`, following the rightmost children.
  Status SubLast(uint32_t pg, std::string* out) {
    for (int depth = 0; depth < kMaxTreeDepth; ++depth) {
      TreePage* t;
      MDB_RETURN_IF_ERROR(Load(pg, &t));
      if (IsLeaf(*t)) {
        if (t->entries.empty()) return Status::Corruption("index page " + std::to_string(pg) + " is empty");
        *out = t->entries.back();
        return Status::OK();
      }
      if (t->tail) pg = t->tail;
      else if (!t->entries.empty()) pg = ChildOf(t->entries.back());
      else return Status::Corruption("index node page without children");
    }
    return Status::Corruption("index tree too deep or looping");
  }

  // Stores `kids` in node `n` as Access keeps them: with two or more, the
  // last one is the tail page and has no entry; a lone child has an entry.
  Status SetKids(TreePage* n, std::vector<Kid> kids) {
    std::vector<std::string> entries;
    uint32_t tail = 0;
    if (kids.size() == 1 && !kids[0].bound) {
      std::string b;
      MDB_RETURN_IF_ERROR(SubLast(kids[0].page, &b));
      kids[0].bound = b;
    }
    for (size_t k = 0; k < kids.size(); ++k) {
      if (k + 1 == kids.size() && kids.size() >= 2) {
        tail = kids[k].page;
        break;
      }
      if (!kids[k].bound) return Status::Corruption("index node lost a child's bound");
      entries.push_back(WithChild(*kids[k].bound, kids[k].page));
    }
    if (entries != n->entries || tail != n->tail) {
      n->entries = std::move(entries);
      n->tail = tail;
      Dirty(n);
    }
    return Status::OK();
  }

  Status Flush() {
    for (uint32_t pg : dirty_) MDB_RETURN_IF_ERROR(StoreTreePage(pager_, pages_.at(pg)));
    dirty_.clear();
    return Status::OK();
  }

 private:
  Pager* pager_;
  UsageMap* map_;
  uint32_t root_;
  std::map<uint32_t, TreePage> pages_;
  std::set<uint32_t> dirty_, dropped_;
};

// From the root to the leaf where `target` belongs.
Status Descend(TreeEdit* edit, const std::string& target, std::vector<Step>* path, TreePage** leaf) {
  path->clear();
  uint32_t pg = edit->root();
  for (int depth = 0;; ++depth) {
    if (depth >= kMaxTreeDepth) return Status::Corruption("index tree too deep or looping");
    TreePage* t;
    MDB_RETURN_IF_ERROR(edit->Load(pg, &t));
    if (IsLeaf(*t)) {
      *leaf = t;
      return Status::OK();
    }
    if (t->entries.empty() && !t->tail) return Status::Corruption("index node page without children");
    size_t k = KidFor(*t, target);
    path->push_back({pg, k});
    pg = k < t->entries.size() ? ChildOf(t->entries[k]) : t->tail;
  }
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

// What happened to a page, for its parent to follow.
struct Outcome {
  enum Kind { kChanged, kSplit, kEmptied } kind = kChanged;
  std::optional<std::string> last;        // the page's (left half's) last leaf entry
  uint32_t right = 0;                     // kSplit: the new page after it
  std::optional<std::string> right_last;  // kSplit
};

// Node pages below a node are linked only among the children of one parent;
// leaves are linked across their whole level.
Status SeparateKids(TreeEdit* edit, uint32_t left_last, uint32_t right_first) {
  TreePage *a, *b;
  MDB_RETURN_IF_ERROR(edit->Load(left_last, &a));
  if (IsLeaf(*a)) return Status::OK();
  MDB_RETURN_IF_ERROR(edit->Load(right_first, &b));
  a->next = 0;
  b->prev = 0;
  edit->Dirty(a);
  edit->Dirty(b);
  return Status::OK();
}

// The last leaf entry of the children `kids`: computed, since a stored
// bound may be stale (Access leaves them above their child's last entry).
Status LastOf(TreeEdit* edit, const std::vector<Kid>& kids, std::optional<std::string>* out) {
  std::string b;
  MDB_RETURN_IF_ERROR(edit->SubLast(kids.back().page, &b));
  *out = b;
  return Status::OK();
}

// Splits overfull page `cur`: the left part stays, the right part moves to a
// new page linked after it. `inserted` is where the change was; `last` is
// the page's last leaf entry when known (a node's tail bound is not stored).
Status SplitPage(TreeEdit* edit, TreePage* cur, size_t inserted, const std::optional<std::string>& last,
                 Outcome* out) {
  std::vector<std::string> stored = cur->entries;
  size_t cut;
  MDB_RETURN_IF_ERROR(SplitPoint(stored, inserted, &cut));
  TreePage* q;
  MDB_RETURN_IF_ERROR(edit->New(*cur, &q));
  q->prev = cur->page;
  q->next = cur->next;
  if (cur->next) {
    TreePage* n;
    MDB_RETURN_IF_ERROR(edit->Load(cur->next, &n));
    n->prev = q->page;
    edit->Dirty(n);
  }
  cur->next = q->page;
  edit->Dirty(cur);
  if (IsLeaf(*cur)) {
    q->entries.assign(stored.begin() + cut, stored.end());
    cur->entries.assign(stored.begin(), stored.begin() + cut);
    out->last = cur->entries.back();
    out->right_last = q->entries.back();
  } else {
    std::vector<Kid> kids = KidsOf(*cur);
    if (!kids.back().bound) kids.back().bound = last;
    std::vector<Kid> left(kids.begin(), kids.begin() + cut), right(kids.begin() + cut, kids.end());
    MDB_RETURN_IF_ERROR(LastOf(edit, left, &out->last));
    left.back().bound = out->last;
    out->right_last = right.back().bound;
    MDB_RETURN_IF_ERROR(SeparateKids(edit, left.back().page, right.front().page));
    MDB_RETURN_IF_ERROR(edit->SetKids(cur, left));
    MDB_RETURN_IF_ERROR(edit->SetKids(q, right));
  }
  out->kind = Outcome::kSplit;
  out->right = q->page;
  return Status::OK();
}

// The root stays where the definition points: when it overflows, its halves
// move to two new pages and it becomes their parent.
Status SplitRoot(TreeEdit* edit, TreePage* root, size_t inserted) {
  std::vector<std::string> stored = root->entries;
  size_t cut;
  MDB_RETURN_IF_ERROR(SplitPoint(stored, inserted, &cut));
  TreePage *a, *b;
  MDB_RETURN_IF_ERROR(edit->New(*root, &a));
  MDB_RETURN_IF_ERROR(edit->New(*root, &b));
  a->next = b->page;
  b->prev = a->page;
  Kid ka{a->page, std::nullopt}, kb{b->page, std::nullopt};
  if (IsLeaf(*root)) {
    a->entries.assign(stored.begin(), stored.begin() + cut);
    b->entries.assign(stored.begin() + cut, stored.end());
    ka.bound = a->entries.back();
    edit->Dirty(a);
    edit->Dirty(b);
  } else {
    std::vector<Kid> kids = KidsOf(*root);
    std::vector<Kid> left(kids.begin(), kids.begin() + cut), right(kids.begin() + cut, kids.end());
    MDB_RETURN_IF_ERROR(LastOf(edit, left, &ka.bound));
    left.back().bound = ka.bound;
    MDB_RETURN_IF_ERROR(SeparateKids(edit, left.back().page, right.front().page));
    MDB_RETURN_IF_ERROR(edit->SetKids(a, left));
    MDB_RETURN_IF_ERROR(edit->SetKids(b, right));
  }
  root->type = kPageIndexNode;
  root->prev = root->next = 0;
  root->entries.clear();
  root->tail = 0;
  edit->Dirty(root);
  return edit->SetKids(root, {ka, kb});
}

// Carries a change at the leaf up the path: bounds follow the children's
// last entries, splits add children, emptied pages leave their parent.
// `changed_at` is where in the leaf the change was.
Status Propagate(TreeEdit* edit, std::vector<Step>* path, TreePage* cur, size_t changed_at) {
  std::optional<std::string> last;
  if (!cur->entries.empty()) last = cur->entries.back();
  for (;;) {
    if (cur->page == edit->root()) {
      if (!IsLeaf(*cur) && cur->entries.empty() && !cur->tail) {
        cur->type = kPageIndexLeaf;  // the last entry went: an empty tree again
        cur->prev = cur->next = 0;
        edit->Dirty(cur);
      }
      if (!Fits(cur->entries)) MDB_RETURN_IF_ERROR(SplitRoot(edit, cur, changed_at));
      return Status::OK();
    }
    Outcome o;
    if (cur->entries.empty() && !cur->tail) {
      o.kind = Outcome::kEmptied;
      MDB_RETURN_IF_ERROR(edit->Drop(cur));
    } else if (!Fits(cur->entries)) {
      MDB_RETURN_IF_ERROR(SplitPage(edit, cur, changed_at, last, &o));
    } else {
      o.last = last;
    }
    if (path->empty()) return Status::Corruption("index tree lost its root");
    Step step = path->back();
    path->pop_back();
    TreePage* parent;
    MDB_RETURN_IF_ERROR(edit->Load(step.page, &parent));
    std::vector<Kid> kids = KidsOf(*parent);
    size_t k = step.kid;
    if (k >= kids.size()) return Status::Corruption("index path left its node");
    switch (o.kind) {
      case Outcome::kChanged:
        if (o.last) kids[k].bound = o.last;
        break;
      case Outcome::kSplit: {
        // The right half ends where the whole page did.
        std::optional<std::string> whole = kids[k].bound;
        kids[k].bound = o.last;
        kids.insert(kids.begin() + k + 1, Kid{o.right, o.right_last ? o.right_last : whole});
        break;
      }
      case Outcome::kEmptied:
        kids.erase(kids.begin() + k);
        break;
    }
    last = kids.empty() ? std::nullopt : kids.back().bound;
    changed_at = k;
    MDB_RETURN_IF_ERROR(edit->SetKids(parent, std::move(kids)));
    cur = parent;
  }
}

Status LoadMapIf(Pager* pager, uint32_t ptr, UsageMap* m, UsageMap** out) {
  *out = nullptr;
  if (!ptr) return Status::OK();
  MDB_RETURN_IF_ERROR(UsageMap::Load(pager, ptr, m));
  *out = m;
  return Status::OK();
}

}  // namespace

Status IndexInsert(Pager* pager, uint32_t used_map, uint32_t root, const IndexEntry& entry, bool* new_key) {
  const std::string target = entry.Bytes();
  UsageMap map_store;
  UsageMap* map;
  MDB_RETURN_IF_ERROR(LoadMapIf(pager, used_map, &map_store, &map));
  TreeEdit edit(pager, map, root);
  std::vector<Step> path;
  TreePage* leaf;
  MDB_RETURN_IF_ERROR(Descend(&edit, target, &path, &leaf));
  auto pos = std::lower_bound(leaf->entries.begin(), leaf->entries.end(), target);
  if (pos != leaf->entries.end() && *pos == target) return Status::Corruption("index already holds this row's entry");
  size_t at = size_t(pos - leaf->entries.begin());
  if (new_key) {
    // A key is new when neither neighbour has it (they may be on the
    // neighbouring leaves).
    auto key_of = [](const std::string& e) { return std::string_view(e).substr(0, e.size() - 4); };
    bool dup = false;
    TreePage* other;
    if (at > 0) dup = key_of(leaf->entries[at - 1]) == entry.key;
    else if (leaf->prev) {
      MDB_RETURN_IF_ERROR(edit.Load(leaf->prev, &other));
      dup = !other->entries.empty() && key_of(other->entries.back()) == entry.key;
    }
    if (at < leaf->entries.size()) dup = dup || key_of(leaf->entries[at]) == entry.key;
    else if (leaf->next) {
      MDB_RETURN_IF_ERROR(edit.Load(leaf->next, &other));
      dup = dup || (!other->entries.empty() && key_of(other->entries.front()) == entry.key);
    }
    *new_key = !dup;
  }
  leaf->entries.insert(leaf->entries.begin() + at, target);
  edit.Dirty(leaf);
  MDB_RETURN_IF_ERROR(Propagate(&edit, &path, leaf, at));
  return edit.Flush();
}

Status IndexRemove(Pager* pager, uint32_t used_map, uint32_t root, const IndexEntry& entry) {
  const std::string target = entry.Bytes();
  UsageMap map_store;
  UsageMap* map;
  MDB_RETURN_IF_ERROR(LoadMapIf(pager, used_map, &map_store, &map));
  TreeEdit edit(pager, map, root);
  std::vector<Step> path;
  TreePage* leaf;
  MDB_RETURN_IF_ERROR(Descend(&edit, target, &path, &leaf));
  auto pos = std::lower_bound(leaf->entries.begin(), leaf->entries.end(), target);
  if (pos == leaf->entries.end() || *pos != target) return Status::Corruption("index lacks an entry for an existing row");
  size_t at = size_t(pos - leaf->entries.begin());
  leaf->entries.erase(pos);
  edit.Dirty(leaf);
  MDB_RETURN_IF_ERROR(Propagate(&edit, &path, leaf, at));
  return edit.Flush();
}

Status IndexScanFrom(Pager* pager, uint32_t root, const std::string& from,
                     const std::function<Status(const IndexEntry&, bool* stop)>& visit) {
  TreeEdit edit(pager, nullptr, root);
  std::vector<Step> path;
  TreePage* start;
  MDB_RETURN_IF_ERROR(Descend(&edit, from, &path, &start));
  TreePage leaf = *start;
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

bool IndexSkipsRow(const TableDef& def, const RealIndexDef& index, const std::vector<Value>& values) {
  if (!(index.flags & kIndexFlagIgnoreNulls)) return false;
  for (const RealIndexDef::Col& ic : index.columns)
    for (size_t i = 0; i < def.columns.size(); ++i)
      if (def.columns[i].number == ic.column_number && i < values.size() && !IsNull(values[i])) return false;
  return true;
}

Status CountNewKey(Pager* pager, TableDef* def, const RealIndexDef& index) {
  uint32_t at = kTdefHeaderEnd + uint32_t(index.number) * kRealIndexCountEntrySize + kRealIndexUniqueCountOffset;
  if (at + 4 > kPageSize || at + 4 > def->bytes.size()) return Status::Corruption("index count outside its definition");
  const uint8_t* p;
  MDB_RETURN_IF_ERROR(pager->Get(def->first_page, &p));
  uint8_t buf[kPageSize];
  std::memcpy(buf, p, kPageSize);
  uint32_t n = Get32(buf + at) + 1;
  Put32(buf + at, n);
  Put32(reinterpret_cast<uint8_t*>(def->bytes.data()) + at, n);
  for (RealIndexDef& r : def->real_indexes)
    if (r.number == index.number) r.unique_count = n;
  return pager->Put(def->first_page, buf);
}

namespace {

// The strict check of one tree: every node entry against its child's first
// and last leaf entries, order across siblings, links, depth.
struct TreeWalk {
  Pager* pager = nullptr;
  std::vector<std::string>* faults = nullptr;
  std::set<uint32_t> seen;
  std::vector<TreePage> leaves;  // in key order
  int leaf_depth = -1;
  size_t stale = 0;

  void Fault(const std::string& f) {
    if (faults->size() < 20) faults->push_back(f);
  }
  std::string Page(uint32_t pg) { return "index page " + std::to_string(pg); }

  // Walks the subtree at `pg`; its first and last leaf entries go to
  // first/last. False when the subtree cannot be read or is empty.
  bool Walk(uint32_t pg, int depth, std::string* first, std::string* last, TreePage* out = nullptr) {
    if (depth > kMaxTreeDepth) return Fault("index tree too deep"), false;
    if (!seen.insert(pg).second) return Fault(Page(pg) + " is reached twice"), false;
    TreePage t;
    Status s = LoadTreePage(pager, pg, &t);
    if (!s.ok()) return Fault(Page(pg) + ": " + s.message()), false;
    if (out) *out = t;
    for (size_t k = 1; k < t.entries.size(); ++k)
      if (BoundOf(t, t.entries[k]) <= BoundOf(t, t.entries[k - 1])) {
        Fault(Page(pg) + " holds entries out of order");
        break;
      }
    if (IsLeaf(t)) {
      if (leaf_depth < 0) leaf_depth = depth;
      else if (leaf_depth != depth) Fault("index leaves at different depths");
      if (t.tail) Fault(Page(pg) + " is a leaf with a tail page");
      bool empty = t.entries.empty();
      if (!empty) {
        *first = t.entries.front();
        *last = t.entries.back();
      }
      leaves.push_back(std::move(t));
      return !empty;
    }
    std::vector<Kid> kids = KidsOf(t);
    if (kids.empty()) return Fault(Page(pg) + " is a node without children"), false;
    std::vector<std::string> firsts(kids.size()), lasts(kids.size());
    std::vector<bool> ok(kids.size());
    std::vector<TreePage> pages(kids.size());
    for (size_t k = 0; k < kids.size(); ++k) ok[k] = Walk(kids[k].page, depth + 1, &firsts[k], &lasts[k], &pages[k]);
    for (size_t k = 0; k < kids.size(); ++k) {
      if (!ok[k]) {
        if (pages[k].page && IsLeaf(pages[k]) && pages[k].entries.empty()) Fault(Page(kids[k].page) + " is empty but still in the tree");
        continue;
      }
      if (kids[k].bound) {
        const std::string& b = *kids[k].bound;
        if (b < lasts[k]) Fault(Page(pg) + ": the entry for child " + std::to_string(kids[k].page) + " lies below that child's last entry");
        else if (b > lasts[k]) ++stale;
        if (k + 1 < kids.size() && ok[k + 1] && b >= firsts[k + 1])
          Fault(Page(pg) + ": the entry for child " + std::to_string(kids[k].page) + " reaches into the next child");
      }
      if (k + 1 < kids.size() && ok[k + 1] && lasts[k] >= firsts[k + 1])
        Fault(Page(pg) + ": children " + std::to_string(kids[k].page) + " and " + std::to_string(kids[k + 1].page) + " are out of order");
      // Node pages are linked among the children of one parent only.
      if (pages[k].page && !IsLeaf(pages[k])) {
        uint32_t want_prev = k ? kids[k - 1].page : 0, want_next = k + 1 < kids.size() ? kids[k + 1].page : 0;
        if (pages[k].prev != want_prev || pages[k].next != want_next)
          Fault(Page(kids[k].page) + " links to the wrong neighbours");
      }
    }
    size_t a = 0, z = kids.size() - 1;
    while (a < kids.size() && !ok[a]) ++a;
    while (z > a && !ok[z]) --z;
    if (a == kids.size()) return false;
    *first = firsts[a];
    *last = lasts[z];
    return true;
  }
};

}  // namespace

void VerifyIndexTree(Pager* pager, uint32_t root, std::vector<std::string>* faults, std::vector<std::string>* notes) {
  TreeWalk w;
  w.pager = pager;
  w.faults = faults;
  std::string first, last;
  TreePage top;
  w.Walk(root, 0, &first, &last, &top);
  if (top.page && (top.prev || top.next)) w.Fault("index root page " + std::to_string(root) + " has neighbours");
  for (size_t k = 0; k < w.leaves.size(); ++k) {
    uint32_t want_prev = k ? w.leaves[k - 1].page : 0;
    uint32_t want_next = k + 1 < w.leaves.size() ? w.leaves[k + 1].page : 0;
    if (w.leaves[k].prev != want_prev || w.leaves[k].next != want_next) {
      w.Fault("index leaf " + std::to_string(w.leaves[k].page) + " links to the wrong neighbours");
      break;
    }
  }
  if (w.stale && notes)
    notes->push_back(std::to_string(w.stale) +
                     " node entries lie above their child's last entry, as Access leaves them after deletes; "
                     "engines that keep entries exact may refuse to update this index");
}

}  // namespace mdb
