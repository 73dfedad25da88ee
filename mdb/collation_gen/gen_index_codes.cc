// Writes mdb/index_codes_general.inc: how the General sort order (1033, the
// legacy form Access 2000-2003 record) writes each BMP character into a text
// index key, measured from a file whose index holds one key per character.
// Run at development time only, with the engine already built:
//
//   g++ -std=c++20 -O2 -I. -o gen_index_codes mdb/collation_gen/gen_index_codes.cc build/native/libmdb.a
//   ./gen_index_codes ../shared/fixtures/mdb/textkeys_general_V2000.mdb > mdb/index_codes_general.inc
//
// The file's table [Chars] (Code long, Ch text) has one row per character
// U+0001..U+FFFF except the surrogates and an index on Ch; [Strings] (ID, S,
// N) has mixed texts with an index on S. A key of one character is
//
//   7F  inline  01  [extra]  [01 01 [marks FF 02 80 FF 80 [FF]] [01 80 07 06 code]]  00
//
// and tells the character's kind: inline bytes alone (simple), inline bytes
// and extra bytes (accented), extra bytes alone (a mark that adds to the
// previous character's extra byte), the 01 01 ... 80 07 06 code tail alone
// (a character left out of the order and recorded by position), inline bytes
// with the FF 02 80 FF 80 block (kana and the like, with one 2-bit mark), or
// nothing at all (ignored). A trailing space is dropped before a key is made,
// so the space's own code is read from a [Strings] key instead.
//
// Output: a byte stream, one operation per character or run of characters,
// in code point order from U+0000:
//   00 n        n characters the file does not show (U+0000, surrogates)
//   01 n        n ignored characters
//   02 n        n simple characters, each one more than the one before
//               (inline bytes read as one big-endian number)
//   03 L b..    one simple character with L inline bytes
//   04 L b.. E e..     accented: L inline bytes, E extra bytes
//   05 c        left out of the order, recorded with code byte c
//   06 m        a mark adding m to the previous extra byte
//   07 L b.. E e.. f   kana-like: inline, extra bytes, mark (2 or 3)
// n is a LEB128 number. mdb/index_key.cc decodes it once, at first use.
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mdb/database_impl.h"
#include "mdb/index.h"
#include "mdb/row_write.h"
#include "mdb/table_impl.h"

namespace {

using namespace mdb;

enum Kind { kUnknown, kIgnored, kSimple, kAccented, kUnprintable, kMark, kKana };

struct Code {
  Kind kind = kUnknown;
  std::string inl, extra;
  uint8_t aux = 0;  // unprintable code, mark, or kana mark (2 or 3)
};

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "gen_index_codes: %s\n", what.c_str());
  std::exit(1);
}

std::string Hex(const std::string& s) {
  std::string o;
  char b[4];
  for (unsigned char c : s) {
    std::snprintf(b, sizeof b, "%02x", c);
    o += b;
  }
  return o;
}

// Splits the key of a one-character text (without the 7F flag) into its parts.
Code Decompose(const std::string& key) {
  auto fail = [&]() -> Code { Die("unexpected key " + Hex(key)); };
  if (key.size() < 2 || uint8_t(key[0]) != 0x7F || key.back() != 0) return fail();
  std::string b = key.substr(1, key.size() - 2);
  size_t end = b.find('\x01');
  if (end == std::string::npos) return fail();
  Code c;
  c.inl = b.substr(0, end);
  std::string rest = b.substr(end + 1);
  size_t two = rest.find("\x01\x01");
  std::string tail;
  if (two == std::string::npos) {
    c.extra = rest;
  } else {
    c.extra = rest.substr(0, two);
    tail = rest.substr(two + 2);
  }
  const std::string marks_end("\xFF\x02\x80\xFF\x80", 5);
  if (tail.empty()) {
    if (c.inl.empty() && c.extra.empty()) c.kind = kIgnored;
    else if (c.inl.empty()) {
      if (c.extra.size() != 1) return fail();
      c.kind = kMark;
      c.aux = uint8_t(c.extra[0]);
      c.extra.clear();
    } else {
      c.kind = c.extra.empty() ? kSimple : kAccented;
    }
  } else if (tail[0] == '\x01') {
    // 01 80 07 06 code: an unprintable character at position 0.
    if (!c.inl.empty() || !c.extra.empty() || tail.size() != 5 || tail.compare(1, 3, "\x80\x07\x06") != 0) return fail();
    c.kind = kUnprintable;
    c.aux = uint8_t(tail[4]);
  } else {
    size_t m = tail.find(marks_end);
    if (m == std::string::npos || m + marks_end.size() != tail.size() || c.inl.empty()) return fail();
    c.kind = kKana;
    if (m == 0) c.aux = 3;  // a trailing 3 is dropped from the mark bytes
    else if (m == 1 && uint8_t(tail[0]) == 0xA0) c.aux = 2;  // 0x80 | 2 << 4
    else return fail();
  }
  if (c.inl.size() > 4 || c.extra.size() > 2) return fail();
  for (char ch : c.inl)
    if (uint8_t(ch) < 2) return fail();
  return c;
}

