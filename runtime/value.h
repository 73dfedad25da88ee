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

enum class Kind : uint8_t { Empty, Text, Integer, Float, Bool, DateTime, Bytes, Error };

// A value together with its kind. Empty is what ReadField gives for a field
// holding no data (NULL); ToText of it is "", ToBinary is empty, ToDateTime is
// the zero date. Error is what the runtime gives for a value it could not
// produce: a field of a damaged or unreadable file, or one that needed more
// memory than there was. It converts like Empty, but the caller stops: it
// must not pass on what it could not read.
class Value {
 public:
  Value() = default;
  static Value FromText(Text t) { Value v; v.v_ = std::move(t); return v; }
  static Value FromInt(int64_t i) { Value v; v.v_ = i; return v; }
  static Value FromFloat(double d) { Value v; v.v_ = d; return v; }
  static Value FromBool(bool b) { Value v; v.v_ = b; return v; }
  static Value FromDate(DateTime d) { Value v; v.v_ = d; return v; }
  static Value FromBytes(Bytes b) { Value v; v.v_ = BytesBox{std::move(b)}; return v; }
  static Value Error() { Value v; v.v_ = Unreadable{}; return v; }

  Kind kind() const { return static_cast<Kind>(v_.index()); }
  bool empty() const { return kind() == Kind::Empty; }
  bool failed() const { return kind() == Kind::Error; }
  const Text& text() const { return std::get<Text>(v_); }
  int64_t integer() const { return std::get<int64_t>(v_); }
  double floating() const { return std::get<double>(v_); }
  bool boolean() const { return std::get<bool>(v_); }
  DateTime date() const { return std::get<DateTime>(v_); }
  const Bytes& bytes() const { return std::get<BytesBox>(v_).b; }
  // The text or byte block itself, moved out: a photo is never copied to be
  // handed on.
  Text TakeText() { return std::move(std::get<Text>(v_)); }
  Bytes TakeBytes() { return std::move(std::get<BytesBox>(v_).b); }

  bool operator==(const Value&) const = default;

 private:
  // Text and Bytes are both std::string; the box keeps the variant's kinds apart.
  struct BytesBox {
    Bytes b;
    bool operator==(const BytesBox&) const = default;
  };
  struct Unreadable {
    bool operator==(const Unreadable&) const = default;
  };
  std::variant<std::monostate, Text, int64_t, double, bool, DateTime, BytesBox, Unreadable> v_;
};

}  // namespace rt
