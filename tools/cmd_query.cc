// usermgr-db query FILE "SELECT ..." [--password P] [--hex]: the result as CSV.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "mdb/mdb.h"
#include "mdb/oadate.h"
#include "mdb/sql.h"
#include "mdb/value_format.h"
#include "tools/command.h"
#include "tools/csv_out.h"
#include "vorta/convert.h"
#include "vorta/text_codec.h"

namespace tool {

namespace {

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

void PutField(const mdb::Value& v, bool hex, CsvOut* out) {
  switch (v.index()) {
    case 0: return;
    case 1: out->Put(std::get<bool>(v) ? "true" : "false"); return;
    case 2: out->Advance(mdb::PutInt(std::get<int64_t>(v), out->Room(mdb::kIntRoom))); return;
    case 3: out->Put(vorta::ToText(rt::Value::FromFloat(std::get<double>(v)))); return;
    case 4: {
      int64_t u = std::get<mdb::Money>(v).units;
      uint64_t m = u < 0 ? static_cast<uint64_t>(-(u + 1)) + 1 : static_cast<uint64_t>(u);
      out->Put(ScaledDecimal(u < 0, 0, static_cast<uint32_t>(m >> 32), static_cast<uint32_t>(m), 4));
      return;
    }
    case 5: {  // as the program shows dates
      mdb::CivilTime t;
      if (!mdb::OaToCivil(std::get<mdb::Date>(v).oa, &t)) return;
      out->Advance(mdb::PutCivil(t, t.hour != 0 || t.minute != 0 || t.second != 0, out->Room(20)));
      return;
    }
    case 6: {
      const std::u16string& text = std::get<std::u16string>(v);
      out->Advance(mdb::PutCsvText(text, out->Room(mdb::CsvTextRoom(text))));
      return;
    }
    case 7: {
      const std::string& b = std::get<mdb::Binary>(v).bytes;
      if (hex) out->Advance(mdb::PutHex(b, "0123456789abcdef", out->Room(2 * b.size())));
      else out->Advance(mdb::PutInt(static_cast<int64_t>(b.size()), out->Room(mdb::kIntRoom)));
      return;
    }
    case 8: {
      const uint8_t* b = std::get<mdb::Guid>(v).bytes;
      char buf[40];
      std::snprintf(buf, sizeof buf,
                    "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[3],
                    b[2], b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13],
                    b[14], b[15]);
      out->Put(buf);
      return;
    }
    case 9: {
      const mdb::Decimal& d = std::get<mdb::Decimal>(v);
      out->Put(ScaledDecimal(d.negative, d.hi, d.mid, d.lo, d.scale));
      return;
    }
  }
}

int Fail(const mdb::Status& s) {
  std::fprintf(stderr, "usermgr-db query: %s\n", s.ToString().c_str());
  return 1;
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
  if (!s.ok()) return Fail(s);
  // Rows go out as they are read; an error midway still fails the run, after
  // the rows before it.
  CsvOut out;
  const auto& names = rs->column_names();
  for (size_t i = 0; i < names.size(); ++i) {
    if (i) out.Put(',');
    out.Advance(mdb::PutCsvText(names[i], out.Room(mdb::CsvTextRoom(names[i]))));
  }
  out.EndRow();
  // Without --hex a photo is only its size: its pages are not read.
  std::vector<uint8_t> sizes(names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    mdb::ColumnType t = rs->column_types()[i];
    sizes[i] = !hex && (t == mdb::ColumnType::kOle || t == mdb::ColumnType::kBinary);
  }
  // Each row's values in one call, photos' sizes apart.
  std::vector<uint8_t> wanted(names.size());
  for (size_t i = 0; i < names.size(); ++i) wanted[i] = !sizes[i];
  std::vector<const mdb::Value*> values(names.size());
  for (; !rs->AtEnd(); s = rs->MoveNext()) {
    if (!s.ok()) break;
    s = rs->PeekRow(wanted.data(), values.data());
    for (size_t i = 0; i < names.size() && s.ok(); ++i) {
      if (i) out.Put(',');
      if (sizes[i]) {
        int64_t bytes;
        s = rs->Length(static_cast<int>(i), &bytes);
        if (s.ok() && bytes >= 0) out.Advance(mdb::PutInt(bytes, out.Room(mdb::kIntRoom)));
        continue;
      }
      PutField(*values[i], hex, &out);
    }
    if (!s.ok() || !out.EndRow()) break;
  }
  bool written = out.Finish();
  if (!s.ok()) return Fail(s);
  return written ? 0 : 1;
}

Registrar reg({"query", "query FILE \"SELECT ...\" [--password P] [--hex]   print the result as CSV (UTF-8)", Run});

}  // namespace

}  // namespace tool