std::u16string TextOf(const Value& v) {
  auto* s = std::get_if<std::u16string>(&v);
  return s ? *s : std::u16string();
}

void Leb(std::string* out, uint32_t n) {
  do {
    uint8_t b = n & 0x7F;
    n >>= 7;
    if (n) b |= 0x80;
    out->push_back(char(b));
  } while (n);
}

uint64_t AsNumber(const std::string& s) {
  uint64_t v = 0;
  for (unsigned char c : s) v = (v << 8) | c;
  return v;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) Die("usage: gen_index_codes textkeys_general_V2000.mdb");
  OpenOptions opts;
  opts.read_only = true;
  std::unique_ptr<Database> db;
  Status s = Database::Open(Env::Default(), argv[1], opts, &db);
  if (!s.ok()) Die(s.ToString());
  auto* d = static_cast<DatabaseImpl*>(db.get());
  if (d->header().sort_order != 1033 || d->header().sort_version != 0) Die("the file's sort order is not General");
  d->BeginRead();

  // Every entry of a table's first index with the row's text column.
  auto entries = [&](const std::u16string& table, const std::u16string& column) {
    std::unique_ptr<TableImpl> t;
    Status st = d->OpenTableImpl(table, &t);
    if (!st.ok()) Die(st.ToString());
    int col = t->ColumnIndex(column);
    if (col < 0 || t->def().real_indexes.empty()) Die("unexpected table layout");
    std::vector<std::pair<std::u16string, std::string>> out;
    const RealIndexDef& r = t->def().real_indexes[0];
    if (r.columns.size() != 1 || r.columns[0].column_number != t->def().columns[col].number) Die("unexpected index");
    std::vector<IndexEntry> ents;
    std::vector<uint32_t> pages;
    st = ReadIndex(d->pager(), r.first_page, &ents, &pages);
    if (!st.ok()) Die(st.ToString());
    for (const IndexEntry& e : ents) {
      std::string row;
      std::vector<Value> vals;
      st = t->ReadRowBytes(RowId{e.page, e.row}, &row);
      if (st.ok()) st = t->DecodeRow(row, &vals);
      if (!st.ok()) Die(st.ToString());
      if (IsNull(vals[col])) continue;
      out.emplace_back(TextOf(vals[col]), e.key);
    }
    return out;
  };

  std::vector<Code> codes(0x10000);
  // The Code column tells the character even where a reader could not.
  {
    std::unique_ptr<TableImpl> t;
    s = d->OpenTableImpl(u"Chars", &t);
    if (!s.ok()) Die(s.ToString());
    int code_col = t->ColumnIndex(u"Code");
    const RealIndexDef& r = t->def().real_indexes[0];
    std::vector<IndexEntry> ents;
    std::vector<uint32_t> pages;
    s = ReadIndex(d->pager(), r.first_page, &ents, &pages);
    if (!s.ok()) Die(s.ToString());
    size_t seen = 0;
    for (const IndexEntry& e : ents) {
      std::string row;
      std::vector<Value> vals;
      s = t->ReadRowBytes(RowId{e.page, e.row}, &row);
      if (s.ok()) s = t->DecodeRow(row, &vals);
      if (!s.ok()) Die(s.ToString());
      int64_t cp = 0;
      if (!ValueAsInt(vals[code_col], &cp) || cp < 1 || cp > 0xFFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        Die("unexpected code point");
      if (codes[cp].kind != kUnknown) Die("a character twice");
      codes[cp] = Decompose(e.key);
      ++seen;
    }
    if (seen != 0xFFFF - 0x800) Die("expected one key per BMP character, found " + std::to_string(seen));
  }

  // The space: its one-character key is empty (trailing spaces are dropped),
  // so take it from a text of spaces followed by a simple character.
  {
    std::optional<std::string> space;
    for (const auto& [text, key] : entries(u"Strings", u"S")) {
      size_t k = 0;
      while (k < text.size() && text[k] == u' ') ++k;
      if (k == 0 || k == text.size()) continue;
      const Code& next = codes[text[k]];
      if (next.kind != kSimple) continue;
      size_t end = key.find('\x01', 1);
      std::string inl = key.substr(1, end - 1);
      size_t at = inl.find(next.inl);
      if (at == std::string::npos || at % k != 0 || at == 0) continue;
      std::string one = inl.substr(0, at / k);
      std::string all;
      for (size_t i = 0; i < k; ++i) all += one;
      if (all != inl.substr(0, at)) continue;
      if (space && *space != one) Die("the space's code differs between texts");
      space = one;
    }
    if (!space) Die("no text shows the space's code");
    if (codes[u' '].kind != kIgnored) Die("expected an empty key for a single space");
    codes[u' '].kind = kSimple;
    codes[u' '].inl = *space;
  }
  d->EndRead();

  std::string out;
  size_t ops = 0;
  for (uint32_t cp = 0; cp < 0x10000;) {
    const Code& c = codes[cp];
    ++ops;
    if (c.kind == kUnknown || c.kind == kIgnored) {
      uint32_t n = 0;
      while (cp + n < 0x10000 && codes[cp + n].kind == c.kind) ++n;
      out.push_back(c.kind == kUnknown ? 0 : 1);
      Leb(&out, n);
      cp += n;
      continue;
    }
    if (c.kind == kSimple && cp > 0 && codes[cp - 1].kind == kSimple) {
      uint32_t n = 0;
      while (cp + n < 0x10000 && codes[cp + n].kind == kSimple &&
             codes[cp + n].inl.size() == codes[cp + n - 1].inl.size() &&
             AsNumber(codes[cp + n].inl) == AsNumber(codes[cp + n - 1].inl) + 1)
        ++n;
      if (n > 0) {
        out.push_back(2);
        Leb(&out, n);
        cp += n;
        continue;
      }
    }
    switch (c.kind) {
      case kSimple:
        out.push_back(3);
        out.push_back(char(c.inl.size()));
        out += c.inl;
        break;
      case kAccented:
        out.push_back(4);
        out.push_back(char(c.inl.size()));
        out += c.inl;
        out.push_back(char(c.extra.size()));
        out += c.extra;
        break;
      case kUnprintable:
        out.push_back(5);
        out.push_back(char(c.aux));
        break;
      case kMark:
        out.push_back(6);
        out.push_back(char(c.aux));
        break;
      case kKana:
        out.push_back(7);
        out.push_back(char(c.inl.size()));
        out += c.inl;
        out.push_back(char(c.extra.size()));
        out += c.extra;
        out.push_back(char(c.aux));
        break;
      default:
        Die("unreachable");
    }
    ++cp;
  }

  std::printf(
      "// Generated by mdb/collation_gen/gen_index_codes.cc from the text index of\n"
      "// every BMP character in textkeys_general_V2000.mdb. Do not edit. The\n"
      "// operations are described in the generator.\n");
  std::printf("constexpr unsigned kGeneralCodeOps = %zu;\n", ops);
  std::printf("const unsigned char kGeneralCodes[%zu] = {\n", out.size());
  for (size_t i = 0; i < out.size(); ++i) {
    std::printf("%u,", unsigned(uint8_t(out[i])));
    if (i % 24 == 23) std::printf("\n");
  }
  std::printf("};\n");
  return 0;
}
