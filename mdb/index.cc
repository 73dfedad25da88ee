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

const ColumnDef* ByNumber(const TableDef& def, uint16_t number, int* pos) {
  for (size_t i = 0; i < def.columns.size(); ++i)
    if (def.columns[i].number == number) {
      *pos = int(i);
      return &def.columns[i];
    }
  return nullptr;
}

// Letters and digits as real files show them in text keys; case is folded.
int TextCode(char16_t c) {
  static const uint8_t kLetters[26] = {0x4A, 0x4C, 0x4D, 0x4F, 0x51, 0x53, 0x55, 0x57, 0x59, 0, 0, 0x5E, 0x60,
                                       0x62, 0x64, 0x66, 0x68, 0x69, 0x6B, 0x6D, 0x6F, 0x71, 0, 0x75, 0x76, 0};
  if (c >= u'A' && c <= u'Z') c = char16_t(c - u'A' + u'a');
  if (c >= u'a' && c <= u'z') return kLetters[c - u'a'] ? kLetters[c - u'a'] : -1;
  if (c >= u'0' && c <= u'9') return 0x36 + 2 * (c - u'0');
  return -1;
}

Status KindEncodable(const ColumnDef& c) {
  switch (c.column.type) {
    case ColumnType::kBool:
    case ColumnType::kByte:
    case ColumnType::kInt:
    case ColumnType::kLong:
    case ColumnType::kMoney:
    case ColumnType::kFloat:
    case ColumnType::kDouble:
    case ColumnType::kDateTime:
    case ColumnType::kText:
      return Status::OK();
    default:
      return Status::NotSupported("index keys on this column kind are not supported");
  }
}

void FloatKey(std::string* s, uint64_t bits, int n) {
  // Negative numbers: every bit inverted; others: the sign bit set.
  uint64_t sign = uint64_t(1) << (8 * n - 1);
  if (bits & sign) bits = ~bits;
  else bits |= sign;
  PutBE(s, bits, n);
}

thread_local int catalog_keys = 0;

}  // namespace

CatalogKeyScope::CatalogKeyScope() { ++catalog_keys; }
CatalogKeyScope::~CatalogKeyScope() { --catalog_keys; }

std::string IndexEntry::Bytes() const {
  std::string s = key;
  PutBE(&s, page, 3);
  s.push_back(char(row));
  return s;
}

Status EncodeTextKey(const std::u16string& text, std::string* out) {
  for (char16_t c : text) {
    int code = TextCode(c);
    if (code < 0 && catalog_keys > 0 && c >= 0x80) {
      // Provisional: after every Latin letter, in code point order.
      out->push_back(char(0xF0));
      out->push_back(char(uint8_t(c >> 8)));
      out->push_back(char(uint8_t(c)));
      continue;
    }
    if (code < 0) return Status::NotSupported("text index keys with this character are not supported yet");
    out->push_back(char(code));
  }
  out->push_back(0x01);
  out->push_back(0x00);
  return Status::OK();
}

Status IndexEncodable(const TableDef& def, const RealIndexDef& index) {
  for (const auto& ic : index.columns) {
    int pos;
    const ColumnDef* c = ByNumber(def, ic.column_number, &pos);
    if (!c) return Status::Corruption("index names a column the table does not have");
    Status s = KindEncodable(*c);
    if (!s.ok()) return s;
  }
  return Status::OK();
}

bool KeyHasNull(const TableDef& def, const RealIndexDef& index, const std::vector<Value>& values) {
  for (const auto& ic : index.columns) {
    int pos;
    const ColumnDef* c = ByNumber(def, ic.column_number, &pos);
    if (c && c->column.type != ColumnType::kBool && IsNull(values[pos])) return true;
  }
  return false;
}

