// Values that cross between the handlers and the runtime: text, byte
// blocks, date-times and the tagged value that ReadField and GetProperty give.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace rt {

// GB18030 bytes: the superset of GBK (code page 936) that holds every Unicode
// character; a GBK text is a GB18030 text with the same bytes (the program's
// literals are compiled as GBK). An absent text is the empty text.
using Text = std::string;

// A counted block of bytes (a photo: the complete bytes of an image file).
using Bytes = std::string;

// OLE automation date: days since 1899-12-30, the fraction is the time of day.
// Negative values count back from that day, with the fraction still forward.
struct DateTime {
  double oa = 0.0;
  bool operator==(const DateTime&) const = default;
};

enum class Kind : uint8_t { Empty, Text, Integer, Float, Bool, DateTime, Bytes };

// A value together with its kind. Empty is what ReadField gives for a field
// holding no data (NULL); ToText of it is "", ToBinary is empty, ToDateTime is
// the zero date.
class Value {
 public:
  Value() = default;
  static Value FromText(Text t) { Value v; v.v_ = std::move(t); return v; }
  static Value FromInt(int64_t i) { Value v; v.v_ = i; return v; }
  static Value FromFloat(double d) { Value v; v.v_ = d; return v; }
  static Value FromBool(bool b) { Value v; v.v_ = b; return v; }
  static Value FromDate(DateTime d) { Value v; v.v_ = d; return v; }
  static Value FromBytes(Bytes b) { Value v; v.v_ = BytesBox{std::move(b)}; return v; }

  Kind kind() const { return static_cast<Kind>(v_.index()); }
  bool empty() const { return kind() == Kind::Empty; }
  const Text& text() const { return std::get<Text>(v_); }
  int64_t integer() const { return std::get<int64_t>(v_); }
  double floating() const { return std::get<double>(v_); }
  bool boolean() const { return std::get<bool>(v_); }
  DateTime date() const { return std::get<DateTime>(v_); }
  const Bytes& bytes() const { return std::get<BytesBox>(v_).b; }
  // The text moved out, for converting a temporary without a copy.
  Text TakeText() { return std::move(std::get<Text>(v_)); }

  bool operator==(const Value&) const = default;

 private:
  // Text and Bytes are both std::string; the box keeps the variant's kinds apart.
  struct BytesBox {
    Bytes b;
    bool operator==(const BytesBox&) const = default;
  };
  std::variant<std::monostate, Text, int64_t, double, bool, DateTime, BytesBox> v_;
};

}  // namespace rt
