// Floating point gives the same bits in every build. The 32-bit build's x87
// unit would keep intermediate results in extended precision and round them
// differently (the builds use SSE2 instead: cmake/mingw-i686.cmake), so a
// date written by one build could differ in the last bit from the same date
// written by another. Each case hashes the bits of many results and holds the
// hash to the one the 64-bit builds compute.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "mdb/oadate.h"
#include "runtime/value.h"
#include "vorta/convert.h"

namespace {

struct Hash {
  uint64_t h = 1469598103934665603ull;
  void Bytes(const void* p, size_t n) {
    for (size_t i = 0; i < n; ++i) h = (h ^ static_cast<const unsigned char*>(p)[i]) * 1099511628211ull;
  }
  void Double(double d) { Bytes(&d, sizeof d); }
  void Text(const std::string& s) { Bytes(s.data(), s.size()); }
};

// Every second of days on both sides of the base day and at the ends of
// the range, and the midnights between.
TEST(FloatingPoint, DatesFromTheirPartsAndTexts) {
  Hash hash;
  int mismatches = 0;
  for (mdb::CivilTime day : {mdb::CivilTime{1899, 12, 29}, mdb::CivilTime{1985, 6, 15},
                             mdb::CivilTime{2001, 12, 23}, mdb::CivilTime{9999, 12, 31}}) {
    for (int s = 0; s < 86400; ++s) {
      mdb::CivilTime t = day;
      t.hour = s / 3600;
      t.minute = s / 60 % 60;
      t.second = s % 60;
      double oa = mdb::CivilToOa(t);
      hash.Double(oa);
      // The text the program writes and the statement's literal read back
      // to the very same value; every 7th second, to keep it quick.
      if (s % 7) continue;
      char text[40];
      std::snprintf(text, sizeof text, "%04d-%d-%d %d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                    t.second);
      double parsed = -1, back = -1;
      if (!mdb::ParseOaDate(text, false, &parsed) || parsed != oa) ++mismatches;
      if (!mdb::ParseOaDate(mdb::FormatOaDate(oa), false, &back) || back != oa) ++mismatches;
      mdb::CivilTime c;
      if (!mdb::OaToCivil(oa, &c) || !(c == t)) ++mismatches;
    }
  }
  for (int y = 100; y <= 9999; y += 37)
    for (int m = 1; m <= 12; ++m) hash.Double(mdb::CivilToOa(mdb::CivilTime{y, m, 28, 12, 0, 1}));
  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(hash.h, 0x3f716e689bbd7d37ull) << std::hex << hash.h;
}

// Numbers as the program shows them: texts of computed doubles.
TEST(FloatingPoint, TextsOfComputedNumbers) {
  Hash hash;
  for (int i = -2000; i <= 2000; ++i) {
    double x = i * 0.1 + i / 3.0;
    hash.Text(vorta::ToText(rt::Value::FromFloat(x)));
    hash.Text(vorta::ToText(rt::Value::FromFloat(x * 1e-7)));
    hash.Text(vorta::ToText(rt::Value::FromDate({x * 1000.0 + i / 86400.0})));
  }
  EXPECT_EQ(hash.h, 0x28629ffbf22558f2ull) << std::hex << hash.h;
}

}  // namespace
