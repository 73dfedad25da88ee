// Values as text for dumps and comparisons: UTF-8, dates as
// YYYY-MM-DD HH:MM:SS, money with four decimals, binary as upper-case hex.
#pragma once

#include <string>

#include "mdb/mdb.h"

namespace mdb {

std::string Utf16ToUtf8Lossy(const std::u16string& s);
// One CSV cell: null is empty, texts quoted with doubled quotes.
std::string FormatValueCsv(const Value& v);
// The decimal digits of a Decimal, with its sign and scale applied.
std::string FormatDecimal(const Decimal& d);

}  // namespace mdb
