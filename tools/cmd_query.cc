// usermgr-db query FILE "SELECT ..." [--password P] [--hex]: the result as CSV.
#include <cstdio>
#include <memory>
#include <string>

#include "mdb/mdb.h"
#include "mdb/sql.h"
#include "tools/command.h"
#include "vorta/convert.h"
#include "vorta/text_codec.h"

namespace tool {

namespace {

std::string Csv(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"') out += "\"\"";
    else out.push_back(c);
  }
  return out + "\"";
}

// Exact decimal text of magnitude / 10^scale.
// magnitude: 96 bits as three 32-bit limbs, most significant first.
std::string ScaledDecimal(bool negative, uint32_t hi, uint32_t mid, uint32_t lo, int scale) {
  std::string digits;
  uint32_t limbs[3] = {hi, mid, lo};
  do {
    uint64_t rem = 0;
    for (uint32_t& limb : limbs) {
      uint64_t cur = (rem << 32) | limb;
      limb = static_cast<uint32_t>(cur / 10);
      rem = cur % 10;
    }
    digits.insert(digits.begin(), static_cast<char>('0' + rem));
  } while (limbs[0] | limbs[1] | limbs[2]);
  if (scale > 0) {
    while (static_cast<int>(digits.size()) <= scale) digits.insert(digits.begin(), '0');
    digits.insert(digits.end() - scale, '.');
    while (digits.back() == '0') digits.pop_back();
    if (digits.back() == '.') digits.pop_back();
  }
  if (negative && digits != "0") digits.insert(digits.begin(), '-');
  return digits;
}

std::string Field(const mdb::Value& v, bool hex) {
  static const char kHex[] = "0123456789abcdef";
  switch (v.index()) {
    case 0: return "";
    case 1: return std::get<bool>(v) ? "true" : "false";
    case 2: return std::to_string(std::get<int64_t>(v));
    case 3: return vorta::ToText(rt::Value::FromFloat(std::get<double>(v)));
    case 4: {
      int64_t u = std::get<mdb::Money>(v).units;
      uint64_t m = u < 0 ? static_cast<uint64_t>(-(u + 1)) + 1 : static_cast<uint64_t>(u);
      return ScaledDecimal(u < 0, 0, static_cast<uint32_t>(m >> 32), static_cast<uint32_t>(m), 4);
    }
    case 5: return vorta::ToText(rt::Value::FromDate(rt::DateTime{std::get<mdb::Date>(v).oa}));
    case 6: return Csv(text::Utf16ToUtf8(std::get<std::u16string>(v)));
    case 7: {
      const std::string& b = std::get<mdb::Binary>(v).bytes;
      if (!hex) return std::to_string(b.size());
      std::string out;
      for (unsigned char c : b) {
        out.push_back(kHex[c >> 4]);
        out.push_back(kHex[c & 15]);
      }
      return out;
    }
    case 8: {
      const uint8_t* b = std::get<mdb::Guid>(v).bytes;
      char buf[40];
      std::snprintf(buf, sizeof buf,
                    "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[3],
                    b[2], b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13],
                    b[14], b[15]);
      return buf;
    }
    case 9: {
      const mdb::Decimal& d = std::get<mdb::Decimal>(v);
      return ScaledDecimal(d.negative, d.hi, d.mid, d.lo, d.scale);
    }
  }
  return "";
}

int Run(const std::vector<std::string>& raw) {
  std::vector<std::string> args = raw;
  std::string password = kDefaultPassword;
  TakeOption(&args, "--password", &password);
  bool hex = TakeFlag(&args, "--hex");
  if (args.size() != 2) {
    std::fprintf(stderr, "usage: usermgr-db query FILE \"SELECT ...\" [--password P] [--hex]\n");
    return 2;
  }
  std::unique_ptr<mdb::Database> db;
  if (!OpenDatabase("query", args[0], password, true, &db)) return 1;
  std::unique_ptr<mdb::RecordSet> rs;
  mdb::Status s = mdb::ExecuteQuery(db.get(), text::Utf8ToUtf16(args[1]), &rs);
  if (!s.ok()) {
    std::fprintf(stderr, "usermgr-db query: %s\n", s.ToString().c_str());
    return 1;
  }
  // Rows are written as they are read; an error midway still fails the run.
  std::string line;
  const auto& names = rs->column_names();
  for (size_t i = 0; i < names.size(); ++i) {
    if (i) line.push_back(',');
    line += Csv(text::Utf16ToUtf8(names[i]));
  }
  std::printf("%s\n", line.c_str());
  while (!rs->AtEnd()) {
    line.clear();
    for (size_t i = 0; i < names.size(); ++i) {
      mdb::Value v;
      s = rs->Get(static_cast<int>(i), &v);
      if (!s.ok()) {
        std::fprintf(stderr, "usermgr-db query: %s\n", s.ToString().c_str());
        return 1;
      }
      if (i) line.push_back(',');
      line += Field(v, hex);
    }
    std::printf("%s\n", line.c_str());
    s = rs->MoveNext();
    if (!s.ok()) {
      std::fprintf(stderr, "usermgr-db query: %s\n", s.ToString().c_str());
      return 1;
    }
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}

Registrar reg({"query", "query FILE \"SELECT ...\" [--password P] [--hex]   print the result as CSV (UTF-8)", Run});

}  // namespace

}  // namespace tool
