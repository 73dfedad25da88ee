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
  };

  Status() = default;
  static Status OK() { return Status(); }
  static Status NotFound(std::string m) { return Status(Code::kNotFound, std::move(m)); }
  static Status Corruption(std::string m) { return Status(Code::kCorruption, std::move(m)); }
  static Status NotSupported(std::string m) { return Status(Code::kNotSupported, std::move(m)); }
  static Status InvalidArgument(std::string m) { return Status(Code::kInvalidArgument, std::move(m)); }
  static Status IOError(std::string m) { return Status(Code::kIOError, std::move(m)); }
  static Status Constraint(std::string m) { return Status(Code::kConstraint, std::move(m)); }
  static Status Busy(std::string m) { return Status(Code::kBusy, std::move(m)); }
  static Status BadPassword(std::string m) { return Status(Code::kBadPassword, std::move(m)); }

  bool ok() const { return code_ == Code::kOk; }
  Code code() const { return code_; }
  bool IsNotFound() const { return code_ == Code::kNotFound; }
  bool IsCorruption() const { return code_ == Code::kCorruption; }
  bool IsIOError() const { return code_ == Code::kIOError; }
  const std::string& message() const { return msg_; }  // UTF-8
  std::string ToString() const;

 private:
  Status(Code c, std::string m) : code_(c), msg_(std::move(m)) {}
  Code code_ = Code::kOk;
  std::string msg_;
};

#define MDB_RETURN_IF_ERROR(expr)          \
  do {                                     \
    ::mdb::Status _st = (expr);            \
    if (!_st.ok()) return _st;             \
  } while (0)

}  // namespace mdb
