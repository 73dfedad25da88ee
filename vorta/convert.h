// The runtime's conversions and file reading, the same on every build.
#pragma once

#include "runtime/value.h"

namespace vorta {

// Texts unchanged; integers in decimal; floating numbers in plain decimal
// (shortest form that reads back the same, never an exponent); date-times as
// "1990-05-07" at midnight and "2001-12-23 14:05:09" otherwise; yes/no as
// "真" or "假"; a byte block as its bytes; an empty or Error value as "". A
// text or byte block given as a temporary is moved, not copied.
rt::Text ToText(rt::Value v);

// A date-time as it is; a number as an OLE date; a text in one of the date
// forms ToText writes (or "1990/5/7", with or without a time); anything else,
// an empty or Error value included, is the zero date 1899-12-30.
rt::DateTime ToDateTime(const rt::Value& v);

// A byte block as it is; a text's bytes; an integer as its 4 little-endian
// bytes (8 when it needs them), a floating number or date-time as the 8 bytes
// of its double, yes/no as 4 bytes 0 or 1; empty for an empty or Error
// value. A byte block or text given as a temporary is moved, not copied.
rt::Bytes ToBinary(rt::Value v);

// 'y' year, 'm' month, 'd' day, 'h' hour, 'n' minute, 's' second; 0 for a
// date-time outside the years 100 to 9999.
int DatePart(rt::DateTime d, char part);

// The whole file, or an empty block when it cannot be read or does not fit
// in memory. It is read into one block of its size, never grown by copying.
rt::Bytes ReadFile(const rt::Text& name);

// The size of the file in bytes, or -1 when it is no file that can be read.
int64_t FileSize(const rt::Text& name);

}  // namespace vorta
