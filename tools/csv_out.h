// Rows of CSV to stdout through one buffer that goes out in large writes,
// so an export costs about what formatting its values costs. Values are
// written in place with the writers of mdb/value_format.h.
#pragma once

#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

namespace tool {

class CsvOut {
 public:
  // Room for n more bytes of the current row; Advance to the end written.
  char* Room(size_t n) {
    if (n > cap_ - len_) Grow(n);
    return buf_.get() + len_;
  }
  void Advance(const char* end) { len_ = size_t(end - buf_.get()); }
  void Put(char c) { *Room(1) = c, ++len_; }
  void Put(std::string_view s) {
    std::memcpy(Room(s.size()), s.data(), s.size());
    len_ += s.size();
  }

  // Ends the row; past 1 MB the buffer is written out. False once a write
  // has failed (a full disk, a closed pipe).
  bool EndRow() {
    Put('\n');
    if (len_ >= kFlushAt) Flush();
    row_start_ = len_;
    return ok_;
  }
  // Writes the whole rows left (a row whose reading failed midway is
  // dropped); false when any write failed.
  bool Finish() {
    len_ = row_start_;
    Flush();
    return std::fflush(stdout) == 0 && ok_;
  }

 private:
  static constexpr size_t kFlushAt = 1 << 20;
  void Flush() {
    if (len_ > 0 && std::fwrite(buf_.get(), 1, len_, stdout) != len_) ok_ = false;
    len_ = row_start_ = 0;
  }
  // A row larger than the buffer (a photo in hex) makes it grow.
  void Grow(size_t n) {
    size_t cap = cap_ ? cap_ : kFlushAt + (kFlushAt >> 2);
    while (cap - len_ < n) cap *= 2;
    std::unique_ptr<char[]> b(new char[cap]);
    if (len_) std::memcpy(b.get(), buf_.get(), len_);
    buf_ = std::move(b);
    cap_ = cap;
  }
  std::unique_ptr<char[]> buf_;
  size_t cap_ = 0, len_ = 0, row_start_ = 0;
  bool ok_ = true;
};

}  // namespace tool
