// Status: the result of an engine operation, as error values, not exceptions.
#pragma once

#include <string>
#include <utility>

namespace mdb {

class Status {
 public:
  enum class Code : unsigned char {
    kOk = 0,
    kNotFound,        // a table, column, row or file that does not exist
    kCorruption,      // the file's bytes contradict the format
    kNotSupported,    // a valid file or feature this engine does not handle
    kInvalidArgument, // a caller's value of the wrong kind, a broken statement
    kIOError,         // the file layer failed
    kConstraint,      // a key, a required value or a relationship refused
    kBusy,            // another process holds the lock too long
    kBadPassword,     // the database password did not match
    kReadOnly,        // the file can be read but not written (permissions, media, another program)
    kNoMemory,        // an allocation failed; the operation did nothing
  };

  // OK is a null pointer: statuses pass through every row a scan reads, so
  // success must cost nothing to make, move and test.
  Status() noexcept = default;
  ~Status() { delete state_; }
  Status(const Status& o) : state_(o.state_ ? new State(*o.state_) : nullptr) {}
  Status& operator=(const Status& o) {
    if (this != &o) {
      State* copy = o.state_ ? new State(*o.state_) : nullptr;
      delete state_;
      state_ = copy;
    }
    return *this;
  }
  Status(Status&& o) noexcept : state_(o.state_) { o.state_ = nullptr; }
  Status& operator=(Status&& o) noexcept {
    std::swap(state_, o.state_);
    return *this;
  }

  static Status OK() { return Status(); }
  static Status NotFound(std::string m) { return Status(Code::kNotFound, std::move(m)); }
  static Status Corruption(std::string m) { return Status(Code::kCorruption, std::move(m)); }
  static Status NotSupported(std::string m) { return Status(Code::kNotSupported, std::move(m)); }
  static Status InvalidArgument(std::string m) { return Status(Code::kInvalidArgument, std::move(m)); }
  static Status IOError(std::string m) { return Status(Code::kIOError, std::move(m)); }
  static Status Constraint(std::string m) { return Status(Code::kConstraint, std::move(m)); }
  static Status Busy(std::string m) { return Status(Code::kBusy, std::move(m)); }
  static Status BadPassword(std::string m) { return Status(Code::kBadPassword, std::move(m)); }
  static Status ReadOnly(std::string m) { return Status(Code::kReadOnly, std::move(m)); }
  static Status NoMemory(std::string m) { return Status(Code::kNoMemory, std::move(m)); }

  bool ok() const { return state_ == nullptr; }
  Code code() const { return state_ ? state_->code : Code::kOk; }
  bool IsNotFound() const { return code() == Code::kNotFound; }
  bool IsCorruption() const { return code() == Code::kCorruption; }
  bool IsIOError() const { return code() == Code::kIOError; }
  bool IsReadOnly() const { return code() == Code::kReadOnly; }
  const std::string& message() const;  // UTF-8
  std::string ToString() const;

 private:
  struct State {
    Code code;
    std::string msg;
  };
  Status(Code c, std::string m) : state_(new State{c, std::move(m)}) {}
  State* state_ = nullptr;
};

#define MDB_RETURN_IF_ERROR(expr)          \
  do {                                     \
    ::mdb::Status _st = (expr);            \
    if (!_st.ok()) return _st;             \
  } while (0)

}  // namespace mdb
