// Dates in statements: texts read as dates, and dates compared to the second.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "mdb/oadate.h"

namespace mdb {

// Seconds on one straight line, for comparing and ordering dates.
int64_t OaToSeconds(double oa);

// The date forms of ParseOaDate, and a time of day alone ("14:05:09").
// With us_order, "m/d/yyyy" is read too (the form of #...# literals).
bool ParseDateText(std::u16string_view text, bool us_order, double* oa);

}  // namespace mdb