Status EncodeIndexKey(const TableDef& def, const RealIndexDef& index, const std::vector<Value>& values,
                      std::string* key) {
  key->clear();
  for (const auto& ic : index.columns) {
    int pos;
    const ColumnDef* c = ByNumber(def, ic.column_number, &pos);
    if (!c) return Status::Corruption("index names a column the table does not have");
    MDB_RETURN_IF_ERROR(KindEncodable(*c));
    const Value& v = values[pos];
    std::string part;
    if (c->column.type == ColumnType::kBool) {
      int64_t b = 0;
      ValueAsInt(v, &b);
      // The flag byte alone carries a yes/no value: yes sorts first.
      part.push_back(char(b ? 0x00 : 0xFF));
      if (!ic.ascending) part[0] = char(~uint8_t(part[0]));
      *key += part;
      continue;
    }
    if (IsNull(v)) {
      key->push_back(char(ic.ascending ? 0x00 : 0xFF));
      continue;
    }
    part.push_back(char(0x7F));
    int64_t i = 0;
    double d = 0;
    switch (c->column.type) {
      case ColumnType::kByte:
        if (!ValueAsInt(v, &i)) return Status::InvalidArgument("key value of the wrong kind");
        PutBE(&part, uint8_t(i), 1);
        break;
      case ColumnType::kInt:
        if (!ValueAsInt(v, &i)) return Status::InvalidArgument("key value of the wrong kind");
        PutBE(&part, uint16_t(int16_t(i)) ^ 0x8000u, 2);
        break;
      case ColumnType::kLong:
        if (!ValueAsInt(v, &i)) return Status::InvalidArgument("key value of the wrong kind");
        PutBE(&part, uint32_t(int32_t(i)) ^ 0x80000000u, 4);
        break;
      case ColumnType::kMoney: {
        int64_t units;
        if (auto* m = std::get_if<Money>(&v)) units = m->units;
        else if (ValueAsDouble(v, &d)) units = int64_t(std::llround(d * 10000));
        else return Status::InvalidArgument("key value of the wrong kind");
        PutBE(&part, uint64_t(units) ^ (uint64_t(1) << 63), 8);
        break;
      }
      case ColumnType::kFloat: {
        if (!ValueAsDouble(v, &d)) return Status::InvalidArgument("key value of the wrong kind");
        float f = float(d);
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        FloatKey(&part, bits, 4);
        break;
      }
      case ColumnType::kDouble:
      case ColumnType::kDateTime: {
        if (!ValueAsDouble(v, &d)) return Status::InvalidArgument("key value of the wrong kind");
        uint64_t bits;
        std::memcpy(&bits, &d, 8);
        FloatKey(&part, bits, 8);
        break;
      }
      case ColumnType::kText: {
        auto* t = std::get_if<std::u16string>(&v);
        if (!t) return Status::InvalidArgument("key value of the wrong kind");
        MDB_RETURN_IF_ERROR(EncodeTextKey(*t, &part));
        break;
      }
      default:
        return Status::NotSupported("index keys on this column kind are not supported");
    }
    if (!ic.ascending)
      for (char& ch : part) ch = char(~uint8_t(ch));
    *key += part;
  }
  return Status::OK();
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

Status WriteIndex(Pager* pager, uint32_t tdef_page, uint32_t used_map, const std::vector<IndexEntry>& entries,
                  const std::vector<uint32_t>& old_pages, uint32_t* root) {
  // Group entries into leaves, then build levels upward until one page.
  // Pages are filled to about 3/4 so the next writes find room.
  const size_t fill = kIdxCapacity * 3 / 4;
  struct Node {
    std::vector<std::string> entries;
    std::string last;  // the subtree's last leaf entry
  };
  std::vector<std::vector<Node>> levels(1);
  {
    std::vector<Node>& leaves = levels[0];
    leaves.emplace_back();
    size_t used = 0;
    for (const IndexEntry& e : entries) {
      std::string b = e.Bytes();
      if (used + b.size() > fill && !leaves.back().entries.empty()) {
        leaves.emplace_back();
        used = 0;
      }
      used += b.size();
      leaves.back().last = b;
      leaves.back().entries.push_back(std::move(b));
    }
  }
  while (levels.back().size() > 1) {
    std::vector<Node> up(1);
    size_t used = 0;
    for (size_t k = 0; k < levels.back().size(); ++k) {
      std::string b = levels.back()[k].last + std::string(4, '\0');  // child page filled in below
      if (used + b.size() > fill && !up.back().entries.empty()) {
        up.emplace_back();
        used = 0;
      }
      used += b.size();
      up.back().last = levels.back()[k].last;
      up.back().entries.push_back(std::move(b));
    }
    levels.push_back(std::move(up));
  }
  // Page numbers: the root keeps the first old page.
  size_t needed = 0;
  for (auto& l : levels) needed += l.size();
  std::vector<uint32_t> pool(old_pages.begin(), old_pages.end());
  UsageMap map;
  bool have_map = used_map != 0;
  if (have_map) MDB_RETURN_IF_ERROR(UsageMap::Load(pager, used_map, &map));
  while (pool.size() < needed) {
    uint32_t pg;
    MDB_RETURN_IF_ERROR(AllocatePage(pager, &pg));
    if (have_map) MDB_RETURN_IF_ERROR(map.Set(pager, pg, true));
    pool.push_back(pg);
  }
  for (size_t k = needed; k < pool.size(); ++k) {
    if (have_map) MDB_RETURN_IF_ERROR(map.Set(pager, pool[k], false));
    MDB_RETURN_IF_ERROR(ReleasePage(pager, pool[k]));
  }
  pool.resize(needed);
  std::vector<std::vector<uint32_t>> numbers(levels.size());
  size_t next = 0;
  for (size_t l = levels.size(); l-- > 0;)
    for (size_t k = 0; k < levels[l].size(); ++k) numbers[l].push_back(pool[next++]);
  for (size_t l = 0; l < levels.size(); ++l) {
    for (size_t k = 0; k < levels[l].size(); ++k) {
      Node& n = levels[l][k];
      if (l > 0)
        for (size_t c = 0; c < n.entries.size(); ++c) {
          // Children of this node are consecutive in the level below.
          size_t child_index = 0;
          for (size_t j = 0; j < k; ++j) child_index += levels[l][j].entries.size();
          child_index += c;
          uint32_t child = numbers[l - 1][child_index];
          std::string& e = n.entries[c];
          for (int i = 0; i < 4; ++i) e[e.size() - 4 + i] = char(uint8_t(child >> (8 * (3 - i))));
        }
      uint8_t buf[kPageSize];
      WritePage(buf, l == 0 ? kPageIndexLeaf : kPageIndexNode, tdef_page, n.entries);
      Put32(buf + kIdxPrevOffset, k > 0 ? numbers[l][k - 1] : 0);
      Put32(buf + kIdxNextOffset, k + 1 < levels[l].size() ? numbers[l][k + 1] : 0);
      MDB_RETURN_IF_ERROR(pager->Put(numbers[l][k], buf));
    }
  }
  *root = numbers.back()[0];
  return Status::OK();
}

}  // namespace mdb
