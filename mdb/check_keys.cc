#include "mdb/check_keys.h"

#include <map>

#include "mdb/index_key.h"

namespace mdb {

namespace {

std::string Hex(const std::string& s, size_t max) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < s.size() && i < max; ++i) {
    out += kDigits[uint8_t(s[i]) >> 4];
    out += kDigits[uint8_t(s[i]) & 15];
  }
  if (s.size() > max) out += "...";
  return out;
}

std::string RowName(uint32_t page, uint32_t row) { return std::to_string(page) + ":" + std::to_string(row); }

}  // namespace

void CheckIndexKeys(const TableDef& def, const RealIndexDef& index, const std::vector<IndexEntry>& entries,
                    const std::vector<std::pair<RowId, std::vector<Value>>>& rows, const std::string& iname,
                    std::vector<std::string>* faults) {
  // Stored keys by the row they point at (a row may wrongly have several).
  std::map<uint64_t, std::vector<const std::string*>> stored;
  for (const IndexEntry& e : entries) stored[(uint64_t(e.page) << 8) | e.row].push_back(&e.key);
  size_t missing = 0, wrong = 0;
  std::string example;
  for (const auto& [id, values] : rows) {
    if (IndexSkipsRow(def, index, values)) continue;  // ignores nulls: no entry for this row
    auto it = stored.find((uint64_t(id.page) << 8) | (id.row & 0xFF));
    if (it == stored.end() || it->second.empty()) {
      ++missing;
      continue;
    }
    std::vector<const std::string*>& keys = it->second;
    std::string want;
    if (!EncodeIndexKey(def, index, values, &want).ok()) {
      keys.pop_back();  // not known: the pointer is all that can be compared
      continue;
    }
    std::string other;
    bool has_other = EncodeIndexKeyTwoPlaceExpansions(def, index, values, &other).ok() && other != want;
    size_t k = 0;
    while (k < keys.size() && *keys[k] != want && !(has_other && *keys[k] == other)) ++k;
    if (k == keys.size()) {
      if (wrong++ == 0)
        example = "row " + RowName(id.page, id.row) + " has " + Hex(*keys.back(), 48) + ", its values give " +
                  Hex(want, 48);
      k = keys.size() - 1;
    }
    keys.erase(keys.begin() + long(k));
  }
  size_t extra = 0;
  for (const auto& [row, keys] : stored) extra += keys.size();
  if (missing || extra)
    faults->push_back(iname + ": " + std::to_string(missing) + " rows lack their entry, " + std::to_string(extra) +
                      " entries point at no row");
  if (wrong)
    faults->push_back(iname + ": " + std::to_string(wrong) + " entries hold another key than their row's (" +
                      example + ")");
}

}  // namespace mdb
