// Values as text for dumps and comparisons: UTF-8, dates as
// YYYY-MM-DD HH:MM:SS, money with four decimals, binary as upper-case hex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "mdb/mdb.h"

namespace mdb {

std::string Utf16ToUtf8Lossy(const std::u16string& s);
// One CSV cell: null is empty, texts quoted with doubled quotes.
std::string FormatValueCsv(const Value& v);
// The decimal digits of a Decimal, with its sign and scale applied.
std::string FormatDecimal(const Decimal& d);

// Writers into a caller's buffer, for exporters of many rows: each needs the
// room it names and returns the end of what it wrote. Unpaired surrogates
// become U+FFFD.
inline size_t Utf8Room(std::u16string_view s) { return 3 * s.size() + 1; }
char* PutUtf8(std::u16string_view s, char* o);
// The text in double quotes, each quote doubled; line breaks and commas stay
// inside the quotes as they are.
inline size_t CsvTextRoom(std::u16string_view s) { return 3 * s.size() + 3; }
char* PutCsvText(std::u16string_view s, char* o);
// Two hex digits per byte, from `digits` ("0123456789ABCDEF" or lower case).
char* PutHex(std::string_view bytes, const char* digits, char* o);
constexpr size_t kIntRoom = 20;
char* PutInt(int64_t v, char* o);
// FormatValueCsv's text.
size_t ValueCsvRoom(const Value& v);
char* PutValueCsv(const Value& v, char* o);

// The same appended to a string.
void AppendUtf8(std::u16string_view s, std::string* out);
void AppendCsvText(std::u16string_view s, std::string* out);

}  // namespace mdb
